// Writes COUNT small Outlook Express stores below ROOT (ROOT/store<i>/Outlook Express, each a
// folder list and an Inbox of MESSAGES messages of the small corpus, different in every store):
// the batch benchmark's input.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_corpus.h"
#include "dbx/folder_tree.h"
#include "tests/fixtures/dbx_builder.h"
#include "tests/fixtures/store_builder.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s ROOT COUNT MESSAGES\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const std::size_t count = std::strtoull(argv[2], nullptr, 10), messages = std::strtoull(argv[3], nullptr, 10);
    std::vector<fixtures::DbxFolderSpec> folders = fixtures::StoreTopFolders();
    fixtures::DbxFolderSpec inbox = fixtures::ListedFolder(4, fixtures::kLocalFoldersId, "Inbox", "Inbox.dbx");
    inbox.store_type = static_cast<std::uint32_t>(DbxStoreType::Local);
    folders.push_back(inbox);
    for (std::size_t s = 0; s < count; ++s) {
        const std::string directory = root + "/store" + std::to_string(s) + "/Outlook Express";
        std::filesystem::create_directories(directory);
        fixtures::WriteStore(directory, folders, {});
        fixtures::WriteDbxFile(directory + "/Inbox.dbx", messages, [&](std::size_t i) {
            const std::size_t n = s * messages + i;
            fixtures::DbxEmailSpec spec;
            spec.subject = bench::MessageSubject(n);
            spec.sender_address = "sender" + std::to_string(n % 97) + "@example.com";
            spec.date = 128808448290000000ULL + n * 600000000ULL;
            spec.text = bench::MessageText(bench::Corpus::Small, n);
            return spec;
        });
    }
    return 0;
}
