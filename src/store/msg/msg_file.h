// Unicode MSG files: a message model laid out as storages and streams of a compound file.
#pragma once

#include <string>

#include "store/cfb/compound_file.h"
#include "store/mapi/message.h"

namespace msg {

// Fills root with the message: its property stream, property value streams, the named
// property map, one storage per recipient and per attachment, embedded messages as sub-storages.
// Throws std::invalid_argument for a model the format cannot hold. Binary values are borrowed,
// not copied: message must outlive root.
void BuildMsgStorage(const mapi::Message& message, cfb::Storage& root);

// The bytes of the message's Unicode MSG file; throws cfb::WriteError or std::invalid_argument.
std::string MsgFileBytes(const mapi::Message& message);
// Writes the message to path as a Unicode MSG file; throws cfb::WriteError or
// std::invalid_argument, leaving no partial file behind.
void WriteMsgFile(const mapi::Message& message, const std::string& path);

// UTF-8 to UTF-16; a byte that is not part of a valid sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);

}  // namespace msg
