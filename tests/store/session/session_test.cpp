#include "store/session.h"

#include <filesystem>
#include <optional>
#include <unistd.h>

#include <gtest/gtest.h>

#include "fixtures/temp_folder.h"
#include "store/msg/msg_test_support.h"

using fixtures::ReadFile;
using fixtures::WriteFile;

namespace {

const char kMessage[] =
    "From: Ann <ann@example.com>\r\nTo: Bob <bob@example.com>\r\nSubject: Hello\r\n"
    "Date: Sat, 01 Jan 2000 00:00:00 +0000\r\n\r\nThe body.\r\n";

// The kind the call failed with; nullopt when it did not fail. No text of a failure holds a number.
std::optional<store::FailureKind> KindOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const store::StoreFailure& e) {
        EXPECT_EQ(std::string(e.what()).find("0x"), std::string::npos) << e.what();
        return e.kind();
    }
    return std::nullopt;
}

std::shared_ptr<store::RDOSession> Session() { return store::CreateSessionFromProgId("Redemption.RDOSession"); }

}  // namespace

TEST(StoreSession, OnlyTheKnownProgIdMakesASession) {
    EXPECT_NE(Session(), nullptr);
    EXPECT_EQ(KindOf([] { store::CreateSessionFromProgId("Outlook.Application"); }), store::FailureKind::kNotFound);
}

TEST(StoreSession, PstOperationsOpenStoresAndFailForMissingFolders) {
    fixtures::TempFolder dir;
    auto session = Session();
    EXPECT_EQ(KindOf([&] { session->LogonPstStore(dir / "x.pst", 1); }), store::FailureKind::kUnsupported);  // ANSI stores: no
    auto pst = session->LogonPstStore(dir / "x.pst", store::kOlStoreUnicode);
    ASSERT_NE(pst, nullptr);
    EXPECT_EQ(pst->DisplayName(), "x");
    auto folders = pst->RootFolder()->Folders();
    EXPECT_EQ(folders->Find("Inbox"), nullptr);
    ASSERT_NE(folders->Add("Inbox", store::kOlFolderMail), nullptr);
    EXPECT_NE(folders->Find("Inbox"), nullptr);
    EXPECT_EQ(folders->Find("Inbox\\Sub"), nullptr);
    session->Logoff();
}

TEST(StoreSession, CreatedItemIsBoundToItsFileAndSaveWritesIt) {
    fixtures::TempFolder dir;
    auto session = Session();
    const std::string path = dir / "new.msg";
    WriteFile(path, "an older file");
    auto item = session->CreateMessageFromMsgFile(path, "IPM.Note", store::kOlMsgUnicode);
    ASSERT_NE(item, nullptr);
    item->Save();  // an item never imported is an empty message
    ASSERT_TRUE(std::filesystem::exists(path));
    if (msgtest::HaveMsgCheck()) {
        EXPECT_EQ(msgtest::MsgCheckStrict(path), "");
    }
    EXPECT_EQ(KindOf([&] { session->CreateMessageFromMsgFile(dir / "ansi.msg", "IPM.Note", 3); }), store::FailureKind::kUnsupported);
    auto lost = session->CreateMessageFromMsgFile(dir / "no/such/dir.msg", "IPM.Note", 9);
    EXPECT_EQ(KindOf([&] { lost->Save(); }), store::FailureKind::kWriteFailed);
}

TEST(StoreSession, ImportThenSaveWritesTheMessage) {
    if (!msgtest::HaveOlefile()) GTEST_SKIP() << "python3-olefile not installed";
    fixtures::TempFolder dir;
    WriteFile(dir / "m.eml", kMessage);
    auto item = Session()->CreateMessageFromMsgFile(dir / "m.msg", "IPM.Note", store::kOlMsgUnicode);
    item->Import(dir / "m.eml", store::kOlRfc822);
    item->Save();
    if (msgtest::HaveMsgCheck()) {
        EXPECT_EQ(msgtest::MsgCheckStrict(dir / "m.msg"), "");
    }
    auto dump = msgtest::DumpMsg(dir / "m.msg");
    EXPECT_EQ(dump["msg"]["0037001F"], "Hello");
    EXPECT_EQ(dump["msg"]["1000001F"], "The body.\\r\\n");
    EXPECT_EQ(dump["msg/recip0"]["3003001F"], "bob@example.com");
}

TEST(StoreSession, FailedCallsSayTheirKind) {
    fixtures::TempFolder dir;
    auto item = Session()->CreateMessageFromMsgFile(dir / "m.msg", "IPM.Note", store::kOlMsgUnicode);
    EXPECT_EQ(KindOf([&] { item->Import(dir / "missing.eml", store::kOlRfc822); }), store::FailureKind::kNotFound);
    WriteFile(dir / "m.eml", kMessage);
    EXPECT_EQ(KindOf([&] { item->Import(dir / "m.eml", 3); }), store::FailureKind::kUnsupported);
    EXPECT_EQ(KindOf([&] { item->SaveAs(dir / "m.doc", 4); }), store::FailureKind::kUnsupported);
    EXPECT_EQ(KindOf([&] { item->SaveAs(dir / "no/dir/m.rtf", store::kOlRtf); }), store::FailureKind::kWriteFailed);
    EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

TEST(StoreSession, SaveAsWritesRtfAndHtmlAndNeverFollowsALinkAtThePath) {
    fixtures::TempFolder dir;
    WriteFile(dir / "m.eml", kMessage);
    WriteFile(dir / "victim.txt", "precious");
    ASSERT_EQ(::symlink((dir / "victim.txt").c_str(), (dir / "out.rtf").c_str()), 0);
    auto item = Session()->CreateMessageFromMsgFile(dir / "t.msg", "IPM.Note", store::kOlMsgUnicode);
    item->Import(dir / "m.eml", store::kOlRfc822);
    item->SaveAs(dir / "out.rtf", store::kOlRtf);
    item->SaveAs(dir / "out.html", store::kOlHtml);
    EXPECT_EQ(ReadFile(dir / "victim.txt"), "precious");
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "out.rtf"));
    EXPECT_NE(ReadFile(dir / "out.rtf").find("The body."), std::string::npos);
    EXPECT_NE(ReadFile(dir / "out.html").find("<td>Hello</td>"), std::string::npos);
}

// A text in memory makes the same MSG file as the same bytes read from a file; a zero byte in the
// body does not end it.
TEST(StoreSession, ImportFromMemoryEqualsImportFromAFileAndKeepsZeroBytes) {
    fixtures::TempFolder dir;
    auto session = Session();
    const std::string text = std::string(kMessage) + std::string("after a zero: ") + '\0' + " TAIL\r\n";
    WriteFile(dir / "in.eml", text);
    auto from_file = session->CreateMessageFromMsgFile(dir / "file.msg", "IPM.Note", store::kOlMsgUnicode);
    from_file->Import(dir / "in.eml", store::kOlRfc822);
    from_file->Save();
    auto from_memory = session->CreateMessageFromMsgFile(dir / "memory.msg", "IPM.Note", store::kOlMsgUnicode);
    from_memory->ImportText(text, store::kOlRfc822);
    from_memory->Save();
    EXPECT_EQ(ReadFile(dir / "memory.msg"), ReadFile(dir / "file.msg"));
    std::string ascii;
    for (char c : ReadFile(dir / "memory.msg"))
        if (c != '\0') ascii.push_back(c);
    EXPECT_NE(ascii.find("TAIL"), std::string::npos);
    EXPECT_EQ(KindOf([&] { from_memory->ImportText(text, 9); }), store::FailureKind::kUnsupported);
    // The rendering of a memory import holds the text after the zero byte as well.
    from_memory->SaveAs(dir / "memory.html", store::kOlHtml);
    EXPECT_NE(ReadFile(dir / "memory.html").find("TAIL"), std::string::npos);
}
