#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "pst_test_util.h"
#include "store/pst/messaging/store.h"

using namespace pst;
using namespace pst_test;

TEST(PstStore, MinimalStorePassesStrictCheck) {
    auto dir = ScratchDir("minimal");
    auto path = dir / "min.pst";
    {
        auto store = messaging::Store::Create(path.string(), "Minimal");
        auto folder = store->AddFolder(store->ipm_subtree(), "Inbox.dbx");
        store->AddMessage(folder, MakeMessage("Hello", "Body text\r\n"));
        store->Close();
    }
    EXPECT_EQ(StoreProblems(path), "");
}

TEST(PstStore, RichAndManyMessages) {
    auto dir = ScratchDir("rich");
    auto path = dir / "rich.pst";
    {
        auto store = messaging::Store::Create(path.string(), "Rich");
        auto folder = store->AddFolder(store->ipm_subtree(), "Rich.dbx");
        store->AddMessage(folder, RichMessage());
        auto many = store->AddFolder(store->ipm_subtree(), "Many.dbx");
        for (int i = 0; i < 3000; ++i) store->AddMessage(many, MakeMessage("Message " + std::to_string(i), "Body " + std::to_string(i) + "\r\n", i));
        store->Close();
    }
    EXPECT_EQ(StoreProblems(path), "");
}

namespace {

std::string Str(const mapi::PropertyBag& bag, mapi::PropTag tag) { return bag.GetString(tag).value_or("<none>"); }

// Our own reader gives back what the writer was given.
void ExpectSameMessage(const mapi::Message& want, const mapi::Message& got) {
    for (const auto& [tag, value] : want.props.all()) {
        if (tag == 0x0E070003) continue;  // the store adds the has-attachments flag itself
        const auto* v = got.props.Find(tag);
        ASSERT_NE(v, nullptr) << std::hex << tag;
        EXPECT_TRUE(*v == value) << std::hex << tag;
    }
    for (const auto& [name, value] : want.props.named()) {
        const auto* v = got.props.FindNamed(name);
        ASSERT_NE(v, nullptr) << name.name;
        EXPECT_TRUE(*v == value) << name.name;
    }
    EXPECT_EQ((got.props.GetInt32(0x0E070003).value_or(0) & 0x10) != 0, !want.attachments.empty());
    ASSERT_EQ(want.recipients.size(), got.recipients.size());
    for (std::size_t i = 0; i < want.recipients.size(); ++i) {
        EXPECT_EQ(Str(want.recipients[i].props, 0x3001001F), Str(got.recipients[i].props, 0x3001001F));
        EXPECT_EQ(Str(want.recipients[i].props, 0x3003001F), Str(got.recipients[i].props, 0x3003001F));
        EXPECT_EQ(want.recipients[i].props.GetInt32(0x0C150003), got.recipients[i].props.GetInt32(0x0C150003));
    }
    ASSERT_EQ(want.attachments.size(), got.attachments.size());
    for (std::size_t i = 0; i < want.attachments.size(); ++i) {
        const auto& wa = want.attachments[i];
        const auto& ga = got.attachments[i];
        EXPECT_EQ(Str(wa.props, 0x3704001F), Str(ga.props, 0x3704001F));
        if (const auto* data = wa.props.GetBinary(0x37010102)) {
            const auto* got_data = ga.props.GetBinary(0x37010102);
            ASSERT_NE(got_data, nullptr);
            EXPECT_TRUE(*data == *got_data);
        }
        ASSERT_EQ(wa.embedded != nullptr, ga.embedded != nullptr);
        if (wa.embedded) ExpectSameMessage(*wa.embedded, *ga.embedded);
    }
}

}  // namespace

TEST(PstStore, ReadsBackWhatItWroteAndAppendsAfterReopening) {
    auto dir = ScratchDir("reopen");
    auto path = dir / "reopen.pst";
    const mapi::Message rich = RichMessage();
    {
        auto store = messaging::Store::Create(path.string(), "Reopened");
        auto folder = store->AddFolder(store->ipm_subtree(), "Inbox.dbx");
        store->AddMessage(folder, rich);
        store->Close();
    }
    {
        auto store = messaging::Store::Open(path.string(), true);
        EXPECT_EQ(store->display_name(), "Reopened");
        auto folder = store->FindFolderByPath("Inbox.dbx");
        ASSERT_TRUE(folder);
        store->AddMessage(*folder, MakeMessage("Second run", "Appended\r\n", 9));
        auto other = store->AddFolder(store->ipm_subtree(), "Sent.dbx");
        store->AddMessage(other, MakeMessage("Other folder", "x\r\n", 10));
        store->Close();
    }
    auto store = messaging::Store::Open(path.string(), false);
    auto folder = store->FindFolderByPath("Inbox.dbx");
    ASSERT_TRUE(folder);
    auto ids = store->Messages(*folder);
    ASSERT_EQ(ids.size(), 2u);
    ExpectSameMessage(rich, store->ReadMessage(ids[0]));
    EXPECT_EQ(store->ReadMessage(ids[1]).props.GetString(0x0037001F), "Second run");
    EXPECT_EQ(store->GetFolder(*folder).content_count, 2);
    auto top = store->GetFolder(store->ipm_subtree());
    EXPECT_TRUE(top.has_subfolders);
    EXPECT_EQ(store->Subfolders(store->ipm_subtree()).size(), 3u);
    EXPECT_FALSE(store->FindFolderByPath("Missing.dbx"));
    EXPECT_EQ(StoreProblems(path), "");
}

// A contents table of many blocks of rows is written block by block while it is built; it must
// read back in full, and be replaced cleanly when a later run adds to the folder.
TEST(PstStore, ContentsTableOfManyRowBlocksIsReplacedOnAppend) {
    auto dir = ScratchDir("rowblocks");
    auto path = dir / "rowblocks.pst";
    constexpr int kFirst = 700;
    {
        auto store = messaging::Store::Create(path.string(), "Rows");
        auto folder = store->AddFolder(store->ipm_subtree(), "Inbox.dbx");
        for (int i = 0; i < kFirst; ++i) store->AddMessage(folder, MakeMessage("Row " + std::to_string(i), "b\r\n", i));
        store->Close();
    }
    EXPECT_EQ(StoreProblems(path), "");
    {
        auto store = messaging::Store::Open(path.string(), true);
        auto folder = store->FindFolderByPath("Inbox.dbx");
        ASSERT_TRUE(folder);
        store->AddMessage(*folder, MakeMessage("Row last", "b\r\n", kFirst));
        store->Close();
    }
    auto store = messaging::Store::Open(path.string(), false);
    auto folder = store->FindFolderByPath("Inbox.dbx");
    ASSERT_TRUE(folder);
    auto ids = store->Messages(*folder);
    ASSERT_EQ(ids.size(), static_cast<std::size_t>(kFirst + 1));
    EXPECT_EQ(store->ReadMessage(ids[0]).props.GetString(0x0037001F), "Row 0");
    EXPECT_EQ(store->ReadMessage(ids[kFirst - 1]).props.GetString(0x0037001F), "Row " + std::to_string(kFirst - 1));
    EXPECT_EQ(store->ReadMessage(ids[kFirst]).props.GetString(0x0037001F), "Row last");
    EXPECT_EQ(store->GetFolder(*folder).content_count, kFirst + 1);
    EXPECT_EQ(StoreProblems(path), "");
}

// Stores past 32 MB carry FMap pages and past about 250 MB FPMap pages; OMBRIK_PST_LARGE_MB
// sets the size written here (the default keeps the test quick but past the first FMap).
TEST(PstStore, LargeStoreKeepsItsMapPages) {
    std::size_t megabytes = 40;
    if (const char* env = std::getenv("OMBRIK_PST_LARGE_MB")) megabytes = std::strtoul(env, nullptr, 10);
    auto dir = ScratchDir("large");
    auto path = dir / "large.pst";
    const std::size_t per_message = 1 << 20;
    {
        auto store = messaging::Store::Create(path.string(), "Large");
        auto folder = store->AddFolder(store->ipm_subtree(), "Large.dbx");
        for (std::size_t i = 0; i < megabytes; ++i) {
            auto m = MakeMessage("Large " + std::to_string(i), "Body\r\n", static_cast<int>(i));
            m.attachments.push_back(FileAttachment("blob.bin", Pattern(per_message, static_cast<std::uint8_t>(i))));
            store->AddMessage(folder, m);
        }
        store->Close();
    }
    EXPECT_GT(std::filesystem::file_size(path), megabytes * per_message);
    auto store = messaging::Store::Open(path.string(), false);
    auto ids = store->Messages(*store->FindFolderByPath("Large.dbx"));
    ASSERT_EQ(ids.size(), megabytes);
    auto last = store->ReadMessage(ids.back());
    ASSERT_EQ(last.attachments.size(), 1u);
    EXPECT_TRUE(*last.attachments[0].props.GetBinary(0x37010102) ==
                Pattern(per_message, static_cast<std::uint8_t>(megabytes - 1)));
    EXPECT_EQ(StoreProblems(path), "");
}

// Damaged stores are reported, never trusted: reading and checking them ends in an error, not in
// a crash or a runaway allocation (the unit tests also run under the sanitizers).
TEST(PstStore, DamagedStoresFailCleanly) {
    auto dir = ScratchDir("damaged");
    auto path = dir / "good.pst";
    {
        auto store = messaging::Store::Create(path.string(), "Good");
        auto folder = store->AddFolder(store->ipm_subtree(), "Inbox.dbx");
        store->AddMessage(folder, RichMessage());
        for (int i = 0; i < 40; ++i) store->AddMessage(folder, MakeMessage("M" + std::to_string(i), "b", i));
        store->Close();
    }
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    int failures_seen = 0;
    for (int round = 0; round < 150; ++round) {
        std::string damaged = bytes;
        for (int k = 0; k < 6; ++k) {
            const std::size_t at = 0x4200 + next() % (damaged.size() - 0x4200);
            damaged[at] = static_cast<char>(damaged[at] ^ (1 + next() % 255));
        }
        auto copy = dir / "damaged.pst";
        {
            std::ofstream out(copy, std::ios::binary | std::ios::trunc);
            out << damaged;
        }
        auto report = pst::CheckPstFile(copy.string());
        if (!report.ok()) ++failures_seen;
        try {
            auto store = messaging::Store::Open(copy.string(), false);
            auto folder = store->FindFolderByPath("Inbox.dbx");
            if (!folder) continue;
            for (auto id : store->Messages(*folder)) store->ReadMessage(id);
        } catch (const std::exception&) {
            // expected for most rounds
        }
    }
    EXPECT_GT(failures_seen, 100);
}
