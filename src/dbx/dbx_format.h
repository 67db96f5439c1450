// On-disk structures of an Outlook Express folder file, as the reader sees them, and the
// little-endian decoding of their fields. Internal to the reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dbx_format {

inline std::uint16_t LoadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint32_t LoadLe24(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16);
}

// The four class-id words at the very start of the file.
inline constexpr std::uint32_t kFileMagic = 0xFE12ADCF;
inline constexpr std::uint32_t kKindWordEmail = 0x6F74FDC5;
inline constexpr std::uint32_t kKindWordList = 0x6F74FDC6;
inline constexpr std::uint32_t kThirdMagic = 0x11D1E366;
inline constexpr std::uint32_t kFourthMagic = 0xC0004E9A;

// Fixed positions inside the file header.
inline constexpr std::uint32_t kHeaderMagicSize = 16;
inline constexpr std::uint32_t kItemCountOffset = 0xC4;
inline constexpr std::uint32_t kRootNodeOffset = 0xE4;

// Index node header; the entries follow it.
struct IndexNodeHeader {
    std::uint32_t self_offset;       // not interpreted
    std::uint32_t unknown_04;        // not interpreted
    std::uint32_t first_child;       // sub-tree whose items come before the first entry
    std::uint32_t parent;            // not interpreted
    std::uint8_t unknown_10;         // not interpreted
    std::int8_t entry_count;         // signed: 0x80..0xFF means no entries
    std::uint16_t unknown_12;        // not interpreted
    std::int32_t first_child_count;  // items under first_child; followed only when positive

    static constexpr std::size_t kFirstChildAt = 8;
    static constexpr std::size_t kEntryCountAt = 17;
    static constexpr std::size_t kFirstChildCountAt = 20;

    static IndexNodeHeader Decode(const std::uint8_t* p) {
        IndexNodeHeader h{};
        h.first_child = LoadLe32(p + kFirstChildAt);
        h.entry_count = static_cast<std::int8_t>(p[kEntryCountAt]);
        h.first_child_count = static_cast<std::int32_t>(LoadLe32(p + kFirstChildCountAt));
        return h;
    }
};
static_assert(sizeof(IndexNodeHeader) == 24);

// One index entry: an item record and the sub-tree whose items come after it.
struct IndexEntry {
    std::uint32_t record_offset;
    std::uint32_t child;
    std::int32_t child_count;  // followed only when positive

    static IndexEntry Decode(const std::uint8_t* p) {
        return IndexEntry{LoadLe32(p), LoadLe32(p + 4), static_cast<std::int32_t>(LoadLe32(p + 8))};
    }
};
static_assert(sizeof(IndexEntry) == 12);

// Head of an item record; the body of body_size bytes follows it.
struct RecordHeader {
    std::uint32_t self_offset;   // not interpreted
    std::int32_t body_size;      // signed
    std::uint16_t unknown_08;    // not interpreted
    std::uint8_t entry_count;    // property entries at the start of the body, 4 bytes each
    std::uint8_t unknown_0b;     // not interpreted

    static RecordHeader Decode(const std::uint8_t* p) {
        RecordHeader h{};
        h.body_size = static_cast<std::int32_t>(LoadLe32(p + 4));
        h.entry_count = p[10];
        return h;
    }
};
static_assert(sizeof(RecordHeader) == 12);

// Head of one block of a message text chain; data_length bytes of text follow it.
struct TextBlockHeader {
    std::uint32_t self_offset;   // not interpreted
    std::uint32_t block_size;    // not interpreted
    std::int16_t data_length;    // signed: a negative length is a damaged block
    std::uint16_t unknown_0a;    // not interpreted
    std::uint32_t next_block;    // 0 ends the chain

    static TextBlockHeader Decode(const std::uint8_t* p) {
        TextBlockHeader h{};
        h.data_length = static_cast<std::int16_t>(LoadLe16(p + 8));
        h.next_block = LoadLe32(p + 12);
        return h;
    }
};
static_assert(sizeof(TextBlockHeader) == 16);

// Property tags: bit 7 set means the 24-bit value is the property itself.
inline constexpr std::uint8_t kDirectTagBit = 0x80;

}  // namespace dbx_format
