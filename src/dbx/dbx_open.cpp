// Opening a folder file: header check, item count and the walk of the index tree that fills
// the table of item record offsets.
#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <unordered_set>
#include <vector>

#include "dbx/dbx.h"
#include "dbx/dbx_failure.h"
#include "dbx/dbx_format.h"
#include "dbx/dbx_internal.h"
#include "platform/file_stream.h"
#include "platform/random_access_file.h"

namespace {

using dbx_format::IndexEntry;
using dbx_format::IndexNodeHeader;
using dbx_format::LoadLe32;

// Real folders need three or four levels; a deeper tree is damaged or hostile, and the bound
// keeps the recursion off the end of the stack.
constexpr int kMaxTreeDepth = 64;

constexpr std::int32_t kMaxEntriesPerNode = std::numeric_limits<std::int8_t>::max();

enum class WalkResult { Ok, Unreadable, Overflow };

// Collects the item record offsets of the tree in tree order, at most `limit` of them.
class IndexWalk {
public:
    // check_self: a node must name its own offset in its first word, as every node Outlook
    // Express writes does; a node that does not (zeroed, or overwritten) is damaged.
    IndexWalk(DbxReader& reader, std::size_t limit, std::vector<std::int32_t>& found, bool check_self)
        : reader_(reader), limit_(limit), found_(found), check_self_(check_self) {}

    // Walks the sub-tree at offset.
    WalkResult WalkNode(std::uint32_t offset, int depth) {
        if (depth > kMaxTreeDepth || !visited_.insert(offset).second) {
            // Too deep, or a node reached twice: a cycle would never end, and a shared
            // sub-tree would list its items twice. Treated like a node that cannot be read.
            Damaged(DbxFailure::IndexShort);
            return WalkResult::Unreadable;
        }
        std::array<std::uint8_t, sizeof(IndexNodeHeader)> raw{};
        if (!dbx_internal::ReadAt(reader_, offset, raw.data(), raw.size())) {
            Damaged(DbxFailure::IndexUnreadable);
            return WalkResult::Unreadable;
        }
        if (check_self_ && LoadLe32(raw.data()) != offset) {
            Damaged(DbxFailure::IndexShort);
            return WalkResult::Unreadable;
        }
        const IndexNodeHeader header = IndexNodeHeader::Decode(raw.data());

        if (header.first_child_count > 0) {
            // A sub-tree that cannot be read leaves its items out; the caller compares what
            // was found with the header's count.
            if (WalkNode(header.first_child, depth + 1) == WalkResult::Overflow) return WalkResult::Overflow;
        }
        return WalkEntries(offset, header.entry_count, depth);
    }

    // True when some node could not be read, was too deep or was reached twice.
    bool damaged() const { return failure_ != DbxFailure::None; }
    // The first damage found: IndexUnreadable for a node or entry outside the file (the file is
    // cut short), IndexShort for a tree that leads back into itself or goes too deep.
    DbxFailure failure() const { return failure_; }

private:
    void Damaged(DbxFailure failure) {
        if (failure_ == DbxFailure::None) failure_ = failure;
    }

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
            if (k >= readable) {
                Damaged(DbxFailure::IndexUnreadable);
                return WalkResult::Unreadable;
            }
            const IndexEntry entry = IndexEntry::Decode(raw.data() + std::size_t(k) * sizeof(IndexEntry));
            if (found_.size() >= limit_) return WalkResult::Overflow;
            found_.push_back(static_cast<std::int32_t>(entry.record_offset));
            if (entry.child_count > 0) {
                if (WalkNode(entry.child, depth + 1) == WalkResult::Overflow) return WalkResult::Overflow;
            }
        }
        return WalkResult::Ok;
    }

    DbxReader& reader_;
    std::size_t limit_;
    std::vector<std::int32_t>& found_;
    bool check_self_;
    std::unordered_set<std::uint32_t> visited_;
    DbxFailure failure_ = DbxFailure::None;
};

// The file's size, and for a file with a descriptor what it is like now, to tell later whether
// it changed under the reader.
bool MeasureFile(DbxReader& reader) {
    const int fd = platform::DescriptorOf(reader.stream);
    platform::FileVersion version;
    if (fd >= 0 && platform::VersionOf(fd, version) == 0 && version.size <= std::uint64_t{INT64_MAX}) {
        reader.opened_version = version;
        reader.file_size = static_cast<std::int64_t>(version.size);
        return true;
    }
    if (std::fseek(reader.stream, 0, SEEK_END) != 0) return false;
    const long end = std::ftell(reader.stream);
    if (end < 0) return false;
    reader.file_size = end;
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

// Every item needs its own 12-byte index entry, so no tree lists more items than this.
std::size_t MostItemsTheFileHolds(std::int64_t file_size) {
    return static_cast<std::size_t>(file_size) / sizeof(IndexEntry);
}

// The slots hold the tree order from the top slot down.
void FillSlots(DbxReader& reader, const std::vector<std::int32_t>& tree_order) {
    reader.item_offsets.assign(tree_order.rbegin(), tree_order.rend());
    reader.item_count = static_cast<std::int32_t>(tree_order.size());
}

// Builds the reader; on failure sets dbx_errno and returns nothing, leaving the stream open.
std::unique_ptr<DbxReader> OpenReader(std::FILE* stream, const DbxOpenOptions& options) {
    auto reader = std::make_unique<DbxReader>();
    reader->stream = stream;
    reader->claim_text_blocks = options.claim_text_blocks;
    if (options.kind) reader->kind = *options.kind;
    if (!MeasureFile(*reader) || (!options.kind && !ReadKind(*reader))) {
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
    const auto header_count = static_cast<std::int32_t>(count_word);
    reader->header_item_count = header_count;
    const bool exact = options.count_check == DbxCountCheck::Exact;
    if (exact && !ItemCountFitsFile(header_count, reader->file_size)) {
        dbx_errno = 2;
        return nullptr;
    }

    std::vector<std::int32_t> tree_order;
    const std::size_t limit = exact ? std::size_t(header_count) : MostItemsTheFileHolds(reader->file_size);
    try {
        if (exact) tree_order.reserve(limit);
        // Where the count is only a hint, the tree must show its soundness itself.
        IndexWalk walk(*reader, limit, tree_order, !exact);
        // A folder that never held a message has no tree: its root offset is 0, where the file
        // header lies, which must not be read as a node.
        const WalkResult result = root == 0 ? WalkResult::Ok : walk.WalkNode(root, 0);
        reader->index_damaged = walk.damaged();
        reader->index_failure = walk.failure();
        if (exact && result != WalkResult::Ok) {
            dbx_errno = result == WalkResult::Overflow ? 5 : 3;
            return nullptr;
        }
        if (exact && tree_order.size() != limit) {
            dbx_errno = 4;
            return nullptr;
        }
        FillSlots(*reader, tree_order);
    } catch (const std::bad_alloc&) {
        dbx_errno = 2;
        return nullptr;
    }
    dbx_errno = 0;
    return reader;
}

DbxReader* OpenPath(const char* path, const DbxOpenOptions& options) {
    if (path == nullptr) {
        dbx_errno = 1;
        return nullptr;
    }
    std::FILE* stream = platform::OpenFileStream(path, "rb");
    if (stream == nullptr) {
        dbx_errno = 1;
        return nullptr;
    }
    DbxReader* reader = OpenReader(stream, options).release();
    if (reader == nullptr) std::fclose(stream);
    return reader;
}

DbxReader* OpenStream(std::FILE* stream, const DbxOpenOptions& options) {
    if (stream == nullptr) {
        dbx_errno = 1;
        return nullptr;
    }
    return OpenReader(stream, options).release();
}

}  // namespace

DbxReader* dbx_open(const char* path) { return OpenPath(path, {}); }

DbxReader* dbx_open_stream(std::FILE* stream) { return OpenStream(stream, {}); }

DbxReader* dbx_open_with(const char* path, const DbxOpenOptions& options) { return OpenPath(path, options); }

DbxReader* dbx_open_stream_with(std::FILE* stream, const DbxOpenOptions& options) {
    return OpenStream(stream, options);
}

void dbx_close(DbxReader* reader) {
    if (reader == nullptr) return;
    if (reader->stream != nullptr) std::fclose(reader->stream);
    reader->stream = nullptr;
    delete reader;
}
