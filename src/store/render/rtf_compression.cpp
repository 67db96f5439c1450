// The compressed RTF of PR_RTF_COMPRESSED: a 16-byte header, then runs of one control byte and
// up to eight tokens, each a literal byte or a 2-byte reference into a 4096-byte ring that starts
// out holding a fixed RTF preamble.
#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "store/render/render.h"

namespace render {
namespace {

constexpr char kPreamble[] =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern \\fscript "
    "\\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0\\blue0\r\n\\par "
    "\\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
constexpr std::size_t kPreambleSize = sizeof kPreamble - 1;
static_assert(kPreambleSize == 207);
constexpr std::size_t kRing = 4096;
constexpr std::uint32_t kCompressed = 0x75465A4C;    // "LZFu"
constexpr std::uint32_t kUncompressed = 0x414C454D;  // "MELA"
constexpr std::size_t kMaxMatch = 17;
constexpr std::size_t kHeaderSize = 16;

// Compressed RTF header
struct CompressedRtfHeader {
    std::uint32_t comp_size;  // bytes after this field
    std::uint32_t raw_size;
    std::uint32_t comp_type;
    std::uint32_t crc;
};
static_assert(sizeof(CompressedRtfHeader) == kHeaderSize);

std::uint32_t Crc(const std::uint8_t* data, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

void PutU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t GetU32(const std::vector<std::uint8_t>& in, std::size_t at) {
    return std::uint32_t(in[at]) | std::uint32_t(in[at + 1]) << 8 | std::uint32_t(in[at + 2]) << 16 |
           std::uint32_t(in[at + 3]) << 24;
}

}  // namespace

std::vector<std::uint8_t> CompressRtf(const std::string& rtf) {
    if (rtf.size() > 0x7FFFFFF0u) throw std::invalid_argument("RTF too large to compress");
    std::array<std::uint8_t, kRing> ring{};
    std::memcpy(ring.data(), kPreamble, kPreambleSize);
    std::size_t write = kPreambleSize;   // ring position of the next byte
    std::size_t filled = kPreambleSize;  // ring bytes holding known data (until it wraps)
    // The most recent ring positions of each byte value, to find match starts quickly.
    std::array<std::array<std::uint16_t, 32>, 256> recent{};
    std::array<std::uint8_t, 256> recent_count{};
    auto remember = [&](std::size_t pos) {
        std::uint8_t b = ring[pos];
        auto& list = recent[b];
        std::uint8_t& count = recent_count[b];
        if (count < list.size()) ++count;
        for (std::size_t k = count - 1; k > 0; --k) list[k] = list[k - 1];
        list[0] = static_cast<std::uint16_t>(pos);
    };
    for (std::size_t p = 0; p < kPreambleSize; ++p) remember(p);

    std::vector<std::uint8_t> out(kHeaderSize, 0);
    const auto* input = reinterpret_cast<const std::uint8_t*>(rtf.data());
    const std::size_t n = rtf.size();
    std::size_t pos = 0;
    bool ended = false;
    while (!ended) {
        const std::size_t control_at = out.size();
        out.push_back(0);
        std::uint8_t control = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if (pos >= n) {
                // End marker: a reference to the current write position.
                control |= static_cast<std::uint8_t>(1u << bit);
                std::uint16_t token = static_cast<std::uint16_t>(write << 4);
                out.push_back(static_cast<std::uint8_t>(token >> 8));
                out.push_back(static_cast<std::uint8_t>(token));
                ended = true;
                break;
            }
            std::size_t best_len = 0, best_start = 0;
            const std::uint8_t first = input[pos];
            for (std::size_t k = 0; k < recent_count[first]; ++k) {
                const std::size_t start = recent[first][k];
                const std::size_t distance = (write + kRing - start) % kRing;  // bytes behind the write position
                if (distance == 0 || distance > filled) continue;
                const std::size_t limit = std::min({kMaxMatch, distance, n - pos});
                std::size_t len = 0;
                while (len < limit && ring[(start + len) % kRing] == input[pos + len]) ++len;
                if (len > best_len) {
                    best_len = len;
                    best_start = start;
                }
            }
            std::size_t take;
            if (best_len >= 2) {
                control |= static_cast<std::uint8_t>(1u << bit);
                std::uint16_t token = static_cast<std::uint16_t>((best_start << 4) | (best_len - 2));
                out.push_back(static_cast<std::uint8_t>(token >> 8));
                out.push_back(static_cast<std::uint8_t>(token));
                take = best_len;
            } else {
                out.push_back(first);
                take = 1;
            }
            for (std::size_t k = 0; k < take; ++k) {
                ring[write] = input[pos + k];
                remember(write);
                write = (write + 1) % kRing;
                if (filled < kRing) ++filled;
            }
            pos += take;
        }
        out[control_at] = control;
    }
    PutU32(out, 0, static_cast<std::uint32_t>(out.size() - 4));
    PutU32(out, 4, static_cast<std::uint32_t>(n));
    PutU32(out, 8, kCompressed);
    PutU32(out, 12, Crc(out.data() + kHeaderSize, out.size() - kHeaderSize));
    return out;
}

std::string DecompressRtf(const std::vector<std::uint8_t>& in) {
    if (in.size() < kHeaderSize) throw std::runtime_error("compressed RTF shorter than its header");
    const std::uint32_t comp_size = GetU32(in, 0);
    const std::uint32_t raw_size = GetU32(in, 4);
    const std::uint32_t type = GetU32(in, 8);
    if (comp_size < 12 || comp_size - 12 > in.size() - kHeaderSize) throw std::runtime_error("compressed RTF size is wrong");
    const std::size_t end = 4 + std::size_t(comp_size);
    if (type == kUncompressed) {
        if (raw_size > end - kHeaderSize) throw std::runtime_error("uncompressed RTF size is wrong");
        return std::string(in.begin() + kHeaderSize, in.begin() + kHeaderSize + raw_size);
    }
    if (type != kCompressed) throw std::runtime_error("unknown compressed RTF type");
    if (Crc(in.data() + kHeaderSize, end - kHeaderSize) != GetU32(in, 12)) throw std::runtime_error("compressed RTF CRC mismatch");
    std::array<std::uint8_t, kRing> ring{};
    std::memcpy(ring.data(), kPreamble, kPreambleSize);
    std::size_t write = kPreambleSize;
    std::string out;
    out.reserve(raw_size < (1u << 26) ? raw_size : 0);
    std::size_t at = kHeaderSize;
    while (at < end) {
        const std::uint8_t control = in[at++];
        for (int bit = 0; bit < 8 && at < end; ++bit) {
            if ((control >> bit) & 1) {
                if (at + 2 > end) throw std::runtime_error("compressed RTF reference cut short");
                const std::uint16_t token = static_cast<std::uint16_t>(in[at] << 8 | in[at + 1]);
                at += 2;
                const std::size_t offset = token >> 4;
                const std::size_t length = (token & 0xF) + 2;
                if (offset == write) return out;
                for (std::size_t k = 0; k < length; ++k) {
                    const std::uint8_t b = ring[(offset + k) % kRing];
                    out.push_back(static_cast<char>(b));
                    ring[write] = b;
                    write = (write + 1) % kRing;
                }
            } else {
                const std::uint8_t b = in[at++];
                out.push_back(static_cast<char>(b));
                ring[write] = b;
                write = (write + 1) % kRing;
            }
            if (out.size() > raw_size) throw std::runtime_error("compressed RTF longer than its header says");
        }
    }
    throw std::runtime_error("compressed RTF without end marker");
}

}  // namespace render
