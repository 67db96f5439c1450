#include "platform/file_stream.h"

namespace platform {

std::FILE* OpenFileStream(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

std::FILE* OpenTemporaryStream() { return std::tmpfile(); }

std::filesystem::path FileSystemPath(const std::string& path) { return std::filesystem::path(path); }

std::string Utf8PathText(const std::filesystem::path& path) { return path.string(); }

}  // namespace platform
