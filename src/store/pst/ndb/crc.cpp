#include "store/pst/ndb/crc.h"

#include <array>
#include <bit>
#include <cstring>

namespace pst::ndb {
namespace {

// Eight tables for slicing by eight bytes at a time; table 0 is the classic one.
constexpr std::array<std::array<std::uint32_t, 256>, 8> MakeCrcTables() {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i)
        for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}
constexpr auto kCrcTables = MakeCrcTables();
static_assert(std::endian::native == std::endian::little, "blocks are read eight bytes at a time as they lie in memory");

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
    const std::uint8_t* p = data.data();
    std::size_t n = data.size();
    for (; n >= 8; n -= 8, p += 8) {
        std::uint32_t low, high;  // the host is little-endian
        std::memcpy(&low, p, 4);
        std::memcpy(&high, p + 4, 4);
        low ^= crc;
        crc = kCrcTables[7][low & 0xFF] ^ kCrcTables[6][(low >> 8) & 0xFF] ^ kCrcTables[5][(low >> 16) & 0xFF] ^
              kCrcTables[4][low >> 24] ^ kCrcTables[3][high & 0xFF] ^ kCrcTables[2][(high >> 8) & 0xFF] ^
              kCrcTables[1][(high >> 16) & 0xFF] ^ kCrcTables[0][high >> 24];
    }
    for (; n > 0; --n, ++p) crc = kCrcTables[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
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

void EncodeBlockDataInto(CryptMethod method, std::span<const std::uint8_t> data, std::span<std::uint8_t> out) {
    if (out.size() < data.size()) throw PstError("block encoding into too small a buffer");
    if (data.empty()) return;
    if (method != CryptMethod::Permute) {
        std::memcpy(out.data(), data.data(), data.size());
        return;
    }
    const std::uint8_t* in = data.data();
    std::uint8_t* to = out.data();
    std::size_t n = data.size();
    // Eight lookups per step: every block of every message goes through here on the writer.
    for (; n >= 8; n -= 8, in += 8, to += 8) {
        to[0] = kPermute[in[0]];
        to[1] = kPermute[in[1]];
        to[2] = kPermute[in[2]];
        to[3] = kPermute[in[3]];
        to[4] = kPermute[in[4]];
        to[5] = kPermute[in[5]];
        to[6] = kPermute[in[6]];
        to[7] = kPermute[in[7]];
    }
    for (; n > 0; --n) *to++ = kPermute[*in++];
}

void DecodeBlockData(CryptMethod method, std::span<std::uint8_t> data) {
    if (method != CryptMethod::Permute) return;
    for (auto& b : data) b = kUnpermute[b];
}

}  // namespace pst::ndb
