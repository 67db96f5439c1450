// The allocation bitmap of a store: one bit per 64-byte slot, one section of 496 bytes of bits
// for each allocation map page (about 248 KB of file). A store of some gigabytes has megabytes
// of bits, so only a fixed number of sections stay in memory; the others wait in a temporary
// file and come back when touched. A store small enough never uses the file.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "store/pst/ndb/entry_index.h"
#include "store/pst/ndb/format.h"

namespace pst::ndb {

class AllocationBits {
public:
    static constexpr std::uint64_t kSectionBytes = kPageDataSize;
    static constexpr std::uint64_t kSectionSlots = kSectionBytes * 8;
    static constexpr std::size_t kDefaultCachedSections = 256;

    explicit AllocationBits(std::size_t cached_sections = kDefaultCachedSections);

    std::uint64_t section_count() const { return count_; }
    // Adds a section after the last, with these bits (all free when null).
    void AddSection(const std::uint8_t* bits = nullptr);
    bool IsUsed(std::uint64_t slot) const;
    // Whether any slot of the range is used; slots past the last section count as free.
    bool AnyUsed(std::uint64_t first, std::uint64_t count) const;
    // Marks slots used or free; the range must lie within the sections.
    void Mark(std::uint64_t first, std::uint64_t count, bool used);
    // A copy of one section's bits (kSectionBytes bytes).
    void CopySection(std::uint64_t n, std::uint8_t* out) const;

private:
    struct Cached {
        std::uint64_t section = ~std::uint64_t{0};
        bool dirty = false;
        std::uint8_t bits[kSectionBytes];
    };
    std::uint8_t* Section(std::uint64_t n, bool for_change) const;

    std::uint64_t count_ = 0;
    mutable std::vector<Cached> cache_;  // a section lives at index section % size
    mutable std::unique_ptr<RunFile> spill_;
};

}  // namespace pst::ndb
