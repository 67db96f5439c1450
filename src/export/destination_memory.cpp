#include "export/destination_memory.h"

#include <filesystem>
#include <system_error>

#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/random_access_file.h"

namespace {

// A few dozen bytes per entry; a larger file is not ours.
constexpr std::uint64_t kMaxFileSize = 4ull << 30;

}  // namespace

bool IsSha256Text(const std::string& text) {
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

std::vector<std::pair<std::string, std::string>> ReadDestinationMemory(const std::string& path,
                                                                       const std::string& first_line,
                                                                       std::size_t max_entries) {
    std::vector<std::pair<std::string, std::string>> entries;
    platform::RandomAccessFile file;
    std::uint64_t size = 0;
    if (file.Open(path, platform::RandomAccessFile::Access::kRead) != 0 || file.Size(size) != 0 || size > kMaxFileSize)
        return entries;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    const std::int64_t got = file.ReadAt(bytes.data(), bytes.size(), 0);
    if (got < 0) return entries;
    bytes.resize(static_cast<std::size_t>(got));
    std::size_t at = 0;
    bool first = true;
    while (at < bytes.size() && entries.size() < max_entries) {
        std::size_t end = bytes.find('\n', at);
        if (end == std::string::npos) end = bytes.size();
        const std::string line = bytes.substr(at, end - at);
        at = end + 1;
        if (first) {
            if (line != first_line) return entries;
            first = false;
            continue;
        }
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos) entries.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    }
    return entries;
}

std::string SaveDestinationMemory(const std::string& path, const std::string& first_line,
                                  const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string text = first_line + "\n";
    for (const auto& [key, value] : entries) text += key + "\t" + value + "\n";
    const std::string pending = path + ".new";
    if (const int error = platform::WriteWholeFile(pending, text, platform::OutputMode::kReplace, true); error != 0)
        return platform::ErrorText(error);
    std::error_code ec;
    std::filesystem::rename(pending, path, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(pending, ignored);
        return ec.message();
    }
    return {};
}
