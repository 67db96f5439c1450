#include "export/written_messages.h"

#include <algorithm>

#include "dbx/dbx_scan.h"
#include "export/content_digest.h"
#include "export/destination_memory.h"
#include "imap/upload_message.h"
#include "platform/paths.h"

namespace {

constexpr const char* kFirstLine = "ombrik written messages 1";

}  // namespace

WrittenMessages::WrittenMessages(std::string destination_path) : destination_path_(std::move(destination_path)) {
    Digits key{};
    Digits source{};
    for (const auto& [key_text, source_text] :
         ReadDestinationMemory(platform::JoinPath(destination_path_, kFileName), kFirstLine, kMaxEntries))
        if (ToDigits(key_text, key) && ToDigits(source_text, source)) written_.emplace(key, SourceIndex(source));
}

bool WrittenMessages::ToDigits(std::string_view text, Digits& digits) {
    if (!IsSha256Text(text)) return false;
    std::copy(text.begin(), text.end(), digits.begin());
    return true;
}

std::uint32_t WrittenMessages::SourceIndex(const Digits& source) {
    // A run reads a handful of sources: a walk is quicker than a second map.
    for (std::size_t i = sources_.size(); i > 0; --i)
        if (sources_[i - 1] == source) return static_cast<std::uint32_t>(i - 1);
    sources_.push_back(source);
    return static_cast<std::uint32_t>(sources_.size() - 1);
}

std::string WrittenMessages::KeyOf(std::string_view text) {
    const std::string id = imap::MessageIdOf(text);
    if (id.empty()) return Sha256Hex("content\n", text);
    // The header readers stop at the blank line that ends the header: the body is never looked at.
    const DbxText date = dbx_header_value(text, "Date");
    const DbxText subject = dbx_header_value(text, "Subject");
    // Each part's length first, so that no two different triples give one text.
    const std::string_view parts[] = {id, date ? std::string_view(*date) : std::string_view(),
                                      subject ? std::string_view(*subject) : std::string_view()};
    std::string identity = "id\n";
    constexpr std::size_t kLengthAndSeparators = 22;  // at most 20 digits, ':' and '\n'
    identity.reserve(identity.size() + parts[0].size() + parts[1].size() + parts[2].size() + 3 * kLengthAndSeparators);
    for (const std::string_view part : parts) {
        identity += std::to_string(part.size());
        identity += ':';
        identity += part;
        identity += '\n';
    }
    return Sha256Hex(identity);
}

std::string WrittenMessages::SourceDigest(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = source_digests_.find(path);
    if (found != source_digests_.end()) return found->second;
    return source_digests_[path] = FileSha256Hex(path);
}

bool WrittenMessages::WrittenByAnother(const std::string& key, const std::string& source_digest) const {
    Digits digits{};
    if (!ToDigits(key, digits)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = written_.find(digits);
    return found != written_.end() &&
           std::string_view(sources_[found->second].data(), sources_[found->second].size()) != source_digest;
}

void WrittenMessages::Remember(const std::string& key, const std::string& source_digest) {
    Digits digits{};
    Digits source{};
    if (!ToDigits(key, digits) || !ToDigits(source_digest, source)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (written_.emplace(digits, SourceIndex(source)).second) changed_ = true;
}

std::string WrittenMessages::Save() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!changed_) return {};
    DestinationMemoryWriter writer(platform::JoinPath(destination_path_, kFileName), kFirstLine);
    for (const auto& [key, source] : written_)
        writer.Add(std::string_view(key.data(), key.size()), std::string_view(sources_[source].data(), sources_[source].size()));
    const std::string failure = writer.Finish();
    if (failure.empty()) changed_ = false;
    return failure;
}
