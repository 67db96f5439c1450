// The small files in which a destination remembers what earlier runs did there: a first line
// that names the kind and version, then one "key<TAB>value" line per entry.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/output_folder.h"
#include "platform/pending_file.h"

// The entries of the file at path, at most max_entries; none when it is missing, unreadable,
// larger than any such memory would be, or of another kind (its first line is not first_line).
// damaged (when given) is set when a file is there but is not a whole memory of this kind: the
// caller then goes on without it and says so.
std::vector<std::pair<std::string, std::string>> ReadDestinationMemory(const std::string& path,
                                                                       const std::string& first_line,
                                                                       std::size_t max_entries,
                                                                       bool* damaged = nullptr);

// Writes a memory file line by line, so that a memory of millions of entries never needs its
// whole text at once: beside its place first, then into it in one step, so that a crash leaves
// the old memory or the new one whole. Nothing takes the name unless Finish is called and works.
class DestinationMemoryWriter {
public:
    DestinationMemoryWriter(const std::string& path, const std::string& first_line);
    DestinationMemoryWriter(const DestinationMemoryWriter&) = delete;
    DestinationMemoryWriter& operator=(const DestinationMemoryWriter&) = delete;

    // One "key<TAB>value" line.
    void Add(std::string_view key, std::string_view value);
    // Empty, or why the file could not be written.
    std::string Finish();

private:
    void Flush();

    std::string name_;
    platform::OutputFolder folder_;
    platform::PendingFile file_;
    platform::WriteFailure failure_ = platform::WriteFailure::kNone;
    std::string buffer_;
};

// The entries written to path as DestinationMemoryWriter does. Empty, or why it could not.
std::string SaveDestinationMemory(const std::string& path, const std::string& first_line,
                                  const std::vector<std::pair<std::string, std::string>>& entries);

// True for 64 lowercase hexadecimal digits, as a SHA-256 is written.
bool IsSha256Text(std::string_view text);
