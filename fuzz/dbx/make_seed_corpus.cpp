// Writes the fuzzer's seed corpus: small folder files of every shape the reader knows,
// some well-formed and some damaged. Usage: fuzz_dbx_seeds OUTPUT_DIR
#include <cstdio>
#include <string>

#include "fixtures/dbx_builder.h"

namespace {

using fixtures::DbxFileBuilder;
using fixtures::DbxLayout;

constexpr std::size_t kSmallHeader = 0xE8;  // just up to the root offset: keeps seeds small

fixtures::DbxEmailSpec Email(int i, std::size_t text_size, std::size_t block_size) {
    fixtures::DbxEmailSpec email;
    email.subject = "S" + std::to_string(i);
    email.sender_address = "a" + std::to_string(i) + "@b.c";
    email.date = 0x01D7EF1328000000ull + static_cast<std::uint64_t>(i);
    email.text = std::string(text_size, static_cast<char>('a' + i % 26));
    email.block_size = block_size;
    return email;
}

DbxFileBuilder Folder(int count, int per_node, std::size_t text_size, std::size_t block_size) {
    DbxFileBuilder builder;
    builder.SetHeaderSize(kSmallHeader).SetEntriesPerNode(per_node);
    for (int i = 0; i < count; ++i) builder.AddEmail(Email(i, text_size, block_size));
    return builder;
}

void Write(const std::string& dir, const std::string& name, const std::string& bytes) {
    std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    if (f == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];

    Write(dir, "empty_email_folder.dbx", DbxFileBuilder().SetHeaderSize(kSmallHeader).Build());
    Write(dir, "one_email_two_blocks.dbx", Folder(1, 0x7F, 40, 32).Build());
    Write(dir, "five_emails_two_levels.dbx", Folder(5, 2, 20, 16).Build());
    Write(dir, "twelve_emails_binary_tree.dbx", Folder(12, 1, 8, 8).Build());

    DbxFileBuilder list(DbxKind::List);
    list.SetHeaderSize(kSmallHeader);
    list.AddListEntry({"Local Folders", std::nullopt, 1, 0}).AddListEntry({"Inbox", "Inbox.dbx", 4, 1});
    Write(dir, "folder_list.dbx", list.Build());

    // Every email tag, both text offset forms, repeated fields.
    fixtures::DbxRawRecord all_tags;
    all_tags.chains = {"first text", "second text"};
    all_tags.block_size = 8;
    std::string& data = all_tags.data;
    data.assign(4, '\0');
    all_tags.properties = {{0x04, 0, 0}, {0x84, 0, 1}, {0x80, 7}, {0x81, 3}};
    for (std::uint8_t tag : {0x01, 0x05, 0x07, 0x08, 0x0A, 0x0C, 0x0D, 0x0E, 0x12, 0x13, 0x14, 0x1A, 0x1B}) {
        all_tags.properties.push_back({tag, static_cast<std::uint32_t>(data.size())});
        data += "t" + std::to_string(tag) + "xxxxxx";
        data.push_back('\0');
    }
    Write(dir, "all_email_tags.dbx", DbxFileBuilder().SetHeaderSize(kSmallHeader).AddRawRecord(all_tags).Build());

    // Root at offset 0: the file header read as a node, as empty real folders have it.
    std::string root_zero = DbxFileBuilder().SetHeaderSize(kSmallHeader).Build();
    fixtures::PutLe32(root_zero, fixtures::kDbxRootNodeAt, 0);
    fixtures::PutByte(root_zero, fixtures::kDbxNodeEntryCountAt, 0xA3);
    fixtures::PutLe32(root_zero, fixtures::kDbxNodeFirstChildCountAt, 5);
    Write(dir, "root_at_zero.dbx", root_zero);

    // A text chain whose last block leads back to its first.
    DbxLayout layout;
    std::string looped = Folder(2, 0x7F, 30, 10).Build(layout);
    const auto& blocks = layout.items[0].chain_blocks[0];
    fixtures::PutLe32(looped, blocks.back() + fixtures::kDbxBlockNextAt, blocks.front());
    Write(dir, "looped_text_chain.dbx", looped);

    // An index node that is its own first child.
    std::string cyclic = Folder(3, 2, 4, 4).Build(layout);
    fixtures::PutLe32(cyclic, layout.nodes.front().offset + fixtures::kDbxNodeFirstChildAt, layout.root_offset);
    fixtures::PutLe32(cyclic, layout.nodes.front().offset + fixtures::kDbxNodeFirstChildCountAt, 2);
    Write(dir, "index_cycle.dbx", cyclic);

    // A header as Outlook Express writes it, file info included, with one bit of its class id
    // flipped; and a newsgroup's.
    DbxFileBuilder real;
    real.AddEmail(Email(1, 20, 512));
    std::string flipped = real.Build();
    flipped[4] = static_cast<char>(flipped[4] ^ 0x02);
    Write(dir, "real_header_flipped_class_id.dbx", flipped);
    DbxFileBuilder news;
    news.SetNewsAccount("00000002").AddEmail(Email(2, 20, 512));
    Write(dir, "newsgroup.dbx", news.Build());

    // Three records whose text offsets all name one chain.
    std::string shared = Folder(3, 0x7F, 40, 16).Build(layout);
    for (std::size_t i = 1; i < 3; ++i)
        fixtures::PutLe32(shared, layout.items[i].record_offset + fixtures::kDbxRecordHeaderSize + 4,
                          0x84u | (layout.items[0].chain_blocks[0][0] << 8));
    Write(dir, "shared_text_chain.dbx", shared);

    // A date entry past the body before the text offset; a header count the index disagrees
    // with; a node that does not name its own offset.
    fixtures::DbxRawRecord bad_entry;
    bad_entry.properties = {{0x80, 1}, {0x12, 0xFFFFFF}, {0x84, 0, 0}};
    bad_entry.chains = {"Subject: s\r\n\r\nb"};
    bad_entry.block_size = 16;
    Write(dir, "entry_past_the_body.dbx", DbxFileBuilder().SetHeaderSize(kSmallHeader).AddRawRecord(bad_entry).Build());
    Write(dir, "wrong_header_count.dbx", Folder(3, 2, 8, 8).SetHeaderItemCount(1000).Build());
    std::string unnamed = Folder(3, 2, 8, 8).Build(layout);
    fixtures::PutLe32(unnamed, layout.nodes.front().offset, 0);
    Write(dir, "node_without_its_offset.dbx", unnamed);
    return 0;
}
