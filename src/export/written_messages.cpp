#include "export/written_messages.h"

#include "dbx/dbx_scan.h"
#include "export/content_digest.h"
#include "export/destination_memory.h"
#include "imap/upload_message.h"
#include "platform/paths.h"

namespace {

constexpr const char* kFirstLine = "ombrik written messages 1";

}  // namespace

WrittenMessages::WrittenMessages(std::string destination_path) : destination_path_(std::move(destination_path)) {
    for (auto& [key, source] :
         ReadDestinationMemory(platform::JoinPath(destination_path_, kFileName), kFirstLine, kMaxEntries))
        if (IsSha256Text(key) && IsSha256Text(source)) written_.emplace(std::move(key), std::move(source));
}

std::string WrittenMessages::KeyOf(std::string_view text) {
    const std::string whole(text);
    const std::string id = imap::MessageIdOf(whole);
    if (id.empty()) return Sha256Hex("content\n" + whole);
    const DbxText date = dbx_header_value(whole, "Date");
    const DbxText subject = dbx_header_value(whole, "Subject");
    // Each part's length first, so that no two different triples give one text.
    std::string identity = "id\n";
    for (const std::string& part : {id, date.value_or(""), subject.value_or("")})
        identity += std::to_string(part.size()) + ":" + part + "\n";
    return Sha256Hex(identity);
}

std::string WrittenMessages::SourceDigest(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = source_digests_.find(path);
    if (found != source_digests_.end()) return found->second;
    return source_digests_[path] = FileSha256Hex(path);
}

bool WrittenMessages::WrittenByAnother(const std::string& key, const std::string& source_digest) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = written_.find(key);
    return found != written_.end() && found->second != source_digest;
}

void WrittenMessages::Remember(const std::string& key, const std::string& source_digest) {
    if (!IsSha256Text(source_digest)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (written_.emplace(key, source_digest).second) changed_ = true;
}

std::string WrittenMessages::Save() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!changed_) return {};
    DestinationMemoryWriter writer(platform::JoinPath(destination_path_, kFileName), kFirstLine);
    for (const auto& [key, source_digest] : written_) writer.Add(key, source_digest);
    const std::string failure = writer.Finish();
    if (failure.empty()) changed_ = false;
    return failure;
}
