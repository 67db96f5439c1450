#include "export/folder_session.h"

#include <cstring>

#include "platform/file_checks.h"

DbxReader* OpenFolderFile(const std::string& path) {
    if (!platform::ReadableFileRefusal(path).empty()) {
        dbx_errno = 1;
        return nullptr;
    }
    return dbx_open(path.c_str());
}

std::string_view MessageTextView(const DbxText& text) {
    if (!text || text->empty()) return {};
    const void* zero = std::memchr(text->data(), '\0', text->size());
    const std::size_t length = zero == nullptr ? text->size() : static_cast<std::size_t>(static_cast<const char*>(zero) - text->data());
    return std::string_view(text->data(), length);
}
