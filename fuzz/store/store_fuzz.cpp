// Feeds arbitrary bytes to what reads a store's files: the classification of a file by its
// first bytes, and the folder list read into a tree. Whatever the list says, every folder must
// end up in the tree exactly once, with consistent parent and child links and a bounded depth.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "dbx/dbx.h"
#include "dbx/dbx_file_kind.h"
#include "dbx/folder_tree.h"

namespace {

void CheckTree(const DbxFolderTree& tree) {
    const int count = static_cast<int>(tree.nodes.size());
    if (tree.top >= count || tree.top_level >= count) __builtin_trap();
    std::vector<int> seen(tree.nodes.size(), 0);
    std::vector<int> stack = tree.roots;
    std::size_t visits = 0;
    while (!stack.empty()) {
        const int at = stack.back();
        stack.pop_back();
        if (at < 0 || at >= count || ++visits > tree.nodes.size()) __builtin_trap();
        ++seen[static_cast<std::size_t>(at)];
        for (int child : tree.nodes[static_cast<std::size_t>(at)].children) {
            if (child < 0 || child >= count || tree.nodes[static_cast<std::size_t>(child)].parent != at) __builtin_trap();
            stack.push_back(child);
        }
    }
    for (int i = 0; i < count; ++i) {
        if (seen[static_cast<std::size_t>(i)] != 1) __builtin_trap();
        if (dbx_folder_chain(tree, i).size() > static_cast<std::size_t>(kDbxMaxFolderDepth)) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const DbxFileClass file = dbx_classify_bytes(data, size, size);
    if (dbx_kind_description(file.kind) == nullptr) __builtin_trap();
    if (size == 0) return 0;  // fmemopen refuses an empty buffer
    std::vector<char> bytes(data, data + size);
    std::FILE* stream = fmemopen(bytes.data(), bytes.size(), "rb");
    if (stream == nullptr) return 0;
    DbxReader* reader = dbx_open_stream(stream);
    if (reader == nullptr) {
        std::fclose(stream);
        return 0;
    }
    // A kind the header names for certain is the kind the header check of the open finds.
    if (file.certain && (reader->kind == DbxKind::List) != (file.kind == DbxFileKind::FolderList)) __builtin_trap();
    std::vector<DbxFolderRecord> records;
    if (dbx_read_folder_list(reader, records)) {
        if (records.size() != static_cast<std::size_t>(reader->item_count)) __builtin_trap();
        CheckTree(dbx_build_folder_tree(records));
    }
    dbx_close(reader);
    return 0;
}
