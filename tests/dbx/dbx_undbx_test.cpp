// The reader and the scan against an independent extractor, undbx, in its recovery mode, on the
// same damaged files: every message it recovers we give too, and we give none twice.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "dbx/dbx_scan.h"
#include "dbx_test_support.h"
#include "fixtures/temp_folder.h"
#include "fixtures/linux_tools.h"

namespace {

namespace fs = std::filesystem;
using fixtures::DbxEmailSpec;
using fixtures::DbxFileBuilder;
using fixtures::DbxLayout;

std::string UndbxPath() {
    for (const char* dir : {"/usr/bin", "/usr/local/bin"}) {
        const std::string path = std::string(dir) + "/undbx";
        if (fixtures::CanRunLinuxTool(path.c_str())) return path;
    }
    return "";
}

std::string Quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The .eml files undbx -r writes for one folder file: text -> how many times.
std::map<std::string, int> UndbxRecovers(const std::string& dbx, const std::string& out) {
    const std::string command = Quoted(UndbxPath()) + " -r -v 0 " + Quoted(dbx) + " " + Quoted(out) + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::map<std::string, int> texts;
    if (!fs::exists(out)) return texts;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        if (entry.is_regular_file() && entry.path().extension() == ".eml") ++texts[fixtures::ReadFile(entry.path().string())];
    }
    return texts;
}

// What we give: the texts the index reaches and those the scan finds, fragments included (undbx
// gives every chain that holds text). text -> how many times.
std::map<std::string, int> WeRecover(const std::string& dbx) {
    std::map<std::string, int> texts;
    DbxReader* reader = dbx_open_with(dbx.c_str(), DbxCountCheck::TreeIsTruth);
    EXPECT_NE(reader, nullptr) << dbx << ": " << dbx_errors[dbx_errno];
    if (reader == nullptr) return texts;
    for (std::int32_t slot = reader->item_count - 1; slot >= 0; --slot) {
        dbx_test::EmailPtr email(static_cast<DbxEmail*>(dbx_get(reader, slot)));
        if (email && email->message_text) ++texts[*email->message_text];
    }
    DbxScan* scan = dbx_scan(reader, true);
    DbxFoundMessage message;
    while (dbx_scan_next(scan, message)) ++texts[message.text];
    dbx_scan_free(scan);
    dbx_close(reader);
    return texts;
}

std::string MessageText(int n, std::size_t size) {
    std::string text = "From: <a" + std::to_string(n) + "@example.org>\r\nTo: <b@example.org>\r\nSubject: Note " +
                       std::to_string(n) + "\r\nDate: Tue, 3 Mar 2009 10:00:00 +0100\r\nMessage-ID: <" +
                       std::to_string(n) + "@example.org>\r\n\r\n";
    while (text.size() < size) text += "line " + std::to_string(text.size()) + " of note " + std::to_string(n) + "\r\n";
    return text;
}

DbxEmailSpec Email(int n, std::size_t size) {
    DbxEmailSpec email;
    email.subject = "Note " + std::to_string(n);
    email.sender_address = "a" + std::to_string(n) + "@example.org";
    email.text = MessageText(n, size);
    return email;
}

// The damaged and deleted-message files the comparison runs over, by name.
std::map<std::string, std::string> DamagedFiles() {
    std::map<std::string, std::string> files;
    DbxLayout layout;
    DbxFileBuilder builder;
    builder.SetEntriesPerNode(3);
    for (int n = 0; n < 28; ++n) {
        if (n % 4 == 1) {
            builder.AddDeletedEmail(Email(n, 300 + std::size_t(n) * 150));
        } else {
            builder.AddEmail(Email(n, 300 + std::size_t(n) * 150));
        }
    }
    const std::string good = builder.Build(layout);
    files["deleted"] = good;

    std::string rootless = good;
    fixtures::OverwriteWithZeros(rootless, layout.root_offset, fixtures::kDbxNodeHeaderSize);
    files["root-zeroed"] = rootless;

    std::string leafless = good;
    fixtures::OverwriteWithZeros(leafless, layout.nodes.front().offset, fixtures::kDbxNodeHeaderSize);
    files["node-zeroed"] = leafless;

    for (std::int32_t count : {1, 1000}) {
        std::string counted = good;
        fixtures::PutLe32(counted, fixtures::kDbxItemCountAt, static_cast<std::uint32_t>(count));
        files["count-" + std::to_string(count)] = counted;
    }

    std::string cut_chain = good;
    const auto& long_chain = layout.items[20].chain_blocks[0];
    fixtures::CutAt(cut_chain, long_chain[long_chain.size() / 2] + 100);
    files["cut-in-chain"] = cut_chain;

    std::string cut_index = good;
    fixtures::CutAt(cut_index, layout.nodes[layout.nodes.size() / 2].offset + 30);
    files["cut-in-index"] = cut_index;

    // Chains that loop, cross and share blocks, among deleted messages.
    std::string bent = good;
    auto block = [&](int item, int b) { return layout.items[std::size_t(item)].chain_blocks[0][std::size_t(b)]; };
    fixtures::SetBlockNext(bent, block(5, 2), block(5, 0));  // back to its head
    fixtures::SetBlockNext(bent, block(9, 0), block(13, 1));  // 9 and 13 cross
    fixtures::SetBlockNext(bent, block(13, 0), block(9, 1));
    fixtures::SetBlockNext(bent, block(17, 1), block(21, 1));  // 17 shares 21's tail
    files["bent-chains"] = bent;

    // Chains that do not begin like a message: prose, an empty text, a text of other blocks.
    DbxEmailSpec prose = Email(40, 900);
    prose.text = "no header here: just words\r\n" + std::string(900, 'x');
    DbxEmailSpec empty = Email(41, 0);
    empty.text = "";
    DbxEmailSpec other_blocks = Email(42, 1200);
    other_blocks.block_size = 256;
    files["not-messages"] =
        DbxFileBuilder().AddEmail(Email(43, 700)).AddDeletedEmail(prose).AddDeletedEmail(empty).AddDeletedEmail(other_blocks).Build();
    return files;
}

class DbxAgainstUndbx : public testing::Test {
protected:
    void SetUp() override {
        if (UndbxPath().empty()) GTEST_SKIP() << "undbx is not installed (Debian package undbx); comparison skipped";
    }

    // Every message undbx recovers from the file we give as well, and we give nothing twice.
    void Compare(const std::string& name, const std::string& dbx) {
        const std::map<std::string, int> theirs = UndbxRecovers(dbx, dir_ / ("undbx-" + name));
        const std::map<std::string, int> ours = WeRecover(dbx);
        for (const auto& [text, times] : ours) EXPECT_EQ(times, 1) << name << ": given twice: " << text.substr(0, 120);
        std::size_t missing = 0;
        for (const auto& [text, times] : theirs) {
            if (ours.count(text) == 0) {
                ++missing;
                ADD_FAILURE() << name << ": undbx recovers a message we do not: " << text.substr(0, 200);
            }
        }
        std::printf("[ %-14s ] undbx -r: %zu messages, ours: %zu, missing: %zu\n", name.c_str(), theirs.size(), ours.size(),
                    missing);
    }

    fixtures::TempFolder dir_;
};

TEST_F(DbxAgainstUndbx, BuiltDamagedFiles) {
    for (const auto& [name, bytes] : DamagedFiles()) {
        const std::string path = dir_ / (name + ".dbx");
        fixtures::WriteFile(path, bytes);
        Compare(name, path);
    }
}

TEST_F(DbxAgainstUndbx, RealSamplesAndACopyWithItsRootZeroed) {
    const std::string inbox = std::string(OMBRIK_SAMPLES_DIR) + "/dbx/Inbox.dbx";
    if (!fs::exists(inbox)) GTEST_SKIP() << "no sample folder files in " << OMBRIK_SAMPLES_DIR;
    for (const char* name : {"Inbox.dbx", "Outbox.dbx"}) {
        const std::string copy = dir_ / name;
        fixtures::WriteFile(copy, fixtures::ReadFile(std::string(OMBRIK_SAMPLES_DIR) + "/dbx/" + name));
        Compare(name, copy);
    }
    std::string bytes = fixtures::ReadFile(inbox);
    const std::uint32_t root = fixtures::GetLe32(bytes, fixtures::kDbxRootNodeAt);
    fixtures::OverwriteWithZeros(bytes, root, 64);
    const std::string zeroed = dir_ / "Inbox-root-zeroed.dbx";
    fixtures::WriteFile(zeroed, bytes);
    Compare("Inbox-zeroed", zeroed);
    EXPECT_EQ(WeRecover(zeroed), WeRecover(dir_ / "Inbox.dbx"));
}

}  // namespace
