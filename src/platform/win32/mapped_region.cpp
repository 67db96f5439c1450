#include "platform/mapped_region.h"

#include <utility>

#include "platform/win32/win32_support.h"

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
    const HANDLE file = win32::HandleOf(fd);
    LARGE_INTEGER size{};
    if (file == INVALID_HANDLE_VALUE || !::GetFileSizeEx(file, &size) ||
        static_cast<std::uint64_t>(size.QuadPart) < offset + length)
        return false;
    // The view keeps the mapping object alive; while it is mapped the system refuses to cut the
    // file shorter, so a page of the view never lies past the file's end.
    const HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) return false;
    void* data = ::MapViewOfFile(mapping, FILE_MAP_READ, static_cast<DWORD>(offset >> 32), static_cast<DWORD>(offset),
                                 length);
    ::CloseHandle(mapping);
    if (data == nullptr) return false;
    data_ = static_cast<const char*>(data);
    length_ = length;
    return true;
}

void MappedRegion::Unmap() {
    if (data_ != nullptr) ::UnmapViewOfFile(data_);
    data_ = nullptr;
    length_ = 0;
}

}  // namespace platform
