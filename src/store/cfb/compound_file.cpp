#include "store/cfb/compound_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/output_file.h"
#include "platform/write_failure.h"
#include "platform/text_encoding.h"

namespace cfb {
namespace {

constexpr std::uint32_t kSectorSize = 512;
constexpr std::uint32_t kMiniSectorSize = 64;
constexpr std::uint32_t kMiniStreamCutoff = 4096;
constexpr std::uint32_t kEntriesPerSector = kSectorSize / 4;  // FAT, mini FAT
constexpr std::uint32_t kDirEntriesPerSector = kSectorSize / 128;
constexpr std::uint32_t kHeaderDifatEntries = 109;
constexpr std::uint32_t kDifatEntriesPerSector = kEntriesPerSector - 1;  // last one chains

constexpr std::uint32_t MAXREGSECT = 0xFFFFFFFA;
constexpr std::uint32_t DIFSECT = 0xFFFFFFFC;
constexpr std::uint32_t FATSECT = 0xFFFFFFFD;
constexpr std::uint32_t ENDOFCHAIN = 0xFFFFFFFE;
constexpr std::uint32_t FREESECT = 0xFFFFFFFF;
constexpr std::uint32_t NOSTREAM = 0xFFFFFFFF;

enum ObjectType : std::uint8_t { kUnallocated = 0, kStorageObject = 1, kStreamObject = 2, kRootStorage = 5 };
enum Color : std::uint8_t { kRed = 0, kBlack = 1 };

#pragma pack(push, 1)
// Compound File Header
struct CompoundFileHeader {
    std::uint8_t signature[8];
    std::uint8_t clsid[16];
    std::uint16_t minor_version;
    std::uint16_t major_version;
    std::uint16_t byte_order;
    std::uint16_t sector_shift;
    std::uint16_t mini_sector_shift;
    std::uint8_t reserved[6];
    std::uint32_t number_of_directory_sectors;
    std::uint32_t number_of_fat_sectors;
    std::uint32_t first_directory_sector_location;
    std::uint32_t transaction_signature_number;
    std::uint32_t mini_stream_cutoff_size;
    std::uint32_t first_mini_fat_sector_location;
    std::uint32_t number_of_mini_fat_sectors;
    std::uint32_t first_difat_sector_location;
    std::uint32_t number_of_difat_sectors;
    std::uint32_t difat[kHeaderDifatEntries];
};
static_assert(sizeof(CompoundFileHeader) == 512);

// Compound File Directory Entry
struct DirectoryEntry {
    std::uint16_t name[32];
    std::uint16_t name_length;  // bytes, with the terminating zero
    std::uint8_t object_type;
    std::uint8_t color_flag;
    std::uint32_t left_sibling_id;
    std::uint32_t right_sibling_id;
    std::uint32_t child_id;
    std::uint8_t clsid[16];
    std::uint32_t state_bits;
    std::uint64_t creation_time;
    std::uint64_t modified_time;
    std::uint32_t starting_sector_location;
    std::uint64_t stream_size;
};
static_assert(sizeof(DirectoryEntry) == 128);
#pragma pack(pop)

static_assert(std::endian::native == std::endian::little, "the on-disk structures are written as they lie in memory");

std::u16string Utf8NameToUtf16(const std::string& name) {
    // Nearly every name is ASCII ("__substg1.0_..."), widened unit by unit.
    if (std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::u16string(name.begin(), name.end());
    if (!platform::IsWellFormedUtf8(name)) throw std::invalid_argument("compound file name is not UTF-8");
    return platform::Utf8ToUtf16(name);
}

char16_t UpperUnit(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// One directory entry in the making, with the object it stands for.
struct FlatEntry {
    FlatEntry() { entry.left_sibling_id = entry.right_sibling_id = entry.child_id = NOSTREAM; }
    DirectoryEntry entry{};
    const Storage* storage = nullptr;
    const Storage::Stream* stream = nullptr;
    const std::u16string* name = nullptr;
};

std::uint32_t SectorsFor(std::uint64_t bytes, std::uint32_t unit) {
    return static_cast<std::uint32_t>((bytes + unit - 1) / unit);
}

void FillName(DirectoryEntry& entry, const std::u16string& name) {
    std::copy(name.begin(), name.end(), entry.name);
    entry.name_length = static_cast<std::uint16_t>((name.size() + 1) * 2);
}

// Builds a balanced search tree over sorted ids [lo, hi) and returns its root. Nodes on the
// deepest level are red, all others black, so every path holds the same number of black nodes
// and no red node has a red child.
std::uint32_t BuildSiblingTree(std::vector<FlatEntry>& flat, const std::vector<std::uint32_t>& ids,
                               std::size_t lo, std::size_t hi, int depth, int deepest) {
    if (lo >= hi) return NOSTREAM;
    std::size_t mid = lo + (hi - lo) / 2;
    DirectoryEntry& node = flat[ids[mid]].entry;
    node.left_sibling_id = BuildSiblingTree(flat, ids, lo, mid, depth + 1, deepest);
    node.right_sibling_id = BuildSiblingTree(flat, ids, mid + 1, hi, depth + 1, deepest);
    node.color_flag = (depth == deepest && depth > 0) ? kRed : kBlack;
    return ids[mid];
}

int TreeDepth(std::size_t count) {  // depth of the deepest node of the midpoint tree
    int depth = -1;
    while (count > 0) {
        ++depth;
        count /= 2;
    }
    return depth;
}

std::size_t CountEntries(const Storage& storage) {
    std::size_t count = storage.storages().size() + storage.streams().size();
    for (const auto& sub : storage.storages()) count += CountEntries(*sub);
    return count;
}

// pending: a stack of children ids shared by every level of the walk, so that a message's dozens
// of storages share one allocation; each call sorts its own run on top and leaves it as it found it.
void Flatten(const Storage& storage, std::uint32_t id, std::vector<FlatEntry>& flat, std::vector<std::uint32_t>& pending) {
    const std::size_t base = pending.size();
    for (const auto& sub : storage.storages()) {
        pending.push_back(static_cast<std::uint32_t>(flat.size()));
        FlatEntry& e = flat.emplace_back();
        FillName(e.entry, sub->name());
        e.entry.object_type = kStorageObject;
        e.storage = sub.get();
        e.name = &sub->name();
    }
    for (const auto& stream : storage.streams()) {
        pending.push_back(static_cast<std::uint32_t>(flat.size()));
        FlatEntry& e = flat.emplace_back();
        FillName(e.entry, stream.name);
        e.entry.object_type = kStreamObject;
        e.stream = &stream;
        e.name = &stream.name;
    }
    const std::size_t end = pending.size();
    std::sort(pending.begin() + static_cast<std::ptrdiff_t>(base), pending.end(),
              [&](std::uint32_t a, std::uint32_t b) { return CompareEntryNames(*flat[a].name, *flat[b].name) < 0; });
    flat[id].entry.child_id = BuildSiblingTree(flat, pending, base, end, 0, TreeDepth(end - base));
    for (std::size_t k = base; k < end; ++k) {
        const std::uint32_t child = pending[k];  // read again each time: a deeper call may grow the stack
        if (flat[child].storage != nullptr) Flatten(*flat[child].storage, child, flat, pending);
    }
    pending.resize(base);
}

// Gathers the small pieces of the file (header, padding, directory, FAT) into a buffer of
// kPieceSize and hands large runs of stream bytes on as they are.
class SectorWriter {
public:
    static constexpr std::size_t kPieceSize = 64 * 1024;

    explicit SectorWriter(const std::function<bool(std::string_view)>& write) : write_(write) {
        buffer_.reserve(kPieceSize);
    }
    void Write(const void* data, std::size_t size) {
        written_ += size;
        if (!ok_) return;
        if (buffer_.size() + size <= kPieceSize) {
            buffer_.append(static_cast<const char*>(data), size);
            return;
        }
        Flush();
        if (size < kPieceSize)
            buffer_.append(static_cast<const char*>(data), size);
        else if (ok_)
            ok_ = write_(std::string_view(static_cast<const char*>(data), size));
    }
    void PadTo(std::uint64_t unit) {
        static constexpr char kZeros[kSectorSize] = {};
        std::uint64_t pad = (unit - written_ % unit) % unit;
        while (pad > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(pad, sizeof kZeros));
            Write(kZeros, n);
            pad -= n;
        }
    }
    void WriteU32(std::uint32_t value) { Write(&value, 4); }
    // False when write refused a piece; nothing more was handed on after it.
    bool Finish() {
        Flush();
        return ok_;
    }

private:
    void Flush() {
        if (ok_ && !buffer_.empty()) ok_ = write_(buffer_);
        buffer_.clear();
    }

    const std::function<bool(std::string_view)>& write_;
    std::string buffer_;
    std::uint64_t written_ = 0;
    bool ok_ = true;
};

}  // namespace

int CompareEntryNames(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    // Names of one storage mostly share a long prefix ("__substg1.0_"): units that are equal as
    // they stand are equal upper-cased too, so the case folding starts at the first difference.
    const std::size_t first_difference =
        static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
    for (std::size_t i = first_difference; i < a.size(); ++i) {
        char16_t ua = UpperUnit(a[i]), ub = UpperUnit(b[i]);
        if (ua != ub) return ua < ub ? -1 : 1;
    }
    return 0;
}

void Storage::ClaimName(const std::u16string& name) {
    if (name.empty() || name.size() > 31) throw std::invalid_argument("compound file name must have 1 to 31 units");
    // The last eight upper-cased units, a byte each, and the length: names of one storage differ
    // mostly in their ends ("__substg1.0_0037001F", "..._#00000001"), and a shift is all each
    // unit costs, where a multiply per unit made this check a tenth of laying out a message.
    std::uint64_t fingerprint = 0;
    for (char16_t c : name) {
        if (c == u'/' || c == u'\\' || c == u':' || c == u'!') throw std::invalid_argument("bad compound file name");
        const char16_t upper = UpperUnit(c);
        fingerprint = (fingerprint << 8) | static_cast<std::uint8_t>(upper ^ (upper >> 8));
    }
    fingerprint ^= static_cast<std::uint64_t>(name.size()) << 59;
    if (std::find(name_fingerprints_.begin(), name_fingerprints_.end(), fingerprint) != name_fingerprints_.end()) {
        for (const auto& s : storages_) {
            if (CompareEntryNames(s->name(), name) == 0) throw std::invalid_argument("duplicate compound file name");
        }
        for (const auto& s : streams_) {
            if (CompareEntryNames(s.name, name) == 0) throw std::invalid_argument("duplicate compound file name");
        }
    }
    name_fingerprints_.push_back(fingerprint);
}

Storage& Storage::AddStorage(const std::string& name) {
    std::u16string wide = Utf8NameToUtf16(name);
    ClaimName(wide);
    storages_.push_back(std::make_unique<Storage>(std::move(wide)));
    return *storages_.back();
}

void Storage::AddStream(const std::string& name, std::vector<std::uint8_t> data) {
    std::u16string wide = Utf8NameToUtf16(name);
    ClaimName(wide);
    streams_.push_back(Stream{std::move(wide), std::move(data)});
}

void Storage::AddBorrowedStream(const std::string& name, std::span<const std::uint8_t> data) {
    std::u16string wide = Utf8NameToUtf16(name);
    ClaimName(wide);
    Stream stream{std::move(wide), {}};
    // An empty run still counts as borrowed, so that its address is never needed.
    static const std::uint8_t kNothing = 0;
    stream.borrowed = data.empty() ? &kNothing : data.data();
    stream.borrowed_size = data.size();
    streams_.push_back(std::move(stream));
}

Storage MakeRootStorage() { return Storage(u"Root Entry"); }

bool WriteCompoundFile(const Storage& root, const std::function<bool(std::string_view)>& write) {
    // Directory.
    std::vector<FlatEntry> flat;
    flat.reserve(1 + CountEntries(root));
    flat.emplace_back();
    FillName(flat[0].entry, root.name());
    flat[0].entry.object_type = kRootStorage;
    flat[0].entry.color_flag = kBlack;
    flat[0].storage = &root;
    flat[0].name = &root.name();
    std::vector<std::uint32_t> pending;
    Flatten(root, 0, flat, pending);

    // Place the streams: small ones in the mini stream, the others in sectors of their own.
    std::vector<std::uint32_t> mini_fat;
    std::vector<std::uint32_t> fat;
    std::uint64_t mini_stream_size = 0;
    std::vector<std::uint32_t> big_streams;
    for (std::uint32_t id = 1; id < flat.size(); ++id) {
        DirectoryEntry& entry = flat[id].entry;
        if (flat[id].stream == nullptr) {
            entry.starting_sector_location = 0;
            entry.stream_size = 0;
            continue;
        }
        std::uint64_t size = flat[id].stream->bytes().size();
        if (size > 0xFFFFFFFFull) throw WriteError("stream too large for a version 3 compound file");
        entry.stream_size = size;
        if (size == 0) {
            entry.starting_sector_location = ENDOFCHAIN;
        } else if (size < kMiniStreamCutoff) {
            std::uint32_t first = static_cast<std::uint32_t>(mini_fat.size());
            std::uint32_t count = SectorsFor(size, kMiniSectorSize);
            for (std::uint32_t k = 0; k < count; ++k) mini_fat.push_back(k + 1 < count ? first + k + 1 : ENDOFCHAIN);
            entry.starting_sector_location = first;
            mini_stream_size += std::uint64_t(count) * kMiniSectorSize;
        } else {
            big_streams.push_back(id);
        }
    }
    auto chain = [&fat](std::uint32_t count) -> std::uint32_t {
        if (count == 0) return ENDOFCHAIN;
        std::uint32_t first = static_cast<std::uint32_t>(fat.size());
        for (std::uint32_t k = 0; k < count; ++k) fat.push_back(k + 1 < count ? first + k + 1 : ENDOFCHAIN);
        return first;
    };
    flat[0].entry.starting_sector_location = chain(SectorsFor(mini_stream_size, kSectorSize));
    flat[0].entry.stream_size = mini_stream_size;
    for (std::uint32_t id : big_streams) {
        flat[id].entry.starting_sector_location =
            chain(SectorsFor(flat[id].stream->bytes().size(), kSectorSize));
    }
    std::uint32_t directory_sectors = SectorsFor(flat.size(), kDirEntriesPerSector);
    std::uint32_t first_directory_sector = chain(directory_sectors);
    std::uint32_t mini_fat_sectors = SectorsFor(mini_fat.size(), kEntriesPerSector);
    std::uint32_t first_mini_fat_sector = chain(mini_fat_sectors);

    // The FAT covers itself and the DIFAT sectors too: grow both until they fit.
    std::uint32_t data_sectors = static_cast<std::uint32_t>(fat.size());
    std::uint32_t fat_sectors = 0, difat_sectors = 0;
    for (;;) {
        std::uint32_t need_fat = SectorsFor(std::uint64_t(data_sectors) + fat_sectors + difat_sectors, kEntriesPerSector);
        std::uint32_t need_difat =
            need_fat > kHeaderDifatEntries ? SectorsFor(need_fat - kHeaderDifatEntries, kDifatEntriesPerSector) : 0;
        if (need_fat == fat_sectors && need_difat == difat_sectors) break;
        fat_sectors = need_fat;
        difat_sectors = need_difat;
    }
    if (std::uint64_t(data_sectors) + fat_sectors + difat_sectors > MAXREGSECT) throw WriteError("compound file too large");
    std::uint32_t first_fat_sector = data_sectors;
    for (std::uint32_t k = 0; k < fat_sectors; ++k) fat.push_back(FATSECT);
    std::uint32_t first_difat_sector = static_cast<std::uint32_t>(fat.size());
    for (std::uint32_t k = 0; k < difat_sectors; ++k) fat.push_back(DIFSECT);
    fat.resize(std::size_t(fat_sectors) * kEntriesPerSector, FREESECT);
    mini_fat.resize(std::size_t(mini_fat_sectors) * kEntriesPerSector, FREESECT);

    CompoundFileHeader header{};
    static constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(header.signature, kSignature, 8);
    header.minor_version = 0x003E;
    header.major_version = 0x0003;
    header.byte_order = 0xFFFE;
    header.sector_shift = 9;
    header.mini_sector_shift = 6;
    header.number_of_fat_sectors = fat_sectors;
    header.first_directory_sector_location = first_directory_sector;
    header.mini_stream_cutoff_size = kMiniStreamCutoff;
    header.first_mini_fat_sector_location = mini_fat_sectors ? first_mini_fat_sector : ENDOFCHAIN;
    header.number_of_mini_fat_sectors = mini_fat_sectors;
    header.first_difat_sector_location = difat_sectors ? first_difat_sector : ENDOFCHAIN;
    header.number_of_difat_sectors = difat_sectors;
    for (std::uint32_t k = 0; k < kHeaderDifatEntries; ++k) {
        header.difat[k] = k < fat_sectors ? first_fat_sector + k : FREESECT;
    }

    SectorWriter writer(write);
    writer.Write(&header, sizeof header);
    // Mini stream: the small streams in directory order, each padded to a mini sector.
    for (std::uint32_t id = 1; id < flat.size(); ++id) {
        const FlatEntry& e = flat[id];
        if (e.stream == nullptr) continue;
        const auto bytes = e.stream->bytes();
        if (bytes.empty() || bytes.size() >= kMiniStreamCutoff) continue;
        writer.Write(bytes.data(), bytes.size());
        writer.PadTo(kMiniSectorSize);
    }
    writer.PadTo(kSectorSize);
    for (std::uint32_t id : big_streams) {
        const auto bytes = flat[id].stream->bytes();
        writer.Write(bytes.data(), bytes.size());
        writer.PadTo(kSectorSize);
    }
    for (const FlatEntry& e : flat) writer.Write(&e.entry, sizeof e.entry);
    DirectoryEntry free_entry{};
    free_entry.left_sibling_id = free_entry.right_sibling_id = free_entry.child_id = NOSTREAM;
    for (std::size_t k = flat.size(); k < std::size_t(directory_sectors) * kDirEntriesPerSector; ++k) {
        writer.Write(&free_entry, sizeof free_entry);
    }
    writer.Write(mini_fat.data(), mini_fat.size() * 4);
    writer.Write(fat.data(), fat.size() * 4);
    for (std::uint32_t d = 0; d < difat_sectors; ++d) {
        for (std::uint32_t k = 0; k < kDifatEntriesPerSector; ++k) {
            std::uint64_t index = kHeaderDifatEntries + std::uint64_t(d) * kDifatEntriesPerSector + k;
            writer.WriteU32(index < fat_sectors ? first_fat_sector + static_cast<std::uint32_t>(index) : FREESECT);
        }
        writer.WriteU32(d + 1 < difat_sectors ? first_difat_sector + d + 1 : ENDOFCHAIN);
    }
    return writer.Finish();
}

std::string CompoundFileBytes(const Storage& root) {
    std::string out;
    WriteCompoundFile(root, [&out](std::string_view piece) {
        out.append(piece);
        return true;
    });
    return out;
}

void WriteCompoundFile(const Storage& root, std::FILE* out) {
    const bool written = WriteCompoundFile(root, [out](std::string_view piece) {
        return std::fwrite(piece.data(), 1, piece.size(), out) == piece.size();
    });
    if (!written || std::fflush(out) != 0 || std::ferror(out)) throw WriteError("write to compound file failed");
}

void WriteCompoundFile(const Storage& root, const std::string& path) {
    // Whatever is at the path is replaced, never written through: a link planted there is removed.
    const int error = platform::WriteWholeFile(path, CompoundFileBytes(root), platform::OutputMode::kReplace);
    if (error != 0) throw WriteError(path + ": " + platform::WriteFailureWords(platform::WriteFailureOf(error)));
}

}  // namespace cfb
