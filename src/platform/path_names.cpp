// Names made from names, the same on every system: paths joined and split by the system's
// separators, names cut to a byte limit without splitting a character, and made beside another
// within what a file system takes.
#include "platform/paths.h"

#include <cstdint>
#include <cstdio>

namespace platform {

std::string JoinPath(const std::string& left, const std::string& right) {
    std::string joined;
    joined.reserve(left.size() + 1 + right.size());
    joined += left;
    joined += kPathSeparator;
    joined += right;
    return joined;
}

std::string LastPathComponent(const std::string& path) {
    const auto separator = path.find_last_of(kPathSeparators);
    return separator == std::string::npos ? std::string() : path.substr(separator + 1);
}

std::string CutToBytes(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

std::string NameBeside(const std::string& path, const std::string& suffix) {
    const std::size_t slash = path.find_last_of(kPathSeparators);
    const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
    const std::string name = path.substr(name_at);
    if (name.size() + suffix.size() <= kNameLimit) return path + suffix;
    // FNV-1a: stable from run to run, so that two runs meet at one name.
    std::uint64_t hash = 14695981039346656037ULL;
    for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ULL;
    char tag[18];
    std::snprintf(tag, sizeof tag, "~%016llx", static_cast<unsigned long long>(hash));
    return path.substr(0, name_at) + CutToBytes(name, kNameLimit - suffix.size() - 17) + tag + suffix;
}

}  // namespace platform
