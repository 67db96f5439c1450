#include "store/pst/ndb/free_space.h"

namespace pst::ndb {

void FreeSpace::Insert(std::uint64_t offset, std::uint64_t size) {
    by_offset_.emplace(offset, size);
    by_size_.emplace(size, offset);
    total_ += size;
}

void FreeSpace::Erase(std::map<std::uint64_t, std::uint64_t>::iterator it) {
    by_size_.erase({it->second, it->first});
    total_ -= it->second;
    by_offset_.erase(it);
}

void FreeSpace::Add(std::uint64_t offset, std::uint64_t size) {
    if (size == 0) return;
    auto next = by_offset_.lower_bound(offset);
    if (next != by_offset_.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second == offset) {
            offset = prev->first;
            size += prev->second;
            Erase(prev);
        }
    }
    if (next != by_offset_.end() && offset + size == next->first) {
        size += next->second;
        Erase(next);
    }
    Insert(offset, size);
}

std::optional<std::uint64_t> FreeSpace::Take(std::uint64_t size, std::uint64_t align) {
    // Runs in size order; a run may fit the size but not the alignment, so a few are tried.
    constexpr int kCandidates = 64;
    int tried = 0;
    for (auto it = by_size_.lower_bound({size, 0}); it != by_size_.end() && tried < kCandidates; ++it, ++tried) {
        const auto [run_size, run_offset] = *it;
        const std::uint64_t start = (run_offset + align - 1) / align * align;
        if (start + size > run_offset + run_size) continue;
        Erase(by_offset_.find(run_offset));
        if (start > run_offset) Insert(run_offset, start - run_offset);
        if (start + size < run_offset + run_size) Insert(start + size, run_offset + run_size - start - size);
        return start;
    }
    return std::nullopt;
}

}  // namespace pst::ndb
