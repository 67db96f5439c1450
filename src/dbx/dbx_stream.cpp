// Bounded positioned reads on the reader's stream.
#include <cstdio>

#include "dbx/dbx_internal.h"

namespace dbx_internal {

bool ReadAt(DbxReader& reader, std::uint64_t offset, void* buffer, std::size_t size) {
    if (reader.stream == nullptr || reader.file_size < 0) return false;
    const auto file_size = static_cast<std::uint64_t>(reader.file_size);
    if (offset > file_size || size > file_size - offset) return false;
    if (std::fseek(reader.stream, static_cast<long>(offset), SEEK_SET) != 0) return false;
    return size == 0 || std::fread(buffer, 1, size, reader.stream) == size;
}

}  // namespace dbx_internal
