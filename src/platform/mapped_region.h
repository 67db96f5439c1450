// A read-only view of part of a file, mapped into memory: reads served from it need no system
// call and no second copy. Unmapped with the object.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

class MappedRegion {
public:
    MappedRegion() = default;
    ~MappedRegion() { Unmap(); }
    MappedRegion(const MappedRegion&) = delete;
    MappedRegion& operator=(const MappedRegion&) = delete;
    MappedRegion(MappedRegion&& other) noexcept;
    MappedRegion& operator=(MappedRegion&& other) noexcept;

    // Maps length bytes of the open file fd from offset (a multiple of the page size), to
    // be read mostly front to back. False, with nothing mapped, when the file no longer reaches
    // offset + length or the system refuses: a mapped page past the file's end would raise SIGBUS
    // when touched, so a file that has shrunk since it was opened must be read another way.
    bool Map(int fd, std::uint64_t offset, std::size_t length);
    void Unmap();

    const char* data() const { return data_; }
    std::size_t length() const { return length_; }
    bool is_mapped() const { return data_ != nullptr; }

private:
    const char* data_ = nullptr;
    std::size_t length_ = 0;
};

}  // namespace platform
