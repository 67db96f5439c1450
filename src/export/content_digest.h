// SHA-256 digests as a manifest states them: of bytes in memory and of a file on disk.
#pragma once

#include <string>
#include <string_view>

// The lowercase hexadecimal SHA-256 of bytes.
std::string Sha256Hex(std::string_view bytes);
// The same of first followed by second, without joining them first.
std::string Sha256Hex(std::string_view first, std::string_view second);

// The same of the whole file at path, opened for reading only; empty when it cannot be read.
std::string FileSha256Hex(const std::string& path);
