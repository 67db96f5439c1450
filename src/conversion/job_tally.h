// Counts of what a conversion did, so that a failure is never reported as success.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <utility>
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
    // Messages skipped because identical output or store content already exists.
    void CountAlreadyThere();
    void CountRecovered();
    // A message left out because another folder file wrote it into this destination already.
    void CountDuplicate();
    // Something the user should know that is not a failure.
    void AddNote(const std::string& what, const std::string& text);
    // Every failure (counted and as its lines) and every note of other, after this one's.
    void AddFailuresAndNotesOf(const JobTally& other);

    std::size_t folders() const;
    std::size_t messages() const;
    std::size_t failures() const;
    std::size_t already_there() const;
    std::size_t recovered() const;
    std::size_t duplicates() const;
    // "what: why" of every failure, up to kKeptLines of them (failures() counts them all).
    std::vector<std::string> failure_lines() const;
    std::vector<std::string> note_lines() const;  // "what: text"
    // The same as (what, why) and (what, text) pairs, split where they were joined.
    std::vector<std::pair<std::string, std::string>> failure_entries() const;
    std::vector<std::pair<std::string, std::string>> note_entries() const;
    // Text added after "conversion process completed" when anything failed, was found in the
    // store already, was recovered or is noted; empty otherwise.
    std::string Summary() const;

    // A folder file of ruined records can fail on every slot; past this many the lines would
    // cost more memory than anyone would read.
    static constexpr std::size_t kKeptLines = 100000;

private:
    // The message-box summary stays short enough for a box.
    static constexpr std::size_t kSummaryLines = 20;
    mutable std::mutex mutex_;
    std::size_t folders_ = 0;
    std::size_t messages_ = 0;
    std::size_t failures_ = 0;
    std::size_t already_there_ = 0;
    std::size_t recovered_ = 0;
    std::size_t duplicates_ = 0;
    std::vector<std::string> lines_;
    std::vector<std::string> notes_;
    std::vector<std::size_t> line_splits_, note_splits_;  // where each line's "what" ends
};
