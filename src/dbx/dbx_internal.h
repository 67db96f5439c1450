// Helpers shared by the reader's translation units.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dbx/dbx.h"

namespace dbx_internal {

// Reads exactly size bytes at offset, or nothing: false when the range does not lie inside the
// file or the stream delivers fewer bytes.
bool ReadAt(DbxReader& reader, std::uint64_t offset, void* buffer, std::size_t size);

// True when every read of the reader is a positioned read of a descriptor, which leaves no
// position behind: another reader of the same stream may then read at the same time.
bool ReadsArePositioned(const DbxReader& reader);

// The size bytes at offset inside the reader's read window, valid until the next read; nullptr
// when the range is not inside the file, or is too large for the window (then use ReadAt).
const char* PeekAt(DbxReader& reader, std::uint64_t offset, std::size_t size);

// Replaces the email's message text with the chain of text blocks starting at offset, each
// block once. With claim, a block another record's chain took ends the chain there. Returns
// the text length, or -1 with dbx_errno 7.
std::int32_t AssembleTextChain(DbxReader& reader, DbxEmail& email, std::uint32_t offset, bool claim);

// The text offset of the email record at record_offset as dbx_get would find it (-1 when the
// record has none or is unreadable), without reading the text.
std::int32_t ReadTextOffset(DbxReader& reader, std::uint32_t record_offset);

// Does the text block at offset (a block header naming its own offset, and data) begin with a
// header field name and its colon, as every stored message does?
bool TextBlockBeginsLikeMessage(DbxReader& reader, std::uint32_t offset);

}  // namespace dbx_internal
