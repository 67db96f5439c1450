// Conversions between the shared message model's property values and their stored bytes.
#pragma once

#include <optional>
#include <string>

#include "store/mapi/property.h"
#include "store/pst/ltp/context.h"

namespace pst::ltp {

Bytes Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(std::span<const std::uint8_t> bytes);

// The stored form of a value under a tag; String8 values are stored as Unicode, so the tag
// written may differ from the one given (returned in stored_tag).
Bytes EncodeValue(mapi::PropTag tag, const mapi::PropValue& value, mapi::PropTag* stored_tag);
// The model's value from stored bytes; nullopt for a type the model does not hold.
std::optional<mapi::PropValue> DecodeValue(mapi::PropTag tag, std::span<const std::uint8_t> bytes);

}  // namespace pst::ltp
