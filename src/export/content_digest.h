// SHA-256 digests as a manifest states them: of bytes in memory and of a file on disk.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// The lowercase hexadecimal SHA-256 of bytes.
std::string Sha256Hex(std::string_view bytes);
// The same of first followed by second, without joining them first.
std::string Sha256Hex(std::string_view first, std::string_view second);

// The same of the whole file at path, opened for reading only; empty when it cannot be read.
std::string FileSha256Hex(const std::string& path);

// The same of bytes given in pieces, in order.
class Sha256Stream {
public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(const Sha256Stream&) = delete;
    Sha256Stream& operator=(const Sha256Stream&) = delete;
    void Update(const void* data, std::size_t size);
    // Lowercase hexadecimal of what was given; empty when the hash failed. Once only.
    std::string Hex();

private:
    struct State;
    std::unique_ptr<State> state_;
};
