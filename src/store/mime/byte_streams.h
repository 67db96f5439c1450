// GMime streams over bytes the caller owns, so that a message of hundreds of megabytes is
// neither copied into GMime's own buffer to be parsed nor decoded into one only to be copied
// again into the message model.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <gmime/gmime.h>

namespace mime {

// A seekable stream that reads bytes without copying them. The parser keeps parts as
// substreams of it: bytes must outlive the stream and every object made from it.
GMimeStream* NewBorrowedStream(std::string_view bytes);

// A stream that appends what is written to it to out (which must outlive it); reads fail.
GMimeStream* NewAppendStream(std::string& out);
GMimeStream* NewAppendStream(std::vector<std::uint8_t>& out);

}  // namespace mime
