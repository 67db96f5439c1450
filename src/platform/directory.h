// Reading directories for the searches that walk a disk: entry names, and what tells a directory
// already visited from a new one when links lead back.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The names of the entries of a directory, "." and ".." left out, in the order the system gives
// them; nullopt when the directory cannot be read.
std::optional<std::vector<std::string>> ListDirectory(const std::string& path);

// Device and node of a file or directory (links followed): equal for two paths to one directory.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t node = 0;
    auto operator<=>(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentityOf(const std::string& path);

}  // namespace platform
