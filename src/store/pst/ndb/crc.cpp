#include "store/pst/ndb/crc.h"

#include <array>

namespace pst::ndb {
namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr auto kCrcTable = MakeCrcTable();

// The substitution of "compressible" encoding: byte b is stored as kPermute[b].
#include "store/pst/ndb/permute_table.inc"

constexpr std::array<std::uint8_t, 256> Invert(const std::array<std::uint8_t, 256>& table) {
    std::array<std::uint8_t, 256> inverse{};
    for (std::size_t i = 0; i < 256; ++i) inverse[table[i]] = static_cast<std::uint8_t>(i);
    return inverse;
}
constexpr auto kUnpermute = Invert(kPermute);

}  // namespace

std::uint32_t ComputeCrc(std::span<const std::uint8_t> data, std::uint32_t crc) {
    for (std::uint8_t b : data) crc = kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc;
}

std::uint16_t ComputeSig(std::uint64_t ib, std::uint64_t bid) {
    ib ^= bid;
    return static_cast<std::uint16_t>((ib >> 16) ^ ib);
}

void EncodeBlockData(CryptMethod method, std::span<std::uint8_t> data) {
    if (method != CryptMethod::Permute) return;
    for (auto& b : data) b = kPermute[b];
}

void DecodeBlockData(CryptMethod method, std::span<std::uint8_t> data) {
    if (method != CryptMethod::Permute) return;
    for (auto& b : data) b = kUnpermute[b];
}

}  // namespace pst::ndb
