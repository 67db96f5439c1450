#include "export/source_digests.h"

#include <exception>
#include <system_error>

namespace {

std::string ReadDigest(const std::string& path) {
    try {
        return FileSha256Hex(path);
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

DigestFeed::DigestFeed(std::string path, std::promise<std::string> promise)
    : path_(std::move(path)), promise_(std::move(promise)) {}

DigestFeed::~DigestFeed() { Finish(false); }

void DigestFeed::Update(const char* data, std::size_t size) {
    hash_.Update(data, size);
    fed_ += size;
}

void DigestFeed::Finish(bool whole) {
    if (finished_) return;
    finished_ = true;
    promise_.set_value(whole ? hash_.Hex() : ReadDigest(path_));
}

std::shared_future<std::string> SourceDigests::Of(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    Entry& entry = entries_[path];
    if (entry.digest.valid()) return entry.digest;
    try {
        entry.digest = std::async(std::launch::async, ReadDigest, path).share();
    } catch (const std::system_error&) {
        // No thread to be had: read here.
        std::promise<std::string> read;
        read.set_value(ReadDigest(path));
        entry.digest = read.get_future().share();
    }
    return entry.digest;
}

std::string SourceDigests::Now(const std::string& path) {
    Settle(path);
    return Of(path).get();
}

void SourceDigests::Expect(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    Entry& entry = entries_[path];
    if (entry.digest.valid()) return;
    entry.digest = entry.expected.get_future().share();
    entry.awaits_feed = true;
}

std::unique_ptr<DigestFeed> SourceDigests::TakeFeed(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = entries_.find(path);
    if (found == entries_.end() || !found->second.awaits_feed) return nullptr;
    found->second.awaits_feed = false;
    return std::unique_ptr<DigestFeed>(new DigestFeed(path, std::move(found->second.expected)));
}

void SourceDigests::Settle(const std::string& path) {
    std::promise<std::string> unfed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = entries_.find(path);
        if (found == entries_.end() || !found->second.awaits_feed) return;
        found->second.awaits_feed = false;
        unfed = std::move(found->second.expected);
    }
    unfed.set_value(ReadDigest(path));
}
