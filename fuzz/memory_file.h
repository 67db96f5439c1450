// The fuzz input as a real file, so that a target can compare the reader's path through its
// window of positioned reads with its path through a memory stream.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Runs read over the input twice, through a memory stream and through a real file, and stops the
// fuzzer when the two disagree; read gets the stream (nullptr when none could be made) and the size.
template <typename Read>
void CompareMemoryWithFile(const std::uint8_t* data, std::size_t size, Read read);

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

template <typename Read>
void CompareMemoryWithFile(const std::uint8_t* data, std::size_t size, Read read) {
    if (size == 0) return;  // fmemopen refuses an empty buffer
    std::vector<char> bytes(data, data + size);
    const std::string from_memory = read(fmemopen(bytes.data(), bytes.size(), "rb"), size);
    const std::string from_file = read(OpenAsFile(data, size), size);
    if (from_memory != from_file && from_memory != "no stream" && from_file != "no stream") __builtin_trap();
}
