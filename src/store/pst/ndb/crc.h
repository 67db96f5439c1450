// The checksum, signature and byte encodings the node database puts on pages and blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "store/pst/ndb/format.h"

namespace pst::ndb {

// CRC-32 (reflected polynomial 0xEDB88320) started at crc and without a final inversion,
// as the header, page and block trailers carry it.
std::uint32_t ComputeCrc(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

// The 16-bit signature of a block or B-tree page from its file offset and BID.
std::uint16_t ComputeSig(std::uint64_t ib, std::uint64_t bid);

// Encodes or decodes the data of an external block in place by the store's method.
void EncodeBlockData(CryptMethod method, std::span<std::uint8_t> data);
void DecodeBlockData(CryptMethod method, std::span<std::uint8_t> data);
// The same encoding from data into out (out.size() >= data.size()), in one pass.
void EncodeBlockDataInto(CryptMethod method, std::span<const std::uint8_t> data, std::span<std::uint8_t> out);

}  // namespace pst::ndb
