// Writes the scan fuzzer's seed corpus: small folder files with deleted messages and damaged
// indexes and chains, made by the test-side builder. Usage: fuzz_dbx_scan_seeds OUTPUT_DIR
#include <cstdio>
#include <string>

#include "fixtures/dbx_builder.h"
#include "fixtures/temp_folder.h"

namespace {

using fixtures::DbxFileBuilder;
using fixtures::DbxLayout;

constexpr std::size_t kSmallHeader = 0xE8;  // just up to the root offset: keeps seeds small

fixtures::DbxEmailSpec Email(int i, std::size_t text_size) {
    fixtures::DbxEmailSpec email;
    email.subject = "S" + std::to_string(i);
    email.text = "Subject: S" + std::to_string(i) + "\r\nDate: 2 Jan 1999 03:04:05 +0100\r\n\r\n";
    email.text->append(text_size, static_cast<char>('a' + i % 26));
    return email;
}

// Four messages, the second and fourth deleted; the first two span two blocks each.
DbxFileBuilder Folder() {
    DbxFileBuilder builder;
    builder.SetHeaderSize(kSmallHeader).SetEntriesPerNode(1);
    builder.AddEmail(Email(0, 600)).AddDeletedEmail(Email(1, 600)).AddEmail(Email(2, 40)).AddDeletedEmail(Email(3, 10));
    return builder;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    DbxLayout layout;
    const std::string good = Folder().Build(layout);
    fixtures::WriteFile(dir + "/deleted_messages.dbx", good);

    std::string rootless = good;
    fixtures::OverwriteWithZeros(rootless, layout.root_offset, fixtures::kDbxNodeHeaderSize);
    fixtures::WriteFile(dir + "/root_zeroed.dbx", rootless);

    std::string wrong_count = good;
    fixtures::PutLe32(wrong_count, fixtures::kDbxItemCountAt, 1000);
    fixtures::WriteFile(dir + "/wrong_header_count.dbx", wrong_count);

    std::string cut = good;
    fixtures::CutAt(cut, layout.items[1].chain_blocks[0][1] + 30);
    fixtures::WriteFile(dir + "/cut_in_chain.dbx", cut);

    // Loops, crossings and a shared block among the chains.
    std::string bent = good;
    const auto& a = layout.items[0].chain_blocks[0];
    const auto& b = layout.items[1].chain_blocks[0];
    fixtures::SetBlockNext(bent, a[1], a[0]);
    fixtures::SetBlockNext(bent, b[0], a[1]);
    fixtures::SetBlockNext(bent, layout.items[3].chain_blocks[0][0], b[1]);
    fixtures::WriteFile(dir + "/bent_chains.dbx", bent);
    return 0;
}
