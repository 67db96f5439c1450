// Opening a folder file: header check, item count and the walk of the index tree that fills
// the table of item record offsets.
#include <array>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <unordered_set>

#include "dbx/dbx.h"
#include "dbx/dbx_format.h"
#include "dbx/dbx_internal.h"

namespace {

using dbx_format::IndexEntry;
using dbx_format::IndexNodeHeader;
using dbx_format::LoadLe32;

// Real folders need three or four levels; a deeper tree is damaged or hostile, and the bound
// keeps the recursion off the end of the stack.
constexpr int kMaxTreeDepth = 64;

constexpr std::int32_t kMaxEntriesPerNode = std::numeric_limits<std::int8_t>::max();

enum class WalkResult { Ok, Unreadable, Overflow };

class IndexWalk {
public:
    explicit IndexWalk(DbxReader& reader) : reader_(reader) {}

    // Walks the sub-tree at offset, filling slots from the fill position (item_count) down.
    WalkResult WalkNode(std::uint32_t offset, int depth) {
        if (depth > kMaxTreeDepth || !visited_.insert(offset).second) {
            // Too deep, or a node reached twice: a cycle would never end, and a shared
            // sub-tree would list its items twice. Treated like a node that cannot be read.
            return WalkResult::Unreadable;
        }
        std::array<std::uint8_t, sizeof(IndexNodeHeader)> raw{};
        if (!dbx_internal::ReadAt(reader_, offset, raw.data(), raw.size())) return WalkResult::Unreadable;
        const IndexNodeHeader header = IndexNodeHeader::Decode(raw.data());

        if (header.first_child_count > 0) {
            // A sub-tree that cannot be read leaves its slots empty; the count check at the
            // end of the open reports them.
            if (WalkNode(header.first_child, depth + 1) == WalkResult::Overflow) return WalkResult::Overflow;
        }
        return WalkEntries(offset, header.entry_count, depth);
    }

private:
    WalkResult WalkEntries(std::uint32_t node_offset, std::int32_t entry_count, int depth) {
        if (entry_count < 1) return WalkResult::Ok;
        const std::uint64_t entries_at = std::uint64_t{node_offset} + sizeof(IndexNodeHeader);
        // Read all entries that lie inside the file in one go; an entry past the end fails
        // at its turn, after the entries before it have been stored.
        std::int32_t readable = entry_count;
        const std::uint64_t file_size = static_cast<std::uint64_t>(reader_.file_size);
        if (entries_at + std::uint64_t(entry_count) * sizeof(IndexEntry) > file_size) {
            readable = entries_at >= file_size
                           ? 0
                           : static_cast<std::int32_t>((file_size - entries_at) / sizeof(IndexEntry));
        }
        std::array<std::uint8_t, kMaxEntriesPerNode * sizeof(IndexEntry)> raw{};
        if (readable > 0 &&
            !dbx_internal::ReadAt(reader_, entries_at, raw.data(), std::size_t(readable) * sizeof(IndexEntry))) {
            readable = 0;
        }
        for (std::int32_t k = 0; k < entry_count; ++k) {
            if (k >= readable) return WalkResult::Unreadable;
            const IndexEntry entry = IndexEntry::Decode(raw.data() + std::size_t(k) * sizeof(IndexEntry));
            if (reader_.item_count <= 0) return WalkResult::Overflow;
            --reader_.item_count;
            reader_.item_offsets[std::size_t(reader_.item_count)] = static_cast<std::int32_t>(entry.record_offset);
            if (entry.child_count > 0) {
                if (WalkNode(entry.child, depth + 1) == WalkResult::Overflow) return WalkResult::Overflow;
            }
        }
        return WalkResult::Ok;
    }

    DbxReader& reader_;
    std::unordered_set<std::uint32_t> visited_;
};

bool MeasureFileSize(std::FILE* stream, std::int64_t& size) {
    if (std::fseek(stream, 0, SEEK_END) != 0) return false;
    const long end = std::ftell(stream);
    if (end < 0) return false;
    size = end;
    return true;
}

bool ReadKind(DbxReader& reader) {
    std::array<std::uint8_t, dbx_format::kHeaderMagicSize> magic{};
    if (!dbx_internal::ReadAt(reader, 0, magic.data(), magic.size())) return false;
    if (LoadLe32(magic.data()) != dbx_format::kFileMagic || LoadLe32(magic.data() + 8) != dbx_format::kThirdMagic ||
        LoadLe32(magic.data() + 12) != dbx_format::kFourthMagic) {
        return false;
    }
    switch (LoadLe32(magic.data() + 4)) {
        case dbx_format::kKindWordEmail: reader.kind = DbxKind::Email; return true;
        case dbx_format::kKindWordList: reader.kind = DbxKind::List; return true;
        default: return false;
    }
}

bool ReadHeaderWord(DbxReader& reader, std::uint32_t offset, std::uint32_t& value) {
    std::array<std::uint8_t, 4> raw{};
    if (!dbx_internal::ReadAt(reader, offset, raw.data(), raw.size())) return false;
    value = LoadLe32(raw.data());
    return true;
}

// Every item needs at least its 12-byte index entry, so a count the file cannot hold is a
// damaged header, rejected before anything is allocated for it.
bool ItemCountFitsFile(std::int32_t count, std::int64_t file_size) {
    return count >= 0 && std::int64_t{count} * std::int64_t{sizeof(IndexEntry)} <= file_size;
}

// Builds the reader; on failure sets dbx_errno and returns nothing, leaving the stream open.
std::unique_ptr<DbxReader> OpenReader(std::FILE* stream) {
    auto reader = std::make_unique<DbxReader>();
    reader->stream = stream;
    if (!MeasureFileSize(stream, reader->file_size) || !ReadKind(*reader)) {
        dbx_errno = 1;
        return nullptr;
    }
    std::uint32_t root = 0;
    if (!ReadHeaderWord(*reader, dbx_format::kRootNodeOffset, root)) {
        dbx_errno = 3;
        return nullptr;
    }
    std::uint32_t count_word = 0;
    if (!ReadHeaderWord(*reader, dbx_format::kItemCountOffset, count_word)) {
        dbx_errno = 2;
        return nullptr;
    }
    const auto item_count = static_cast<std::int32_t>(count_word);
    if (!ItemCountFitsFile(item_count, reader->file_size)) {
        dbx_errno = 2;
        return nullptr;
    }
    try {
        reader->item_offsets.assign(std::size_t(item_count), 0);
    } catch (const std::bad_alloc&) {
        dbx_errno = 2;
        return nullptr;
    }

    reader->item_count = item_count;  // fill position during the walk
    IndexWalk walk(*reader);
    const WalkResult result = walk.WalkNode(root, 0);
    if (result != WalkResult::Ok) {
        dbx_errno = result == WalkResult::Overflow ? 5 : 3;
        return nullptr;
    }
    if (reader->item_count != 0) {
        dbx_errno = 4;
        return nullptr;
    }
    reader->item_count = item_count;
    dbx_errno = 0;
    return reader;
}

}  // namespace

DbxReader* dbx_open(const char* path) {
    if (path == nullptr) {
        dbx_errno = 1;
        return nullptr;
    }
    std::FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr) {
        dbx_errno = 1;
        return nullptr;
    }
    DbxReader* reader = OpenReader(stream).release();
    if (reader == nullptr) std::fclose(stream);
    return reader;
}

DbxReader* dbx_open_stream(std::FILE* stream) {
    if (stream == nullptr) {
        dbx_errno = 1;
        return nullptr;
    }
    return OpenReader(stream).release();
}

void dbx_close(DbxReader* reader) {
    if (reader == nullptr) return;
    if (reader->stream != nullptr) std::fclose(reader->stream);
    reader->stream = nullptr;
    delete reader;
}
