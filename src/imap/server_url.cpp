#include "imap/server_url.h"

#include <algorithm>
#include <cctype>

namespace imap {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %XX escapes decoded; false for a broken escape or an escaped control character.
bool PercentDecode(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return false;
        const char c = static_cast<char>(high * 16 + low);
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
        out += c;
        i += 2;
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

bool ValidHostName(std::string_view host) {
    if (host.empty() || host.size() > 253) return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
    });
}

bool ParsePort(std::string_view text, unsigned& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    port = value;
    return true;
}

}  // namespace

bool ParseServerUrl(std::string_view url, MailServerSettings& settings, std::string& error) {
    const auto fail = [&](const std::string& why) {
        error = "the server address " + std::string(url) + " " + why;
        return false;
    };
    std::string_view rest;
    if (StartsWithNoCase(url, "imaps://")) {
        settings.security = MailServerSecurity::kImplicitTls;
        rest = url.substr(8);
    } else if (StartsWithNoCase(url, "imap://")) {
        settings.security = MailServerSecurity::kStartTls;
        rest = url.substr(7);
    } else {
        return fail("must begin with imaps:// (TLS) or imap:// (STARTTLS)");
    }
    if (rest.find_first_of("?#") != std::string_view::npos) return fail("holds a query or fragment (? or #)");
    const std::size_t slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    const std::string_view path = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);

    const std::size_t at = authority.rfind('@');
    if (at == std::string_view::npos || at == 0) return fail("names no user (imaps://USER@HOST)");
    const std::string_view user = authority.substr(0, at);
    if (user.find(':') != std::string_view::npos)
        return fail("holds a password; give it with --imap-password-file, the OMBRIK_IMAP_PASSWORD variable or at the prompt");
    if (!PercentDecode(user, settings.user)) return fail("has a broken %-escape in the user name");

    std::string_view host_port = authority.substr(at + 1);
    std::string_view port_text;
    bool has_port = false;
    if (!host_port.empty() && host_port.front() == '[') {
        const std::size_t close = host_port.find(']');
        if (close == std::string_view::npos) return fail("has an unclosed [ in the host");
        settings.host = std::string(host_port.substr(1, close - 1));
        const std::string_view after = host_port.substr(close + 1);
        if (!after.empty() && after.front() != ':') return fail("has text after the host's ]");
        has_port = !after.empty();
        if (has_port) port_text = after.substr(1);
        const bool hex_colons = !settings.host.empty() && std::all_of(settings.host.begin(), settings.host.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
        });
        if (!hex_colons) return fail("has an IPv6 host that is not one");
    } else {
        const std::size_t colon = host_port.find(':');
        settings.host = std::string(host_port.substr(0, colon));
        has_port = colon != std::string_view::npos;
        if (has_port) port_text = host_port.substr(colon + 1);
        if (!ValidHostName(settings.host)) return fail("names no valid host");
    }
    settings.port = 0;
    if (has_port && !ParsePort(port_text, settings.port))
        return fail("has a port that is not a number from 1 to 65535");

    settings.folder_prefix.clear();
    std::size_t begin = 0;
    while (begin <= path.size()) {
        const std::size_t end = std::min(path.find('/', begin), path.size());
        std::string level;
        if (!PercentDecode(path.substr(begin, end - begin), level)) return fail("has a broken %-escape in the folder");
        if (!level.empty()) settings.folder_prefix.push_back(level);
        begin = end + 1;
    }
    return true;
}

unsigned EffectivePort(const MailServerSettings& settings) {
    if (settings.port != 0) return settings.port;
    return settings.security == MailServerSecurity::kImplicitTls ? kImapsPort : kImapPort;
}

std::string AccountText(const MailServerSettings& settings) {
    const bool ipv6 = settings.host.find(':') != std::string::npos;
    return std::string(settings.security == MailServerSecurity::kImplicitTls ? "imaps://" : "imap://") + settings.user +
           "@" + (ipv6 ? "[" + settings.host + "]" : settings.host) + ":" + std::to_string(EffectivePort(settings));
}

}  // namespace imap
