// A strict reader of compound files for tests: follows every chain, checks every rule it can,
// and records what it found wrong instead of stopping at the first fault.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace cfbtest {

constexpr std::uint32_t kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFatSect = 0xFFFFFFFD, kDifSect = 0xFFFFFFFC;

struct Entry {
    std::u16string name;
    std::uint8_t type = 0, color = 0;
    std::uint32_t left = kFree, right = kFree, child = kFree, start = 0;
    std::uint64_t size = 0;
    std::string raw;  // the 128 bytes
};

struct CompoundFile {
    std::vector<std::string> faults;
    std::vector<Entry> entries;
    std::map<std::string, std::string> streams;  // "a/b/c" -> bytes
    std::set<std::string> storages;
    std::uint32_t fat_sectors = 0, difat_sectors = 0, mini_fat_sectors = 0;
};

inline std::uint32_t U32(const std::string& b, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
inline std::uint16_t U16(const std::string& b, std::size_t at) {
    std::uint16_t v;
    std::memcpy(&v, b.data() + at, 2);
    return v;
}

inline std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

inline int CompareNames(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = (a[i] >= u'a' && a[i] <= u'z') ? a[i] - 32 : a[i];
        char16_t y = (b[i] >= u'a' && b[i] <= u'z') ? b[i] - 32 : b[i];
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

class Reader {
public:
    explicit Reader(std::string bytes) : b_(std::move(bytes)) {}

    CompoundFile Read() {
        CompoundFile f;
        if (b_.size() < 512 || b_.compare(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") != 0) {
            f.faults.push_back("no compound file signature");
            return f;
        }
        if (U16(b_, 0x1A) != 3 || U16(b_, 0x1E) != 9 || U16(b_, 0x20) != 6) f.faults.push_back("not version 3 / 512 / 64");
        if (U16(b_, 0x18) != 0x3E || U16(b_, 0x1C) != 0xFFFE) f.faults.push_back("minor version or byte order");
        if (U32(b_, 0x28) != 0) f.faults.push_back("directory sector count must be 0 in version 3");
        if (U32(b_, 0x34) != 0) f.faults.push_back("transaction signature not 0");
        if (U32(b_, 0x38) != 4096) f.faults.push_back("mini stream cutoff not 4096");
        if ((b_.size() - 512) % 512 != 0) f.faults.push_back("file is not whole sectors");
        sectors_ = static_cast<std::uint32_t>((b_.size() - 512) / 512);
        f.fat_sectors = U32(b_, 0x2C);
        f.mini_fat_sectors = U32(b_, 0x40);
        f.difat_sectors = U32(b_, 0x48);

        // DIFAT: the header's 109 entries, then the chain of DIFAT sectors.
        std::vector<std::uint32_t> fat_locations;
        for (int i = 0; i < 109; ++i) {
            std::uint32_t s = U32(b_, 0x4C + 4 * i);
            if (s != kFree) fat_locations.push_back(s);
        }
        std::uint32_t difat = U32(b_, 0x44);
        std::vector<std::uint32_t> difat_locations;
        for (std::uint32_t k = 0; k < f.difat_sectors; ++k) {
            if (difat >= sectors_) {
                f.faults.push_back("DIFAT chain leaves the file");
                break;
            }
            difat_locations.push_back(difat);
            for (int i = 0; i < 127; ++i) {
                std::uint32_t s = U32(b_, Offset(difat) + 4 * i);
                if (s != kFree) fat_locations.push_back(s);
            }
            difat = U32(b_, Offset(difat) + 508);
        }
        if (f.difat_sectors > 0 && difat != kEnd) f.faults.push_back("DIFAT chain does not end");
        if (fat_locations.size() != f.fat_sectors) f.faults.push_back("FAT sector count does not match the DIFAT");
        for (std::uint32_t s : fat_locations) {
            if (s >= sectors_) {
                f.faults.push_back("FAT sector outside the file");
                return f;
            }
            for (int i = 0; i < 128; ++i) fat_.push_back(U32(b_, Offset(s) + 4 * i));
        }
        if (fat_.size() < sectors_) {
            f.faults.push_back("FAT does not cover the file");
            return f;
        }
        for (std::uint32_t s : fat_locations) if (fat_[s] != kFatSect) f.faults.push_back("FAT sector not marked FATSECT");
        for (std::uint32_t s : difat_locations) if (fat_[s] != kDifSect) f.faults.push_back("DIFAT sector not marked DIFSECT");
        for (std::size_t s = sectors_; s < fat_.size(); ++s) if (fat_[s] != kFree) f.faults.push_back("FAT entry beyond the file not free");

        std::string directory = Chain(U32(b_, 0x30), f);
        for (std::size_t at = 0; at + 128 <= directory.size(); at += 128) {
            Entry e;
            e.raw = directory.substr(at, 128);
            std::uint16_t name_bytes = U16(e.raw, 64);
            for (std::size_t k = 0; k + 2 < name_bytes && k < 62; k += 2) e.name.push_back(U16(e.raw, k));
            e.type = static_cast<std::uint8_t>(e.raw[66]);
            e.color = static_cast<std::uint8_t>(e.raw[67]);
            e.left = U32(e.raw, 68);
            e.right = U32(e.raw, 72);
            e.child = U32(e.raw, 76);
            e.start = U32(e.raw, 116);
            e.size = U32(e.raw, 120) | (std::uint64_t(U32(e.raw, 124)) << 32);
            f.entries.push_back(e);
        }
        if (f.entries.empty() || f.entries[0].type != 5 || Narrow(f.entries[0].name) != "Root Entry") {
            f.faults.push_back("first directory entry is not \"Root Entry\"");
            return f;
        }
        for (const Entry& e : f.entries) {
            if (e.type != 0) continue;
            std::string expected(128, '\0');
            std::memset(&expected[68], 0xFF, 12);
            if (e.raw != expected) f.faults.push_back("free directory entry not zeroed");
        }
        mini_stream_ = Chain(f.entries[0].start, f);
        if (mini_stream_.size() < f.entries[0].size) f.faults.push_back("mini stream shorter than the root says");
        std::string mini_fat_bytes = Chain(U32(b_, 0x3C), f);
        for (std::size_t at = 0; at + 4 <= mini_fat_bytes.size(); at += 4) mini_fat_.push_back(U32(mini_fat_bytes, at));

        std::vector<bool> seen(f.entries.size(), false);
        seen[0] = true;
        Walk(f, f.entries[0].child, "", seen, true);
        for (std::size_t i = 0; i < f.entries.size(); ++i) {
            if (f.entries[i].type != 0 && !seen[i]) f.faults.push_back("directory entry not in any tree: " + Narrow(f.entries[i].name));
        }
        for (std::uint32_t s = 0; s < sectors_; ++s) {
            if (fat_[s] != kFree && fat_[s] != kFatSect && fat_[s] != kDifSect && used_.count(s) == 0)
                f.faults.push_back("sector " + std::to_string(s) + " allocated but in no chain");
        }
        return f;
    }

private:
    std::size_t Offset(std::uint32_t sector) const { return 512 + std::size_t(sector) * 512; }

    std::string Chain(std::uint32_t start, CompoundFile& f) {
        std::string out;
        std::uint32_t s = start;
        std::size_t guard = 0;
        while (s != kEnd) {
            if (s >= sectors_ || ++guard > sectors_) {
                f.faults.push_back("chain leaves the file or loops");
                break;
            }
            if (!used_.insert(s).second) f.faults.push_back("sector " + std::to_string(s) + " in two chains");
            out.append(b_, Offset(s), 512);
            s = fat_[s];
        }
        return out;
    }

    std::string MiniChain(std::uint32_t start, std::uint64_t size, CompoundFile& f) {
        std::string out;
        std::uint32_t s = start;
        std::size_t guard = 0;
        while (s != kEnd) {
            if (s >= mini_fat_.size() || ++guard > mini_fat_.size() || (std::size_t(s) + 1) * 64 > mini_stream_.size()) {
                f.faults.push_back("mini chain leaves the mini stream or loops");
                break;
            }
            if (!mini_used_.insert(s).second) f.faults.push_back("mini sector in two chains");
            out.append(mini_stream_, std::size_t(s) * 64, 64);
            s = mini_fat_[s];
        }
        if (out.size() < size || out.size() - size >= 64) f.faults.push_back("mini chain length does not match the size");
        out.resize(std::min<std::size_t>(out.size(), size));
        return out;
    }

    // Visits a sibling tree; returns its black height, checks order and colours.
    int Tree(CompoundFile& f, std::uint32_t id, const std::string& parent, std::vector<bool>& seen,
             const std::u16string* low, const std::u16string* high, bool parent_red) {
        if (id == kFree) return 1;
        if (id >= f.entries.size() || seen[id]) {
            f.faults.push_back("bad or repeated directory id under " + parent);
            return 1;
        }
        seen[id] = true;
        const Entry& e = f.entries[id];
        if (low != nullptr && CompareNames(*low, e.name) >= 0) f.faults.push_back("sibling order wrong at " + Narrow(e.name));
        if (high != nullptr && CompareNames(e.name, *high) >= 0) f.faults.push_back("sibling order wrong at " + Narrow(e.name));
        const bool red = e.color == 0;
        if (red && parent_red) f.faults.push_back("two red nodes in a row at " + Narrow(e.name));
        int left = Tree(f, e.left, parent, seen, low, &e.name, red);
        int right = Tree(f, e.right, parent, seen, &e.name, high, red);
        if (left != right) f.faults.push_back("black heights differ at " + Narrow(e.name));
        const std::string path = parent.empty() ? Narrow(e.name) : parent + "/" + Narrow(e.name);
        if (e.type == 1) {
            f.storages.insert(path);
            Walk(f, e.child, path, seen, true);
        } else if (e.type == 2) {
            if (e.child != kFree) f.faults.push_back("stream with a child: " + path);
            if (e.size == 0) {
                f.streams[path] = "";
            } else if (e.size < 4096) {
                f.streams[path] = MiniChain(e.start, e.size, f);
            } else {
                std::string data = Chain(e.start, f);
                if (data.size() < e.size || data.size() - e.size >= 512) f.faults.push_back("chain length does not match the size: " + path);
                data.resize(std::min<std::size_t>(data.size(), e.size));
                f.streams[path] = data;
            }
        } else {
            f.faults.push_back("unexpected object type in a tree: " + path);
        }
        return left + (red ? 0 : 1);
    }

    void Walk(CompoundFile& f, std::uint32_t root, const std::string& parent, std::vector<bool>& seen, bool) {
        if (root != kFree && root < f.entries.size() && f.entries[root].color != 1)
            f.faults.push_back("root of a sibling tree is red under " + parent);
        Tree(f, root, parent, seen, nullptr, nullptr, false);
    }

    std::string b_;
    std::uint32_t sectors_ = 0;
    std::vector<std::uint32_t> fat_, mini_fat_;
    std::string mini_stream_;
    std::set<std::uint32_t> used_, mini_used_;
};

inline CompoundFile ReadCompoundFile(const std::string& bytes) { return Reader(bytes).Read(); }

}  // namespace cfbtest
