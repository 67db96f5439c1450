#include "conversion/job_tally.h"

JobTally::JobTally(const JobTally& other) { *this = other; }

JobTally& JobTally::operator=(const JobTally& other) {
    if (this == &other) return *this;
    std::scoped_lock lock(mutex_, other.mutex_);
    folders_ = other.folders_;
    messages_ = other.messages_;
    failures_ = other.failures_;
    lines_ = other.lines_;
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
    if (lines_.size() < kKeptLines) lines_.push_back(what + ": " + why);
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

std::string JobTally::Summary() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failures_ == 0) return {};
    std::string text = "\n\n" + std::to_string(failures_) + (failures_ == 1 ? " failure" : " failures") + " (" +
                       std::to_string(messages_) + " messages written):";
    for (const auto& line : lines_) text += "\n" + line;
    if (failures_ > lines_.size()) text += "\n... and " + std::to_string(failures_ - lines_.size()) + " more";
    return text;
}
