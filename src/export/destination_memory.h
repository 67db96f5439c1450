// The small files in which a destination remembers what earlier runs did there: a first line
// that names the kind and version, then one "key<TAB>value" line per entry.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// The entries of the file at path, at most max_entries; none when it is missing, unreadable,
// larger than any such memory would be, or of another kind (its first line is not first_line).
// damaged (when given) is set when a file is there but is not a whole memory of this kind: the
// caller then goes on without it and says so.
std::vector<std::pair<std::string, std::string>> ReadDestinationMemory(const std::string& path,
                                                                       const std::string& first_line,
                                                                       std::size_t max_entries,
                                                                       bool* damaged = nullptr);

// Writes the entries to path, beside it first and then in its place in one step, so that a
// crash leaves the old memory or the new one whole. Empty, or why it could not.
std::string SaveDestinationMemory(const std::string& path, const std::string& first_line,
                                  const std::vector<std::pair<std::string, std::string>>& entries);

// True for 64 lowercase hexadecimal digits, as a SHA-256 is written.
bool IsSha256Text(const std::string& text);
