// The scan for message texts. A text block starts with its own file offset and its size, so
// blocks can be told from other bytes without the index; chains are put together again from
// the blocks' next offsets. The scan keeps 13 bytes per block found and reads each message's
// text only when it is asked for.
#include "dbx/dbx_scan.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "dbx/dbx_format.h"
#include "dbx/dbx_internal.h"

namespace {

using dbx_format::LoadLe16;
using dbx_format::LoadLe32;
using dbx_format::TextBlockHeader;

// Mail folders keep message texts in blocks of this many data bytes.
constexpr std::uint32_t kMailBlockSize = 0x200;
constexpr std::size_t kBlockHeaderSize = sizeof(TextBlockHeader);
// Every block we have met lies on a 4-byte boundary; looking only there keeps the scan at
// memory speed.
constexpr std::uint64_t kBlockAlignment = 4;
// Read in pieces well inside the reader's window, so the window serves them without copying.
constexpr std::size_t kScanPiece = 64 * 1024;
constexpr std::size_t kGroupBytes = 64;  // sixteen words, compared together
// A header field name is at most this long before its colon in any message we would recover.
constexpr std::size_t kMaxFieldNameLength = 76;

constexpr std::uint32_t kNoBlock = std::numeric_limits<std::uint32_t>::max();  // end of chain, or no owner
constexpr std::uint32_t kNotABlock = kNoBlock - 1;                             // next offset leads nowhere

enum BlockFlag : std::uint8_t { kKnown = 1, kVisited = 2, kProbed = 4 };

// Block indices stay far below 2^31 (a block takes 16 bytes of a file of 32-bit offsets).
constexpr std::uint32_t kFragmentBit = 0x80000000u;

struct Block {
    std::uint32_t offset;
    std::uint32_t next;  // while collecting the next block's offset; then its index, kNoBlock or kNotABlock
};

}  // namespace

struct DbxScan {
    DbxReader* reader = nullptr;  // the caller's reader, or own_reader for a scan apart
    DbxReader own_reader;         // a scan apart: the caller's file and index, with a window of its own
    std::vector<Block> blocks;         // in file order
    std::vector<std::uint32_t> owner;  // the one block whose chain continues into this block
    std::vector<std::uint8_t> flags;
    std::vector<std::uint32_t> heads;  // first blocks of the found chains, in file order; kFragmentBit marks fragments
    std::size_t position = 0;
    DbxScanStats stats;
};

namespace {

// The next offset is not looked at: a block whose next offset is damaged (outside the file, to
// itself) still holds its data, and its chain breaks there.
bool IsBlockHeader(const std::uint8_t* p, std::uint64_t offset, std::uint64_t file_size) {
    if (LoadLe32(p + 4) != kMailBlockSize) return false;
    const std::uint32_t length = LoadLe16(p + 8);
    return length <= kMailBlockSize && offset + kBlockHeaderSize + length <= file_size;
}

using Words = std::uint32_t __attribute__((vector_size(16)));

// Does any of the sixteen words at p equal its own offset (first for the first word)? Offsets
// are compared modulo 2^32; the caller checks a hit in full.
bool GroupHasOwnOffset(const std::uint8_t* p, std::uint32_t first) {
    Words offsets = {first, first + 4, first + 8, first + 12};
    constexpr Words kStep = {16, 16, 16, 16};
    Words hits = {0, 0, 0, 0};
    for (std::size_t quarter = 0; quarter < kGroupBytes; quarter += sizeof(Words)) {
        Words words;
        std::memcpy(&words, p + quarter, sizeof words);
        hits |= reinterpret_cast<Words>(words == offsets);
        offsets += kStep;
    }
    return (hits[0] | hits[1] | hits[2] | hits[3]) != 0;
}

// Pass over the whole file: every aligned word that equals its own offset is looked at. A
// file that stops reading part way (it shrank under us) keeps the blocks found before.
void CollectBlocks(DbxScan& scan, const DbxBytesSeen& seen) {
    DbxReader& reader = *scan.reader;
    const auto file_size = static_cast<std::uint64_t>(reader.file_size);
    std::vector<char> buffer;
    // Sound blocks take 16 bytes at least and never overlap; more look-alikes than that are a
    // hostile file, and the table stays within a bound of the file's size.
    const auto most_blocks = static_cast<std::size_t>(file_size / kBlockHeaderSize);
    // Blocks do not overlap in a sound file, so this many is room for all of them; a file of
    // overlapping look-alikes grows the table past it.
    scan.blocks.reserve(static_cast<std::size_t>(file_size / (kBlockHeaderSize + kMailBlockSize)) + 1);
    for (std::uint64_t piece = 0; piece + kBlockHeaderSize <= file_size; piece += kScanPiece) {
        // Each piece reaches one block header past its end, so a header across the seam is seen.
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kScanPiece + kBlockHeaderSize, file_size - piece));
        const char* data = dbx_internal::PeekAt(reader, piece, length);
        if (data == nullptr) {
            buffer.resize(length);
            if (!dbx_internal::ReadAt(reader, piece, buffer.data(), length)) return;
            data = buffer.data();
        }
        if (seen) seen(data, std::min(kScanPiece, length));
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
        // Starts up to the piece's end; the next piece begins where this one's starts end.
        const std::size_t starts_end = std::min(kScanPiece, length - kBlockHeaderSize + 1);
        auto look_at = [&](std::size_t at) {
            const std::uint64_t offset = piece + at;
            if (LoadLe32(bytes + at) != offset || !IsBlockHeader(bytes + at, offset, file_size)) return;
            if (scan.blocks.size() >= most_blocks) return;
            scan.blocks.push_back({static_cast<std::uint32_t>(offset), LoadLe32(bytes + at + 12)});
        };
        std::size_t at = piece == 0 ? kBlockAlignment : 0;
        // Sixteen words at a time with vector compares; the rare hits are then looked at one
        // by one. The words are taken as they lie in memory, which is their file order only on
        // a little-endian machine; elsewhere every word is looked at.
        if constexpr (std::endian::native == std::endian::little) {
            for (; at + kGroupBytes <= starts_end; at += kGroupBytes) {
                if (GroupHasOwnOffset(bytes + at, static_cast<std::uint32_t>(piece + at))) {
                    for (std::size_t k = 0; k < kGroupBytes; k += kBlockAlignment) look_at(at + k);
                }
            }
        }
        for (; at < starts_end; at += kBlockAlignment) look_at(at);
    }
    // The last bytes, too short to start a block, are read only for whoever sees the bytes.
    if (!seen) return;
    const std::uint64_t tail = file_size < kBlockHeaderSize ? 0 : (file_size - kBlockHeaderSize) / kScanPiece * kScanPiece + kScanPiece;
    if (tail >= file_size) return;
    buffer.resize(static_cast<std::size_t>(file_size - tail));
    if (dbx_internal::ReadAt(reader, tail, buffer.data(), buffer.size())) seen(buffer.data(), buffer.size());
}

std::uint32_t FindBlock(const DbxScan& scan, std::uint32_t offset) {
    const auto it = std::lower_bound(scan.blocks.begin(), scan.blocks.end(), offset,
                                     [](const Block& b, std::uint32_t o) { return b.offset < o; });
    if (it == scan.blocks.end() || it->offset != offset) return kNotABlock;
    return static_cast<std::uint32_t>(it - scan.blocks.begin());
}

// Turns next offsets into block indices and gives every block one owner. Where several blocks
// lead into the same block, the one right before it in the file wins (chains are written in
// runs), else the first.
void LinkBlocks(DbxScan& scan) {
    const std::size_t n = scan.blocks.size();
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t next = scan.blocks[i].next;
        if (next == 0) {
            scan.blocks[i].next = kNoBlock;
        } else if (i + 1 < n && scan.blocks[i + 1].offset == next) {
            scan.blocks[i].next = static_cast<std::uint32_t>(i + 1);
        } else {
            scan.blocks[i].next = FindBlock(scan, next);
        }
    }
    scan.owner.assign(n, kNoBlock);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t j = scan.blocks[i].next;
        if (j >= n) continue;
        const bool adjacent = std::uint64_t{scan.blocks[i].offset} + kBlockHeaderSize + kMailBlockSize == scan.blocks[j].offset;
        if (scan.owner[j] == kNoBlock || adjacent) scan.owner[j] = static_cast<std::uint32_t>(i);
    }
}

// The blocks an index entry leads to are known: they belong to the live message and take
// precedence over any other chain that leads into them.
void MarkIndexChains(DbxScan& scan) {
    DbxReader& reader = *scan.reader;
    if (reader.kind != DbxKind::Email) return;
    // Tree order, from the top slot down, is file order in folders that grew by appending:
    // the reads then move forward through the reader's window.
    for (std::size_t slot = reader.item_offsets.size(); slot-- > 0;) {
        const std::int32_t text_offset =
            dbx_internal::ReadTextOffset(reader, static_cast<std::uint32_t>(reader.item_offsets[slot]));
        if (text_offset == -1 || text_offset == 0) continue;  // no text; offsets past 2 GiB read as negative
        std::uint32_t block = FindBlock(scan, static_cast<std::uint32_t>(text_offset));
        if (block == kNotABlock || (scan.flags[block] & kKnown) != 0) continue;
        ++scan.stats.index_messages;
        scan.flags[block] |= kKnown;
        for (std::size_t steps = 0; steps < scan.blocks.size(); ++steps) {
            const std::uint32_t next = scan.blocks[block].next;
            if (next >= scan.blocks.size() || (scan.flags[next] & kKnown) != 0) break;
            scan.owner[next] = block;
            scan.flags[next] |= kKnown;
            block = next;
        }
    }
}

// Follows a chain from its head through the blocks it owns, calling visit for each; false from
// visit stops it. Returns true when the chain ends properly (next offset 0).
template <typename Visit>
bool FollowChain(const DbxScan& scan, std::uint32_t head, Visit visit) {
    std::uint32_t block = head;
    for (std::size_t steps = 0; steps <= scan.blocks.size(); ++steps) {
        if (!visit(block)) return false;
        const std::uint32_t next = scan.blocks[block].next;
        if (next == kNoBlock) return true;
        if (next == kNotABlock || next == head || scan.owner[next] != block) return false;
        block = next;
    }
    return false;
}

// The block's data length and up to a field name's worth of its first bytes.
bool PeekBlockStart(DbxScan& scan, std::uint32_t block, std::array<std::uint8_t, kMaxFieldNameLength + 1>& start,
                    std::size_t& length) {
    const std::uint64_t offset = scan.blocks[block].offset;
    std::array<std::uint8_t, kBlockHeaderSize> header{};
    if (!dbx_internal::ReadAt(*scan.reader, offset, header.data(), header.size())) return false;
    length = LoadLe16(header.data() + 8);
    return dbx_internal::ReadAt(*scan.reader, offset + kBlockHeaderSize, start.data(), std::min(length, start.size()));
}

// Does data begin with a header field name and its colon?
bool DataBeginsLikeHeader(const std::uint8_t* data, std::size_t length) {
    for (std::size_t i = 0; i < std::min(length, kMaxFieldNameLength + 1); ++i) {
        const std::uint8_t c = data[i];
        if (c == ':') return i > 0;
        if (c < 33 || c > 126) return false;
    }
    return false;
}

bool BeginsLikeHeader(DbxScan& scan, std::uint32_t block) {
    std::array<std::uint8_t, kMaxFieldNameLength + 1> start{};
    std::size_t length = 0;
    if (!PeekBlockStart(scan, block, start, length)) return false;
    return DataBeginsLikeHeader(start.data(), std::min(length, start.size()));
}

bool HoldsText(DbxScan& scan, std::uint32_t block) {
    std::array<std::uint8_t, kMaxFieldNameLength + 1> start{};
    std::size_t length = 0;
    return PeekBlockStart(scan, block, start, length) && length > 0;
}

void AddChain(DbxScan& scan, std::uint32_t head, bool fragment) {
    const bool complete = FollowChain(scan, head, [&](std::uint32_t block) {
        scan.flags[block] |= kVisited;
        return true;
    });
    scan.heads.push_back(head | (fragment ? kFragmentBit : 0));
    if (!complete) ++scan.stats.partial;
    ++(fragment ? scan.stats.fragments : scan.stats.found);
}

// Is the block on a loop of chain links that no head leads into? Such a loop has no head of its
// own, so a block on it that begins like a message stands in as one.
bool OnHeadlessLoop(DbxScan& scan, std::uint32_t block) {
    std::vector<std::uint32_t> probed;
    std::uint32_t at = block;
    bool loop = false;
    for (std::size_t steps = 0; steps <= scan.blocks.size(); ++steps) {
        const std::uint32_t owner = scan.owner[at];
        if (owner == block) {
            loop = true;
            break;
        }
        if (owner == kNoBlock || (scan.flags[owner] & (kVisited | kKnown | kProbed)) != 0) break;
        scan.flags[owner] |= kProbed;
        probed.push_back(owner);
        at = owner;
    }
    // A block whose owners lead to a head that is no message is on no loop; it is never
    // walked back again.
    for (std::uint32_t p : probed) {
        scan.flags[p] = static_cast<std::uint8_t>((scan.flags[p] & ~kProbed) | (loop ? 0 : kVisited));
    }
    return loop;
}

bool Unclaimed(const DbxScan& scan, std::uint32_t block) { return (scan.flags[block] & (kKnown | kVisited)) == 0; }

// Chains from their heads first, then loops that no head leads into; messages before fragments,
// so that a loop holding a message's first block is found from that block.
void FindChains(DbxScan& scan, bool with_fragments) {
    const auto n = static_cast<std::uint32_t>(scan.blocks.size());
    for (std::uint32_t i = 0; i < n; ++i) {
        if (scan.owner[i] != kNoBlock || !Unclaimed(scan, i)) continue;
        if (BeginsLikeHeader(scan, i)) {
            AddChain(scan, i, false);
        } else if (with_fragments && HoldsText(scan, i)) {
            AddChain(scan, i, true);
        }
    }
    for (std::uint32_t i = 0; i < n; ++i) {
        if (Unclaimed(scan, i) && BeginsLikeHeader(scan, i) && OnHeadlessLoop(scan, i)) AddChain(scan, i, false);
    }
    if (with_fragments) {
        for (std::uint32_t i = 0; i < n; ++i) {
            if (Unclaimed(scan, i) && HoldsText(scan, i) && OnHeadlessLoop(scan, i)) AddChain(scan, i, true);
        }
    }
    std::sort(scan.heads.begin(), scan.heads.end(),
              [](std::uint32_t a, std::uint32_t b) { return (a & ~kFragmentBit) < (b & ~kFragmentBit); });
}

// Appends one block's data to text; false when the block can no longer be read as it was.
bool AppendBlockData(DbxReader& reader, std::uint32_t offset, std::string& text) {
    std::array<std::uint8_t, kBlockHeaderSize> raw{};
    if (!dbx_internal::ReadAt(reader, offset, raw.data(), raw.size())) return false;
    const std::size_t length = LoadLe16(raw.data() + 8);
    if (LoadLe32(raw.data()) != offset || length > kMailBlockSize) return false;
    const std::uint64_t data_at = std::uint64_t{offset} + kBlockHeaderSize;
    if (const char* data = dbx_internal::PeekAt(reader, data_at, length)) {
        text.append(data, length);
        return true;
    }
    const std::size_t before = text.size();
    text.resize(before + length);
    if (dbx_internal::ReadAt(reader, data_at, text.data() + before, length)) return true;
    text.resize(before);
    return false;
}

}  // namespace

namespace dbx_internal {

bool TextBlockBeginsLikeMessage(DbxReader& reader, std::uint32_t offset) {
    std::array<std::uint8_t, kBlockHeaderSize> header{};
    if (!ReadAt(reader, offset, header.data(), header.size()) || LoadLe32(header.data()) != offset) return false;
    const auto length = static_cast<std::int16_t>(LoadLe16(header.data() + 8));
    if (length <= 0) return false;
    std::array<std::uint8_t, kMaxFieldNameLength + 1> start{};
    const std::size_t size = std::min(static_cast<std::size_t>(length), start.size());
    return ReadAt(reader, std::uint64_t{offset} + kBlockHeaderSize, start.data(), size) &&
           DataBeginsLikeHeader(start.data(), size);
}

}  // namespace dbx_internal

namespace {

void RunScan(DbxScan* scan, bool with_fragments, const DbxBytesSeen& seen) {
    if (scan->reader->kind != DbxKind::Email) return;  // folder lists hold no message texts
    try {
        CollectBlocks(*scan, seen);
        LinkBlocks(*scan);
        scan->flags.assign(scan->blocks.size(), 0);
        MarkIndexChains(*scan);
        FindChains(*scan, with_fragments);
    } catch (const std::bad_alloc&) {
        // Too many blocks for the memory at hand: nothing is offered rather than a part.
        scan->blocks = {};
        scan->owner = {};
        scan->flags = {};
        scan->heads = {};
        scan->stats = {};
    }
    scan->stats.blocks = scan->blocks.size();
}

}  // namespace

DbxScan* dbx_scan(DbxReader* reader, bool with_fragments, const DbxBytesSeen& seen) {
    if (reader == nullptr || reader->stream == nullptr) {
        dbx_errno = 1;
        return nullptr;
    }
    auto* scan = new (std::nothrow) DbxScan;
    if (scan == nullptr) return nullptr;
    scan->reader = reader;
    RunScan(scan, with_fragments, seen);
    return scan;
}

bool dbx_scan_can_read_apart(const DbxReader* reader) {
    return reader != nullptr && reader->stream != nullptr && dbx_internal::ReadsArePositioned(*reader);
}

DbxScan* dbx_scan_apart(const DbxReader* reader, bool with_fragments, const DbxBytesSeen& seen) {
    if (!dbx_scan_can_read_apart(reader)) {
        dbx_errno = 1;
        return nullptr;
    }
    auto* scan = new (std::nothrow) DbxScan;
    if (scan == nullptr) return nullptr;
    try {
        // What the scan reads of the reader: its file, kind and index; never its window or claims.
        DbxReader& own = scan->own_reader;
        own.stream = reader->stream;
        own.item_count = reader->item_count;
        own.item_offsets = reader->item_offsets;
        own.kind = reader->kind;
        own.file_size = reader->file_size;
        own.opened_version = reader->opened_version;
    } catch (const std::bad_alloc&) {
        delete scan;
        return nullptr;
    }
    scan->reader = &scan->own_reader;
    RunScan(scan, with_fragments, seen);
    return scan;
}

bool dbx_scan_cut_short(const DbxScan* scan) { return scan != nullptr && scan->reader == &scan->own_reader && scan->own_reader.cut_short; }

std::size_t dbx_scan_count(const DbxScan* scan) { return scan == nullptr ? 0 : scan->heads.size(); }

DbxScanStats dbx_scan_stats(const DbxScan* scan) { return scan == nullptr ? DbxScanStats{} : scan->stats; }

bool dbx_scan_next(DbxScan* scan, DbxFoundMessage& message) {
    if (scan == nullptr || scan->position >= scan->heads.size()) return false;
    const std::uint32_t entry = scan->heads[scan->position++];
    const std::uint32_t head = entry & ~kFragmentBit;
    message = DbxFoundMessage{};
    message.head_offset = scan->blocks[head].offset;
    message.fragment = (entry & kFragmentBit) != 0;
    DbxReader& reader = *scan->reader;
    const bool complete = FollowChain(*scan, head, [&](std::uint32_t block) {
        return AppendBlockData(reader, scan->blocks[block].offset, message.text);
    });
    message.partial = !complete;
    if (message.fragment) return true;  // its first bytes are no header
    message.subject = dbx_header_value(message.text, "Subject");
    if (const DbxText date = dbx_header_value(message.text, "Date")) message.date = dbx_parse_date(*date);
    return true;
}

void dbx_scan_free(DbxScan* scan) { delete scan; }
