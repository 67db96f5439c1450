// Failures of the messaging store component: an exception carrying a negative HRESULT.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "platform/write_failure.h"

namespace store {

constexpr std::int32_t kE_POINTER = static_cast<std::int32_t>(0x80004003);
constexpr std::int32_t kE_FAIL = static_cast<std::int32_t>(0x80004005);
constexpr std::int32_t kE_INVALIDARG = static_cast<std::int32_t>(0x80070057);
constexpr std::int32_t kE_NOTIMPL = static_cast<std::int32_t>(0x80004001);
constexpr std::int32_t kE_ACCESSDENIED = static_cast<std::int32_t>(0x80070005);
constexpr std::int32_t kE_OUTOFMEMORY = static_cast<std::int32_t>(0x8007000E);
constexpr std::int32_t kSTG_E_WRITEFAULT = static_cast<std::int32_t>(0x8003001D);
constexpr std::int32_t kSTG_E_MEDIUMFULL = static_cast<std::int32_t>(0x80030070);
constexpr std::int32_t kMAPI_E_NOT_FOUND = static_cast<std::int32_t>(0x8004010F);
constexpr std::int32_t kMAPI_E_CORRUPT_DATA = static_cast<std::int32_t>(0x8004011B);
constexpr std::int32_t kMAPI_E_NOT_ENOUGH_DISK = static_cast<std::int32_t>(0x8004010D);
constexpr std::int32_t kMAPI_E_DISK_ERROR = static_cast<std::int32_t>(0x80040116);
constexpr std::int32_t kMAPI_E_NO_SUPPORT = static_cast<std::int32_t>(0x80040102);
constexpr std::int32_t kMAPI_E_USER_CANCEL = static_cast<std::int32_t>(0x80040501);
constexpr std::int32_t kREGDB_E_CLASSNOTREG = static_cast<std::int32_t>(0x80040154);
constexpr std::int32_t kCO_E_CLASSSTRING = static_cast<std::int32_t>(0x800401F3);

class ComError : public std::runtime_error {
public:
    // write_failure: the kind of a failure to write (the disk full, ...), which the text names.
    ComError(std::int32_t hresult, const std::string& what,
             platform::WriteFailure write_failure = platform::WriteFailure::kNone)
        : std::runtime_error(what), hresult_(hresult), write_failure_(write_failure) {}
    std::int32_t hresult() const { return hresult_; }
    platform::WriteFailure write_failure() const { return write_failure_; }

private:
    std::int32_t hresult_;
    platform::WriteFailure write_failure_;
};

// What went wrong, for failure summaries: the message, and the HRESULT where there is one and
// the text does not say it in words already (a failure to write does).
inline std::string DescribeFailure(const std::exception& error) {
    if (const auto* com = dynamic_cast<const ComError*>(&error); com && com->write_failure() == platform::WriteFailure::kNone) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(com->hresult()));
        return std::string(error.what()) + " (" + code + ")";
    }
    return error.what();
}

}  // namespace store
