// The SHA-256 of each folder file a job converts, computed once for everything that asks for it:
// the destination's memory of folders and of written messages, and the manifest. Reading a large
// folder file whole costs about as much as converting it, so it is done once, on a thread of its
// own; in a recover run the scan, which reads the file whole and in order anyway, hands its bytes
// over instead of a second read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "export/content_digest.h"

class SourceDigests;

// The hash of one file fed in order by a reader of the job. Finish(true) when every byte was fed;
// otherwise (or when it is dropped unfinished) the file is read again by its path, so that no one
// waiting for the digest waits for ever or gets the digest of a part.
class DigestFeed {
public:
    ~DigestFeed();
    DigestFeed(const DigestFeed&) = delete;
    DigestFeed& operator=(const DigestFeed&) = delete;

    void Update(const char* data, std::size_t size);
    std::uint64_t fed() const { return fed_; }
    void Finish(bool whole);

private:
    friend class SourceDigests;
    DigestFeed(std::string path, std::promise<std::string> promise);
    std::string path_;
    std::promise<std::string> promise_;
    Sha256Stream hash_;
    std::uint64_t fed_ = 0;
    bool finished_ = false;
};

class SourceDigests {
public:
    // The digest of path, begun on a thread of its own unless it is known, begun or expected.
    // Empty when the file cannot be read.
    std::shared_future<std::string> Of(const std::string& path);
    // The same, waited for; one that was expected but never fed is read here.
    std::string Now(const std::string& path);

    // The digest of path will come from a reader of this job (TakeFeed) rather than a read of its
    // own. Nothing for a path already asked for.
    void Expect(const std::string& path);
    // The feed of an expected digest, once; nullptr otherwise.
    std::unique_ptr<DigestFeed> TakeFeed(const std::string& path);
    // An expected digest nobody took the feed of is read now: nothing may wait for it for ever.
    void Settle(const std::string& path);

private:
    struct Entry {
        std::shared_future<std::string> digest;
        std::promise<std::string> expected;  // while the digest waits for a feed
        bool awaits_feed = false;
    };
    std::mutex mutex_;
    std::map<std::string, Entry> entries_;
};
