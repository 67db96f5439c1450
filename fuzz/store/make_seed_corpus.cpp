// Writes the store fuzzer's seed corpus: folder lists of the shapes real stores show and the
// damaged ones the tree must survive. Usage: fuzz_store_seeds OUTPUT_DIR
#include <cstdio>
#include <string>
#include <vector>

#include "fixtures/store_builder.h"
#include "fixtures/temp_folder.h"

namespace {

using fixtures::DbxFolderSpec;
using fixtures::ListedFolder;

std::string SmallList(std::vector<DbxFolderSpec> folders) {
    fixtures::DbxFileBuilder builder(DbxKind::List);
    builder.SetHeaderSize(0xE8).SetEntriesPerNode(3);
    for (const auto& folder : folders) builder.AddRawRecord(fixtures::MakeFolderRecord(folder));
    return builder.Build();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<DbxFolderSpec> nested = fixtures::StoreTopFolders();
    nested.push_back(ListedFolder(4, fixtures::kLocalFoldersId, "Inbox", "Inbox.dbx"));
    nested.push_back(ListedFolder(10, fixtures::kLocalFoldersId, "Lists", ""));
    nested.push_back(ListedFolder(12, 11, "hal-commit", "hal-commit.dbx"));
    nested.push_back(ListedFolder(11, 10, "hal", "hal.dbx"));
    fixtures::WriteFile(dir + "/nested_list.dbx", SmallList(nested));

    std::vector<DbxFolderSpec> damaged = fixtures::StoreTopFolders();
    damaged.push_back(ListedFolder(20, 21, "ring a", "a.dbx"));
    damaged.push_back(ListedFolder(21, 20, "ring b", "b.dbx"));
    damaged.push_back(ListedFolder(22, 22, "own parent", ""));
    damaged.push_back(ListedFolder(23, 99, "orphan", "o.dbx"));
    damaged.push_back(ListedFolder(1, 0, "second local", ""));
    fixtures::WriteFile(dir + "/loops_and_orphans.dbx", SmallList(damaged));

    std::vector<DbxFolderSpec> chain;
    for (std::uint32_t i = 0; i < 70; ++i) chain.push_back(ListedFolder(i + 1, i, "d", ""));
    fixtures::WriteFile(dir + "/deep_chain.dbx", SmallList(chain));
    return 0;
}
