#include "store/pst/ndb/allocation_bits.h"

#include <algorithm>
#include <cstring>

namespace pst::ndb {

AllocationBits::AllocationBits(std::size_t cached_sections) : cache_(std::max<std::size_t>(cached_sections, 1)) {}

std::uint8_t* AllocationBits::Section(std::uint64_t n, bool for_change) const {
    if (n >= count_) throw PstError("allocation outside the mapped file");
    Cached& c = cache_[n % cache_.size()];
    if (c.section != n) {
        if (!spill_) spill_ = std::make_unique<RunFile>();
        if (c.dirty) spill_->WriteAt(c.section * kSectionBytes, c.bits, kSectionBytes);
        spill_->ReadAt(n * kSectionBytes, c.bits, kSectionBytes);
        c.section = n;
        c.dirty = false;
    }
    c.dirty |= for_change;
    return c.bits;
}

void AllocationBits::AddSection(const std::uint8_t* bits) {
    const std::uint64_t n = count_++;
    Cached& c = cache_[n % cache_.size()];
    if (c.section != ~std::uint64_t{0} && c.dirty) {
        if (!spill_) spill_ = std::make_unique<RunFile>();
        spill_->WriteAt(c.section * kSectionBytes, c.bits, kSectionBytes);
    }
    c.section = n;
    c.dirty = true;
    if (bits) {
        std::memcpy(c.bits, bits, kSectionBytes);
    } else {
        std::memset(c.bits, 0, kSectionBytes);
    }
}

bool AllocationBits::IsUsed(std::uint64_t slot) const {
    if (slot / kSectionSlots >= count_) return false;
    const std::uint8_t* bits = Section(slot / kSectionSlots, false);
    const std::uint64_t s = slot % kSectionSlots;
    return (bits[s / 8] & (0x80 >> (s % 8))) != 0;
}

bool AllocationBits::AnyUsed(std::uint64_t first, std::uint64_t count) const {
    for (std::uint64_t slot = first; slot < first + count;) {
        const std::uint64_t n = slot / kSectionSlots;
        if (n >= count_) return false;
        const std::uint8_t* bits = Section(n, false);
        const std::uint64_t end = std::min(first + count, (n + 1) * kSectionSlots);
        for (; slot < end; ++slot) {
            const std::uint64_t s = slot % kSectionSlots;
            if (bits[s / 8] & (0x80 >> (s % 8))) return true;
        }
    }
    return false;
}

void AllocationBits::Mark(std::uint64_t first, std::uint64_t count, bool used) {
    if (first + count > count_ * kSectionSlots || first + count < first)
        throw PstError("allocation outside the mapped file");
    for (std::uint64_t slot = first; slot < first + count;) {
        const std::uint64_t n = slot / kSectionSlots;
        std::uint8_t* bits = Section(n, true);
        const std::uint64_t end = std::min(first + count, (n + 1) * kSectionSlots);
        for (; slot < end; ++slot) {
            const std::uint64_t s = slot % kSectionSlots;
            // Whole bytes at once where the range covers them.
            if (s % 8 == 0 && slot + 8 <= end) {
                bits[s / 8] = used ? 0xFF : 0x00;
                slot += 7;
                continue;
            }
            const auto mask = static_cast<std::uint8_t>(0x80 >> (s % 8));
            if (used) {
                bits[s / 8] |= mask;
            } else {
                bits[s / 8] &= static_cast<std::uint8_t>(~mask);
            }
        }
    }
}

void AllocationBits::CopySection(std::uint64_t n, std::uint8_t* out) const {
    std::memcpy(out, Section(n, false), kSectionBytes);
}

}  // namespace pst::ndb
