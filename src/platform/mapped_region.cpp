#include "platform/mapped_region.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <utility>

namespace platform {

MappedRegion::MappedRegion(MappedRegion&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), length_(std::exchange(other.length_, 0)) {}

MappedRegion& MappedRegion::operator=(MappedRegion&& other) noexcept {
    if (this != &other) {
        Unmap();
        data_ = std::exchange(other.data_, nullptr);
        length_ = std::exchange(other.length_, 0);
    }
    return *this;
}

bool MappedRegion::Map(int fd, std::uint64_t offset, std::size_t length) {
    Unmap();
    if (length == 0) return false;
    struct stat info;
    if (::fstat(fd, &info) != 0 || static_cast<std::uint64_t>(info.st_size) < offset + length) return false;
    void* data = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(offset));
    if (data == MAP_FAILED) return false;
    ::madvise(data, length, MADV_SEQUENTIAL);
    data_ = static_cast<const char*>(data);
    length_ = length;
    return true;
}

void MappedRegion::Unmap() {
    if (data_ != nullptr) ::munmap(const_cast<char*>(data_), length_);
    data_ = nullptr;
    length_ = 0;
}

}  // namespace platform
