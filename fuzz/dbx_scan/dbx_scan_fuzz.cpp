// Feeds arbitrary bytes to the reader opened with the tree as the truth and to the scan for
// message texts, fragments included, the way a recovering folder loop uses them. The bytes are
// read once from a memory stream and once from a file descriptor (through the reader's own
// window); both must find the same. Every block belongs to one chain at most, so all texts
// found together never exceed the file.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dbx/dbx.h"
#include "dbx/dbx_scan.h"
#include "../memory_file.h"

namespace {

std::string ScanFolder(std::FILE* stream, std::size_t file_size) {
    if (stream == nullptr) return "no stream";
    DbxReader* reader = dbx_open_stream_with(stream, DbxCountCheck::TreeIsTruth);
    if (reader == nullptr) {
        if (dbx_errno != 1 && dbx_errno != 3) __builtin_trap();
        std::fclose(stream);
        return "open failed " + std::to_string(dbx_errno);
    }
    if (std::size_t(reader->item_count) != reader->item_offsets.size()) __builtin_trap();
    std::string seen = std::to_string(reader->item_count) + " " + std::to_string(reader->header_item_count) + "\n";
    DbxScan* scan = dbx_scan(reader, true);
    if (scan == nullptr) __builtin_trap();
    const DbxScanStats stats = dbx_scan_stats(scan);
    if (stats.found + stats.fragments != dbx_scan_count(scan) || stats.partial > dbx_scan_count(scan)) __builtin_trap();
    std::size_t given = 0, text_bytes = 0;
    std::uint32_t last_head = 0;
    DbxFoundMessage message;
    while (dbx_scan_next(scan, message)) {
        if (given > 0 && message.head_offset <= last_head) __builtin_trap();  // file order, each head once
        last_head = message.head_offset;
        ++given;
        text_bytes += message.text.size();
        if (text_bytes > file_size) __builtin_trap();
        if (message.fragment && (message.subject || message.date != 0)) __builtin_trap();
        seen += std::to_string(message.head_offset) + (message.partial ? "p" : "") + (message.fragment ? "f" : "") + "[" +
                message.text + "]" + message.subject.value_or("-") + std::to_string(message.date) + "\n";
    }
    if (given != dbx_scan_count(scan) || dbx_scan_next(scan, message)) __builtin_trap();
    dbx_scan_free(scan);
    dbx_close(reader);
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CompareMemoryWithFile(data, size, ScanFolder);
    return 0;
}
