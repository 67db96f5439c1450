// Feeds arbitrary bytes to the folder-file reader the way the exporters use it: open, fetch
// every slot from the top down, read each email's text again, free, close.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "dbx/dbx.h"

namespace {

// A text is the data of distinct blocks of the file; more text than file is a reader fault.
void CheckText(const DbxEmail& email, std::size_t file_size) {
    if (email.message_text && email.message_text->size() > file_size) __builtin_trap();
}

void VisitItems(DbxReader* reader, std::size_t file_size) {
    for (std::int32_t slot = reader->item_count - 1; slot >= 0; --slot) {
        DbxItem* item = dbx_get(reader, slot);
        if (item == nullptr || dbx_errno != 0 || item->index != slot) __builtin_trap();
        if (item->kind == DbxKind::Email) {
            auto* email = static_cast<DbxEmail*>(item);
            CheckText(*email, file_size);
            const std::int32_t length = dbx_read_text(reader, email);
            if (length >= 0 && (!email->message_text ? length != 0 : email->message_text->size() != std::size_t(length))) {
                __builtin_trap();
            }
            CheckText(*email, file_size);
        }
        dbx_free(item);
    }
    if (dbx_get(reader, reader->item_count) != nullptr || dbx_get(reader, -1) != nullptr) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;  // fmemopen refuses an empty buffer
    std::vector<char> bytes(data, data + size);
    std::FILE* stream = fmemopen(bytes.data(), bytes.size(), "rb");
    if (stream == nullptr) return 0;
    DbxReader* reader = dbx_open_stream(stream);
    if (reader == nullptr) {
        if (dbx_errno < 1 || dbx_errno > 5) __builtin_trap();
        std::fclose(stream);
        return 0;
    }
    if (reader->item_count < 0 || std::size_t(reader->item_count) != reader->item_offsets.size()) __builtin_trap();
    VisitItems(reader, size);
    dbx_close(reader);
    return 0;
}
