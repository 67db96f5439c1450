#include "conversion/job_tally.h"

#include <algorithm>

JobTally::JobTally(const JobTally& other) { *this = other; }

JobTally& JobTally::operator=(const JobTally& other) {
    if (this == &other) return *this;
    std::scoped_lock lock(mutex_, other.mutex_);
    folders_ = other.folders_;
    messages_ = other.messages_;
    failures_ = other.failures_;
    already_there_ = other.already_there_;
    recovered_ = other.recovered_;
    duplicates_ = other.duplicates_;
    lines_ = other.lines_;
    notes_ = other.notes_;
    line_splits_ = other.line_splits_;
    note_splits_ = other.note_splits_;
    return *this;
}

void JobTally::CountFolder() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++folders_;
}

void JobTally::CountMessage() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++messages_;
}

void JobTally::CountFailure(const std::string& what, const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++failures_;
    if (lines_.size() < kKeptLines) {
        lines_.push_back(what + ": " + why);
        line_splits_.push_back(what.size());
    }
}

void JobTally::CountAlreadyThere() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++already_there_;
}

void JobTally::CountDuplicate() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++duplicates_;
}

std::size_t JobTally::duplicates() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return duplicates_;
}

void JobTally::CountRecovered() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++recovered_;
}

void JobTally::AddNote(const std::string& what, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (notes_.size() < kKeptLines) {
        notes_.push_back(what + ": " + text);
        note_splits_.push_back(what.size());
    }
}

void JobTally::AddFailuresAndNotesOf(const JobTally& other) {
    if (this == &other) return;
    std::scoped_lock lock(mutex_, other.mutex_);
    failures_ += other.failures_;
    for (const std::string& line : other.lines_)
        if (lines_.size() < kKeptLines) lines_.push_back(line);
    for (const std::string& note : other.notes_)
        if (notes_.size() < kKeptLines) notes_.push_back(note);
}

std::size_t JobTally::already_there() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return already_there_;
}

std::size_t JobTally::recovered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return recovered_;
}

std::vector<std::string> JobTally::note_lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return notes_;
}

std::size_t JobTally::folders() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return folders_;
}

std::size_t JobTally::messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

std::size_t JobTally::failures() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failures_;
}

std::vector<std::string> JobTally::failure_lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

namespace {

std::vector<std::pair<std::string, std::string>> Split(const std::vector<std::string>& lines,
                                                       const std::vector<std::size_t>& splits) {
    std::vector<std::pair<std::string, std::string>> entries;
    entries.reserve(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        entries.emplace_back(lines[i].substr(0, splits[i]), lines[i].substr(splits[i] + 2));
    return entries;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> JobTally::failure_entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return Split(lines_, line_splits_);
}

std::vector<std::pair<std::string, std::string>> JobTally::note_entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return Split(notes_, note_splits_);
}

std::string JobTally::Summary() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    if (already_there_ != 0)
        text += "\n\n" + std::to_string(already_there_) + (already_there_ == 1 ? " message" : " messages") +
                " already in the store or the destination, not written again.";
    if (duplicates_ != 0)
        text += "\n\n" + std::to_string(duplicates_) + (duplicates_ == 1 ? " message" : " messages") +
                " left out: another folder file wrote " + (duplicates_ == 1 ? "it" : "them") + " into the destination already.";
    if (recovered_ != 0)
        text += "\n\n" + std::to_string(recovered_) + " of the messages written " + (recovered_ == 1 ? "was" : "were") +
                " recovered (deleted, or beyond a damaged index), apart from the others.";
    if (failures_ != 0) {
        text += "\n\n" + std::to_string(failures_) + (failures_ == 1 ? " failure" : " failures") + " (" +
                std::to_string(messages_) + " messages written):";
        const std::size_t shown = std::min(lines_.size(), kSummaryLines);
        for (std::size_t i = 0; i < shown; ++i) text += "\n" + lines_[i];
        if (failures_ > shown) text += "\n... and " + std::to_string(failures_ - shown) + " more";
    }
    if (!notes_.empty()) {
        text += "\n\nNotes:";
        const std::size_t shown = std::min(notes_.size(), kSummaryLines);
        for (std::size_t i = 0; i < shown; ++i) text += "\n" + notes_[i];
        if (notes_.size() > shown) text += "\n... and " + std::to_string(notes_.size() - shown) + " more";
    }
    return text;
}
