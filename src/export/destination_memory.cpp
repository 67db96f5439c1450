#include "export/destination_memory.h"

#include "platform/paths.h"
#include "platform/random_access_file.h"

namespace {

// A few dozen bytes per entry; a larger file is not ours.
constexpr std::uint64_t kMaxFileSize = 4ull << 30;

}  // namespace

bool IsSha256Text(std::string_view text) {
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

std::vector<std::pair<std::string, std::string>> ReadDestinationMemory(const std::string& path,
                                                                       const std::string& first_line,
                                                                       std::size_t max_entries, bool* damaged) {
    std::vector<std::pair<std::string, std::string>> entries;
    bool unused = false;
    bool& is_damaged = damaged != nullptr ? *damaged : unused;
    is_damaged = false;
    platform::RandomAccessFile file;
    std::uint64_t size = 0;
    if (file.Open(path, platform::RandomAccessFile::Access::kRead) != 0) return entries;
    is_damaged = true;
    if (file.Size(size) != 0 || size > kMaxFileSize) return entries;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    const std::int64_t got = file.ReadAt(bytes.data(), bytes.size(), 0);
    if (got < 0 || static_cast<std::uint64_t>(got) != size) return entries;
    // Written whole or not at all: a file that does not end its last line was cut short.
    if (bytes.empty() || bytes.back() != '\n') return entries;
    std::size_t at = 0;
    bool first = true;
    while (at < bytes.size() && entries.size() < max_entries) {
        const std::size_t end = bytes.find('\n', at);
        const std::string line = bytes.substr(at, end - at);
        at = end + 1;
        if (first) {
            if (line != first_line) return entries;
            first = false;
            continue;
        }
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos) {
            entries.clear();
            return entries;
        }
        entries.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    }
    is_damaged = false;
    return entries;
}

namespace {

// Lines are handed to the file in pieces of about this size.
constexpr std::size_t kFlushBytes = 64u << 10;

}  // namespace

DestinationMemoryWriter::DestinationMemoryWriter(const std::string& path, const std::string& first_line)
    : name_(platform::LastPathComponent(path)) {
    std::size_t folder_end = path.size() - name_.size();
    while (folder_end > 1 && platform::kPathSeparators.find(path[folder_end - 1]) != std::string_view::npos) --folder_end;
    const std::string folder_path = folder_end == 0 ? std::string(".") : path.substr(0, folder_end);
    failure_ = folder_.Open(folder_path);
    if (failure_ == platform::WriteFailure::kNone) failure_ = file_.Begin(folder_, name_);
    buffer_.reserve(kFlushBytes + 4096);
    buffer_.append(first_line).push_back('\n');
}

void DestinationMemoryWriter::Add(std::string_view key, std::string_view value) {
    buffer_.append(key).append(1, '\t').append(value).push_back('\n');
    if (buffer_.size() >= kFlushBytes) Flush();
}

void DestinationMemoryWriter::Flush() {
    if (failure_ == platform::WriteFailure::kNone && !buffer_.empty()) failure_ = file_.device().Write(buffer_);
    buffer_.clear();
}

std::string DestinationMemoryWriter::Finish() {
    Flush();
    // On the disk before it takes the name: a crash after the rename must not leave it empty.
    if (failure_ == platform::WriteFailure::kNone) failure_ = file_.device().Sync();
    if (failure_ == platform::WriteFailure::kNone) failure_ = file_.PlaceReplacingFile(name_);
    if (failure_ == platform::WriteFailure::kNone) failure_ = file_.Finish();
    return failure_ == platform::WriteFailure::kNone ? std::string() : platform::WriteFailureWords(failure_);
}

std::string SaveDestinationMemory(const std::string& path, const std::string& first_line,
                                  const std::vector<std::pair<std::string, std::string>>& entries) {
    DestinationMemoryWriter writer(path, first_line);
    for (const auto& [key, value] : entries) writer.Add(key, value);
    return writer.Finish();
}
