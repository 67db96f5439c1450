#include "imap/upload_message.h"

#include <glib.h>

#include <cctype>
#include <cstdio>

namespace imap {

std::vector<std::string> ImapFlags(const MessageFlags& flags, bool keywords_allowed) {
    std::vector<std::string> list;
    if (flags.read) list.emplace_back("\\Seen");
    if (flags.flagged) list.emplace_back("\\Flagged");
    if (flags.replied) list.emplace_back("\\Answered");
    if (flags.draft) list.emplace_back("\\Draft");
    if (flags.forwarded && keywords_allowed) list.emplace_back("$Forwarded");
    return list;
}

std::string WithImapLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

namespace {

constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;
constexpr std::uint64_t kTicksPerSecond = 10000000ULL;
constexpr std::int64_t kFirstSecondOf10000 = 253402300800LL;

// The civil date of a day count since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(std::int64_t days, int& year, unsigned& month, unsigned& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned shifted_month = (5 * day_of_year + 2) / 153;
    day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    year = static_cast<int>(static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0));
}

bool HeaderNameIs(std::string_view line, std::string_view name) {
    if (line.size() <= name.size() || line[name.size()] != ':') return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != std::tolower(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

std::optional<InternalDate> InternalDateOf(std::uint64_t filetime) {
    if (filetime < kUnixEpochTicks) return std::nullopt;
    const auto seconds = static_cast<std::int64_t>((filetime - kUnixEpochTicks) / kTicksPerSecond);
    if (seconds >= kFirstSecondOf10000) return std::nullopt;
    InternalDate date;
    unsigned month = 0, day = 0;
    CivilFromDays(seconds / 86400, date.year, month, day);
    date.month = static_cast<int>(month);
    date.day = static_cast<int>(day);
    const auto in_day = static_cast<int>(seconds % 86400);
    date.hour = in_day / 3600;
    date.minute = in_day / 60 % 60;
    date.second = in_day % 60;
    return date;
}

std::string InternalDateText(const InternalDate& date) {
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[40];
    std::snprintf(text, sizeof text, "%02d-%s-%04d %02d:%02d:%02d +0000", date.day,
                  kMonths[static_cast<unsigned>(date.month - 1) % 12], date.year, date.hour, date.minute, date.second);
    return text;
}

std::string MessageIdOf(std::string_view message) {
    std::size_t at = 0;
    while (at < message.size()) {
        std::size_t end = message.find('\n', at);
        if (end == std::string_view::npos) end = message.size();
        std::string_view line = message.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;  // the end of the header block
        if (HeaderNameIs(line, "Message-ID")) {
            std::string value(line.substr(11));
            // Folded onto the lines that follow, each beginning with a blank.
            for (std::size_t next = end + 1; next < message.size() && (message[next] == ' ' || message[next] == '\t');) {
                std::size_t next_end = message.find('\n', next);
                if (next_end == std::string_view::npos) next_end = message.size();
                value += message.substr(next, next_end - next);
                next = next_end + 1;
            }
            std::string id(Trimmed(value));
            // A line end inside the value would break the journal's and the search's one-line records.
            for (char& c : id)
                if (c == '\r' || c == '\n' || c == '\t') c = ' ';
            return id;
        }
        at = end + 1;
    }
    return {};
}

std::string MessageDigest(std::string_view bytes) {
    // GLib's SHA-256 (GLib is there wherever GMime is, on every system we build for), as
    // lower-case hex.
    gchar* hex = g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string text = hex != nullptr ? hex : "";
    g_free(hex);
    return text;
}

}  // namespace imap
