// The fuzz input as a real file, so that a target can compare the reader's path through the
// mapped window with its path through a memory stream.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

inline std::FILE* OpenAsFile(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("fuzz_input", 0);
    if (fd < 0) return nullptr;
    if (::write(fd, data, size) != static_cast<ssize_t>(size)) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* stream = fdopen(fd, "rb");
    if (stream == nullptr) ::close(fd);
    return stream;
}
