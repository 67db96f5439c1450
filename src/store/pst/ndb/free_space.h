// The free runs of a store's file below the point where it grows: space the allocation maps
// show as free, and blocks and pages let go while the store is open. New blocks and pages take
// the smallest run they fit in before the file is made longer, so a store that had mail deleted
// from it, or whose folders are rewritten, fills its holes instead of growing.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>

namespace pst::ndb {

class FreeSpace {
public:
    // Adds a free run; runs that touch it become one.
    void Add(std::uint64_t offset, std::uint64_t size);
    // Takes size bytes starting at a multiple of align from the smallest run that holds them.
    std::optional<std::uint64_t> Take(std::uint64_t size, std::uint64_t align);

    std::uint64_t total() const { return total_; }
    std::size_t run_count() const { return by_offset_.size(); }

private:
    void Insert(std::uint64_t offset, std::uint64_t size);
    void Erase(std::map<std::uint64_t, std::uint64_t>::iterator it);

    std::map<std::uint64_t, std::uint64_t> by_offset_;      // offset -> size
    std::set<std::pair<std::uint64_t, std::uint64_t>> by_size_;  // size, offset
    std::uint64_t total_ = 0;
};

}  // namespace pst::ndb
