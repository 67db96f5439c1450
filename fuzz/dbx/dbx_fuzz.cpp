// Feeds arbitrary bytes to the folder-file reader the way the exporters use it: open, fetch
// every slot from the top down, read each email's text again, free, close. The bytes are read
// twice, once from a memory stream and once from a file descriptor (which the reader reads
// through its own window), and both reads must report the same.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dbx/dbx.h"
#include "dbx/dbx_file_kind.h"
#include "../memory_file.h"

namespace {

void Append(std::string& out, const DbxText& text) {
    out += text ? "[" + *text + "]" : std::string("-");
}

void AppendNumber(std::string& out, std::int64_t n) {
    out += std::to_string(n);
    out += ' ';
}

// A text is the data of distinct blocks of the file; more text than file is a reader fault.
void CheckText(const DbxEmail& email, std::size_t file_size) {
    if (email.message_text && email.message_text->size() > file_size) __builtin_trap();
}

// Reads every item and returns what the reader reported, as text.
std::string VisitItems(DbxReader* reader, std::size_t file_size) {
    std::string seen;
    AppendNumber(seen, reader->item_count);
    AppendNumber(seen, static_cast<int>(reader->kind));
    for (std::int32_t slot = reader->item_count - 1; slot >= 0; --slot) {
        DbxItem* item = dbx_get(reader, slot);
        if (item == nullptr || dbx_errno != 0 || item->index != slot) __builtin_trap();
        if (item->kind == DbxKind::Email) {
            auto* email = static_cast<DbxEmail*>(item);
            CheckText(*email, file_size);
            Append(seen, email->message_text);
            Append(seen, email->subject);
            Append(seen, email->sender_address);
            AppendNumber(seen, static_cast<std::int64_t>(email->date));
            const std::int32_t length = dbx_read_text(reader, email);
            if (length >= 0 && (!email->message_text ? length != 0 : email->message_text->size() != std::size_t(length))) {
                __builtin_trap();
            }
            CheckText(*email, file_size);
            AppendNumber(seen, length);
            Append(seen, email->message_text);
        } else {
            auto* entry = static_cast<DbxListEntry*>(item);
            Append(seen, entry->tag02_text);
            Append(seen, entry->tag03_text);
            AppendNumber(seen, entry->tag80_value);
            AppendNumber(seen, entry->tag81_value);
        }
        dbx_free(item);
    }
    if (dbx_get(reader, reader->item_count) != nullptr || dbx_get(reader, -1) != nullptr) __builtin_trap();
    return seen;
}

// Reads the file as the folder loop does: the index as the truth, read as a mail folder
// whatever the header says, each text block given to one record. All texts together then never
// exceed the file.
std::string ReadFolderAsTheLoopDoes(std::FILE* stream, std::size_t file_size) {
    if (stream == nullptr) return "no stream";
    // A file on disk is first told by its kind, its contents looked at where the header leaves doubt.
    if (const int fd = fileno(stream); fd >= 0) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        if (dbx_kind_description(dbx_classify_file(path.c_str()).kind) == nullptr) __builtin_trap();
    }
    DbxOpenOptions options(DbxCountCheck::TreeIsTruth);
    options.kind = DbxKind::Email;
    options.claim_text_blocks = true;
    DbxReader* reader = dbx_open_stream_with(stream, options);
    if (reader == nullptr) {
        if (dbx_errno != 1 && dbx_errno != 2 && dbx_errno != 3) __builtin_trap();
        std::fclose(stream);
        return "open failed " + std::to_string(dbx_errno);
    }
    if (reader->index_damaged != (reader->index_failure != DbxFailure::None)) __builtin_trap();
    std::string seen = std::to_string(reader->item_count) + (reader->index_damaged ? "d " : " ");
    std::size_t text_bytes = 0;
    for (std::int32_t slot = reader->item_count - 1; slot >= 0; --slot) {
        auto* email = static_cast<DbxEmail*>(dbx_get(reader, slot));
        if (email == nullptr || email->kind != DbxKind::Email) __builtin_trap();
        if (email->message_text) text_bytes += email->message_text->size();
        if (text_bytes > file_size) __builtin_trap();
        Append(seen, email->message_text);
        seen += email->text_complete ? "c" : "b";
        dbx_free(email);
    }
    dbx_close(reader);
    return seen;
}

std::string ReadFolder(std::FILE* stream, std::size_t file_size) {
    if (stream == nullptr) return "no stream";
    DbxReader* reader = dbx_open_stream(stream);
    if (reader == nullptr) {
        if (dbx_errno < 1 || dbx_errno > 5) __builtin_trap();
        std::fclose(stream);
        return "open failed " + std::to_string(dbx_errno);
    }
    if (reader->item_count < 0 || std::size_t(reader->item_count) != reader->item_offsets.size()) __builtin_trap();
    std::string seen = VisitItems(reader, file_size);
    dbx_close(reader);
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (dbx_kind_description(dbx_classify_bytes(data, size, size).kind) == nullptr) __builtin_trap();
    CompareMemoryWithFile(data, size, ReadFolder);
    CompareMemoryWithFile(data, size, ReadFolderAsTheLoopDoes);
    return 0;
}
