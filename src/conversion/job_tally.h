// Counts of what a conversion did, so that a failure is never reported as success.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

class JobTally {
public:
    JobTally() = default;
    JobTally(const JobTally& other);
    JobTally& operator=(const JobTally& other);

    void CountFolder();
    void CountMessage();
    // One failure: what failed (a file, a folder) and why, in a few words.
    void CountFailure(const std::string& what, const std::string& why);

    std::size_t folders() const;
    std::size_t messages() const;
    std::size_t failures() const;
    std::vector<std::string> failure_lines() const;  // "what: why", the first ones only
    // Text added after "conversion process completed" when anything failed; empty otherwise.
    std::string Summary() const;

private:
    static constexpr std::size_t kKeptLines = 20;
    mutable std::mutex mutex_;
    std::size_t folders_ = 0;
    std::size_t messages_ = 0;
    std::size_t failures_ = 0;
    std::vector<std::string> lines_;
};
