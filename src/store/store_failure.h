// Failures of the store layer (the formats we write and the store interface the exporters call),
// by the kinds a user can act on, in words: never a system's or a component's number.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/write_failure.h"

namespace store {

enum class FailureKind {
    kFailed,       // the store refused an operation for no reason the user can act on
    kNotFound,     // a store, a folder or a file that is not there
    kDamaged,      // a store or a message that cannot be read as what it claims to be
    kUnsupported,  // a format or a kind of store we do not write
    kWriteFailed,  // the disk did not take the bytes: write_failure() says why
    kCancelled,    // the user gave up a wait
};

class StoreFailure : public std::runtime_error {
public:
    StoreFailure(FailureKind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
    // A failure to write, whose text names its kind in words already.
    StoreFailure(const std::string& what, platform::WriteFailure write_failure)
        : std::runtime_error(what), kind_(FailureKind::kWriteFailed), write_failure_(write_failure) {}
    FailureKind kind() const { return kind_; }
    platform::WriteFailure write_failure() const { return write_failure_; }

private:
    FailureKind kind_;
    platform::WriteFailure write_failure_ = platform::WriteFailure::kNone;
};

// What went wrong, for summary lines: the failure's own words.
inline std::string DescribeFailure(const std::exception& error) { return error.what(); }

}  // namespace store
