#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <atomic>

#include "pst_test_util.h"
#include "store/pst/messaging/message_identity.h"
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
        // A message that tells no time gets none as its delivery time, not the conversion's.
        mapi::Message undated = MakeMessage("Undated", "Body text\r\n");
        undated.props.Remove(0x00390040);
        undated.props.Remove(0x0E060040);
        store->AddMessage(folder, undated);
        store->Close();
    }
    EXPECT_EQ(StoreProblems(path), "");
    auto store = messaging::Store::Open(path.string(), false);
    const auto folder = store->FindFolderByPath("Inbox.dbx");
    ASSERT_TRUE(folder);
    for (auto id : store->Messages(*folder)) {
        const mapi::Message m = store->ReadMessage(id);
        EXPECT_EQ(m.props.Has(0x0E060040), m.props.GetString(0x0037001F) == "Hello");
    }
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

namespace {

mapi::Message WithMessageId(mapi::Message m, const std::string& id) {
    m.props.Set(0x1035001F, id);
    return m;
}

}  // namespace

// The same message (by Message-ID, date and subject; without a Message-ID by content) is not
// added twice to a folder, in one session or in a later one that finds it in the file.
TEST(PstStore, MessageAlreadyInTheFolderIsNotAddedAgain) {
    auto path = ScratchDir("duplicates") / "dup.pst";
    auto one = [] { return WithMessageId(MakeMessage("One", "first body\r\n", 1), "<1@example.com>"); };
    const mapi::Message with_id = one();
    const mapi::Message without_id = RichMessage();
    std::uint32_t inbox = 0, other = 0;
    {
        auto store = messaging::Store::Create(path.string(), "Duplicates");
        inbox = store->AddFolder(store->ipm_subtree(), "Inbox.dbx");
        other = store->AddFolder(store->ipm_subtree(), "Other.dbx");
        EXPECT_FALSE(store->AddMessageUnlessPresent(inbox, with_id).already_there);
        const auto again = store->AddMessageUnlessPresent(inbox, with_id);
        EXPECT_TRUE(again.already_there);
        EXPECT_EQ(again.nid, 0u);
        // The Message-ID, date and subject decide; a body that differs does not make another message.
        mapi::Message edited = one();
        edited.props.Set(0x1000001F, std::string("edited body\r\n"));
        EXPECT_TRUE(store->AddMessageUnlessPresent(inbox, edited).already_there);
        mapi::Message resubjected = one();
        resubjected.props.Set(0x0037001F, std::string("One, again"));
        EXPECT_FALSE(store->AddMessageUnlessPresent(inbox, resubjected).already_there);
        mapi::Message redated = one();
        redated.props.Set(0x00390040, mapi::Filetime{kTicks2020 + 1});
        EXPECT_FALSE(store->AddMessageUnlessPresent(inbox, redated).already_there);
        EXPECT_FALSE(store->AddMessageUnlessPresent(other, with_id).already_there);  // another folder

        // Without a Message-ID the whole content decides, attachments included.
        store->AddMessage(inbox, without_id);  // added the plain way: still known afterwards
        EXPECT_TRUE(store->AddMessageUnlessPresent(inbox, without_id).already_there);
        mapi::Message other_attachment = RichMessage();
        other_attachment.attachments[0].props.Set(0x37010102, Pattern(100, 9));
        EXPECT_FALSE(store->AddMessageUnlessPresent(inbox, other_attachment).already_there);
        // A search key of its own does not make two messages without a Message-ID the same: the
        // import keys them by date and subject alone, and their bodies differ.
        mapi::Message keyed_a = MakeMessage("Same", "body a\r\n", 1), keyed_b = MakeMessage("Same", "body b\r\n", 1);
        for (auto* m : {&keyed_a, &keyed_b}) m->props.Set(0x300B0102, Pattern(16, 3));
        EXPECT_FALSE(store->AddMessageUnlessPresent(inbox, keyed_a).already_there);
        EXPECT_FALSE(store->AddMessageUnlessPresent(inbox, keyed_b).already_there);
        EXPECT_TRUE(store->AddMessageUnlessPresent(inbox, keyed_b).already_there);
        EXPECT_EQ(store->Messages(inbox).size(), 7u);
        store->Close();
    }
    EXPECT_EQ(StoreProblems(path), "");
    auto store = messaging::Store::Open(path.string(), true);
    for (const auto* m : {&with_id, &without_id}) EXPECT_TRUE(store->AddMessageUnlessPresent(inbox, *m).already_there);
    EXPECT_EQ(store->Messages(inbox).size(), 7u);
    EXPECT_EQ(store->GetFolder(inbox).content_count, 7);
    // The content digest is what the message keeps as its search key.
    std::size_t keyed = 0;
    for (auto id : store->Messages(inbox)) {
        const mapi::Message m = store->ReadMessage(id);
        const auto* key = m.props.GetBinary(0x300B0102);
        ASSERT_NE(key, nullptr);
        if (*key == messaging::ContentDigest(without_id)) ++keyed;
    }
    EXPECT_EQ(keyed, 1u);
    store->Close();
}

// Outlook's own messages are looked at too: a store it made is read for what it holds without
// a failure, and a copy of one of its messages is recognised.
TEST(PstStore, MessagesOfAnOutlookStoreAreKnown) {
    const auto samples = std::filesystem::path(OMBRIK_SAMPLES_DIR) / "pst";
    if (!std::filesystem::exists(samples / "support.pst")) GTEST_SKIP() << "samples absent";
    auto path = ScratchDir("duplicates-outlook") / "support.pst";
    std::filesystem::copy_file(samples / "support.pst", path);
    auto store = messaging::Store::Open(path.string(), true);
    std::optional<std::uint32_t> folder;
    std::vector<std::uint32_t> pending = {store->ipm_subtree()};
    for (std::size_t guard = 0; !pending.empty() && !folder && guard < 100; ++guard) {
        auto f = pending.back();
        pending.pop_back();
        if (!store->Messages(f).empty()) folder = f;
        for (const auto& sub : store->Subfolders(f))
            if ((sub.nid & 0x1F) == 2) pending.push_back(sub.nid);
    }
    ASSERT_TRUE(folder);
    const auto before = store->Messages(*folder).size();
    const mapi::Message copy = store->ReadMessage(store->Messages(*folder).front());
    EXPECT_TRUE(store->AddMessageUnlessPresent(*folder, copy).already_there);
    EXPECT_EQ(store->Messages(*folder).size(), before);
}

// Messages encoded ahead on other threads, while the adding thread meets named properties the
// store has never seen, come out as if each had been added alone in its turn: the same named
// properties under the same names, and the duplicates still recognised.
TEST(PstStore, MessagesPreparedAheadOnOtherThreadsAreStoredAsIfAddedInTurn) {
    auto named = [](const std::string& name, mapi::PropType type = mapi::PropType::Unicode) {
        mapi::NamedProperty np;
        np.type = type;
        np.property_set = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};
        np.name = name;
        return np;
    };
    // Message i uses a named property of its own every fifth message (new to the store when it
    // comes) and a shared one otherwise, on itself and on an attachment; every seventh embeds one.
    constexpr int kCount = 60;
    auto make = [&](int i) {
        mapi::Message m = WithMessageId(MakeMessage("Prepared " + std::to_string(i), "Body " + std::to_string(i) + "\r\n", i),
                                        "<" + std::to_string(i) + "@prepared.example>");
        const std::string name = i % 5 == 0 ? "Own" + std::to_string(i) : "Shared";
        m.props.SetNamed(named(name), std::string("value " + std::to_string(i)));
        mapi::Attachment att;
        att.props.Set(0x3704001F, std::string("a" + std::to_string(i) + ".txt"));
        att.props.SetNamed(named("Att" + name, mapi::PropType::Int32), std::int32_t{i});
        if (i % 7 == 0)
            att.embedded = std::make_unique<mapi::Message>(MakeMessage("Inner " + std::to_string(i), "x\r\n", i));
        else
            att.props.Set(0x37010102, Pattern(40 + i, static_cast<std::uint8_t>(i)));
        m.attachments.push_back(std::move(att));
        return m;
    };
    std::vector<mapi::Message> messages;
    for (int i = 0; i < kCount; ++i) messages.push_back(make(i));

    auto path = ScratchDir("prepared") / "prepared.pst";
    {
        auto store = messaging::Store::Create(path.string(), "Prepared");
        const auto inbox = store->AddFolder(store->ipm_subtree(), "Inbox.dbx");
        // The shared names become known with the first message; the others are encoded by two
        // threads while this one adds messages of names never seen before to another folder.
        EXPECT_FALSE(store->AddMessageUnlessPresent(inbox, messages[0]).already_there);
        EXPECT_FALSE(store->AddMessageUnlessPresent(inbox, messages[1]).already_there);
        const auto other = store->AddFolder(store->ipm_subtree(), "Other.dbx");
        std::vector<messaging::Store::Prepared> prepared(kCount);
        std::atomic<int> next{2};
        auto encode = [&] {
            for (int i; (i = next++) < kCount;) prepared[static_cast<std::size_t>(i)] = store->Prepare(messages[static_cast<std::size_t>(i)]);
        };
        std::thread a(encode), b(encode);
        for (int k = 0; k < 20; ++k) {
            mapi::Message intruder = MakeMessage("Intruder " + std::to_string(k), "y\r\n", 100 + k);
            intruder.props.SetNamed(named("Intruder" + std::to_string(k)), std::string("z"));
            store->AddMessage(other, intruder);
        }
        a.join();
        b.join();
        for (int i = 2; i < kCount; ++i) {
            const auto outcome =
                store->AddPreparedUnlessPresent(inbox, messages[static_cast<std::size_t>(i)], std::move(prepared[static_cast<std::size_t>(i)]));
            EXPECT_FALSE(outcome.already_there) << i;
        }
        // Prepared again after they were added: known, nothing added.
        for (int i : {0, 7, 33})
            EXPECT_TRUE(store->AddPreparedUnlessPresent(inbox, messages[static_cast<std::size_t>(i)],
                                                        store->Prepare(messages[static_cast<std::size_t>(i)]))
                            .already_there);
        EXPECT_THROW(store->AddPreparedUnlessPresent(inbox, messages[0], nullptr), PstError);
        store->Close();
    }
    EXPECT_EQ(StoreProblems(path), "");
    auto store = messaging::Store::Open(path.string(), false);
    auto inbox = store->FindFolderByPath("Inbox.dbx");
    ASSERT_TRUE(inbox);
    const auto ids = store->Messages(*inbox);
    ASSERT_EQ(ids.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        SCOPED_TRACE(i);
        const mapi::Message got = store->ReadMessage(ids[static_cast<std::size_t>(i)]);
        ExpectSameMessage(messages[static_cast<std::size_t>(i)], got);
        ASSERT_EQ(got.attachments.size(), 1u);
        const std::string name = i % 5 == 0 ? "Own" + std::to_string(i) : "Shared";
        const auto* att_value = got.attachments[0].props.FindNamed(named("Att" + name, mapi::PropType::Int32));
        ASSERT_NE(att_value, nullptr);
        EXPECT_TRUE(*att_value == mapi::PropValue(std::int32_t{i}));
    }
}

// Large values are written from the message itself rather than from copies: bodies, binary
// values of the message and its attachments (named ones too), at every depth, whether the
// message was prepared ahead or built when added, and a large value that the contents row holds.
TEST(PstStore, LargeValuesAreStoredWholeWhenPreparedAheadOrAdded) {
    mapi::NamedProperty blob;
    blob.type = mapi::PropType::Binary;
    blob.property_set = {0x10, 0x0F, 0x0E, 0x0D, 0x0C, 0x0B, 0x0A, 0x09, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
    blob.name = "Blob";
    auto make = [&](int i, bool embed) {
        mapi::Message m = WithMessageId(MakeMessage("Large " + std::to_string(i), std::string(150000, 'b') + "\r\n", i),
                                        "<large" + std::to_string(i) + "@example>");
        m.props.Set(0x00710102, Pattern(9000, 7));  // conversation index, a column of the contents table
        m.props.SetNamed(blob, Pattern(20000, 8));
        m.attachments.push_back(FileAttachment("big.bin", Pattern(300001, static_cast<std::uint8_t>(i))));
        if (embed) {
            mapi::Attachment emb;
            emb.props.Set(0x37050003, std::int32_t{5});
            emb.embedded = std::make_unique<mapi::Message>(MakeMessage("Inner", "x\r\n", 4));
            emb.embedded->attachments.push_back(FileAttachment("inner.bin", Pattern(9000, 9)));
            m.attachments.push_back(std::move(emb));
        }
        return m;
    };
    const std::vector<mapi::Message> messages = [&] {
        std::vector<mapi::Message> v;
        for (int i = 0; i < 4; ++i) v.push_back(make(i, i % 2 == 1));
        return v;
    }();
    auto path = ScratchDir("large-values") / "large.pst";
    {
        auto store = messaging::Store::Create(path.string(), "Large");
        const auto inbox = store->AddFolder(store->ipm_subtree(), "Inbox.dbx");
        // The first named value makes the name known, so the next ones are built ahead.
        store->AddMessage(inbox, messages[0]);
        std::vector<messaging::Store::Prepared> prepared;
        for (std::size_t i = 1; i < messages.size(); ++i) prepared.push_back(store->Prepare(messages[i]));
        for (std::size_t i = 1; i < messages.size(); ++i)
            EXPECT_FALSE(store->AddPreparedUnlessPresent(inbox, messages[i], std::move(prepared[i - 1])).already_there);
        store->Close();
    }
    EXPECT_EQ(StoreProblems(path), "");
    auto store = messaging::Store::Open(path.string(), false);
    const auto ids = store->Messages(*store->FindFolderByPath("Inbox.dbx"));
    ASSERT_EQ(ids.size(), messages.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        SCOPED_TRACE(i);
        ExpectSameMessage(messages[i], store->ReadMessage(ids[i]));
    }
}
