// The session's PST operations as the export drives them: open or create a store, find or add
// the target folder, import .eml files into new items and save them, log off, and run again.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include <fstream>
#include <iterator>

#include "pst_test_util.h"
#include "store/pst/messaging/extension.h"
#include "store/pst/messaging/store.h"
#include "store/mime/mime_import.h"
#include "store/pst_session.h"

using namespace store;
using namespace pst_test;
namespace fs = std::filesystem;

namespace {

fs::path WriteEml(const fs::path& dir, const std::string& name, const std::string& subject) {
    auto path = dir / name;
    std::ofstream(path, std::ios::binary) << "From: Alice <alice@example.com>\r\nTo: Bob <bob@example.com>\r\n"
                                             "Subject: " << subject << "\r\nDate: Wed, 01 Jan 2020 10:00:00 +0000\r\n"
                                             "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
                                             "Body of " << subject << "\r\n";
    return path;
}

// What the export does for one folder file: find or create the folder, then import each message.
// Returns how many the folder held already.
int ImportInto(const std::shared_ptr<RDOStore>& store, const std::string& folder_name,
               const std::vector<fs::path>& emls) {
    int already_there = 0;
    auto folders = store->RootFolder()->Folders();
    std::shared_ptr<RDOFolder> folder = folders->Find(folder_name);
    if (!folder) folder = folders->Add(folder_name, kOlFolderMail);
    for (const auto& eml : emls) {
        auto prepared = folder->Prepare(mime::ImportMessageFile(eml.string()));
        already_there += folder->Add(*prepared) ? 0 : 1;
    }
    return already_there;
}

std::vector<std::string> Subjects(const fs::path& pst, const std::string& folder) {
    auto store = pst::messaging::Store::Open(pst.string(), false);
    std::vector<std::string> out;
    auto nid = store->FindFolderByPath(folder);
    if (!nid) return out;
    for (auto id : store->Messages(*nid)) out.push_back(store->ReadMessage(id).props.GetString(0x0037001F).value_or(""));
    return out;
}

}  // namespace

TEST(PstSession, CreatesFillsAndExtendsAStoreAcrossRuns) {
    auto dir = ScratchDir("session");
    auto pst = dir / "NewPST.pst";
    auto a = WriteEml(dir, "a.eml", "First");
    auto b = WriteEml(dir, "b.eml", "Second");
    {
        PstSession session;
        auto store = session.LogonPstStore(pst.string(), kOlStoreUnicode);
        EXPECT_EQ(store->DisplayName(), "NewPST");
        EXPECT_EQ(store->RootFolder()->Folders()->Find("Inbox.dbx"), nullptr);
        EXPECT_EQ(ImportInto(store, "Inbox.dbx", {a, b}), 0);
        // A second file of the same name goes into the same folder, where its message is already.
        EXPECT_EQ(ImportInto(store, "Inbox.dbx", {a}), 1);
        session.Logoff();
    }
    EXPECT_EQ(Subjects(pst, "Inbox.dbx"), (std::vector<std::string>{"First", "Second"}));
    auto c = WriteEml(dir, "c.eml", "Third");
    {
        PstSession session;  // a later run into the same store
        auto store = session.LogonPstStore(pst.string(), kOlStoreUnicode);
        EXPECT_EQ(ImportInto(store, "Inbox.dbx", {b, c}), 1);
        EXPECT_EQ(ImportInto(store, "Sent Items.dbx", {a}), 0);
        session.Logoff();
    }
    EXPECT_EQ(Subjects(pst, "Inbox.dbx"), (std::vector<std::string>{"First", "Second", "Third"}));
    EXPECT_EQ(Subjects(pst, "Sent Items.dbx"), std::vector<std::string>{"First"});
    EXPECT_EQ(StoreProblems(pst), "");
}

TEST(PstSession, SeparateStoresPerFolderFile) {
    auto dir = ScratchDir("session-separate");
    auto eml = WriteEml(dir, "m.eml", "Only");
    PstSession session;
    for (const std::string name : {"Inbox.dbx", "Sent Items.dbx"}) {
        auto store = session.LogonPstStore((dir / (name + ".pst")).string(), kOlStoreUnicode);
        ImportInto(store, name, {eml});
        session.Logoff();
    }
    EXPECT_EQ(Subjects(dir / "Inbox.dbx.pst", "Inbox.dbx"), std::vector<std::string>{"Only"});
    EXPECT_EQ(Subjects(dir / "Sent Items.dbx.pst", "Sent Items.dbx"), std::vector<std::string>{"Only"});
    EXPECT_EQ(StoreProblems(dir / "Sent Items.dbx.pst"), "");
}

// A store is held from its opening to its log-off: a second session waits (told once), gives up
// when asked to with a failure that wrote nothing, or goes on from the first one's result.
TEST(PstSession, ASecondSessionOnOneStoreWaitsForTheFirstsLogoff) {
    auto dir = ScratchDir("session-lock");
    const std::string pst = (dir / "Shared.pst").string();
    auto a = WriteEml(dir, "a.eml", "From the first");
    auto b = WriteEml(dir, "b.eml", "From the second");

    {
        PstSession seed;  // the store exists: the runs below extend it through working copies
        auto made = seed.LogonPstStore(pst, kOlStoreUnicode);
        ImportInto(made, "Seed.dbx", {a});
        seed.Logoff();
    }
    PstSession first;
    // The first lingers just before its copy replaces the store: a lock let go any earlier would
    // let the second copy the store without the first's messages and put that back over them.
    first.SetExtensionObserver([](pst::messaging::ExtensionStep step) {
        if (step == pst::messaging::ExtensionStep::kSynced) std::this_thread::sleep_for(std::chrono::milliseconds(400));
    });
    auto store = first.LogonPstStore(pst, kOlStoreUnicode);
    ImportInto(store, "Inbox.dbx", {a});
    EXPECT_TRUE(fs::exists(PstStoreLockPath(pst)));
    EXPECT_THROW(first.LogonPstStore(pst, kOlStoreUnicode), StoreFailure);  // not twice in one session

    std::vector<std::string> told;
    int asks = 0;
    PstSession impatient;
    impatient.SetStoreWait([&](const std::string& path) { told.push_back(path); }, [&] { return ++asks == 2; });
    try {
        impatient.LogonPstStore(pst, kOlStoreUnicode);
        ADD_FAILURE() << "the store was opened twice at once";
    } catch (const StoreFailure& e) {
        EXPECT_EQ(e.kind(), FailureKind::kCancelled);
        EXPECT_NE(std::string(e.what()).find("another conversion is still adding to the PST store " + pst),
                  std::string::npos) << e.what();
    }
    EXPECT_EQ(told, std::vector<std::string>{pst});

    // A patient one goes on as soon as the first has put its result in place, and adds to it.
    std::atomic<bool> waiting{false};
    std::thread second([&] {
        PstSession patient;
        patient.SetStoreWait([&](const std::string&) { waiting = true; }, {});
        auto again = patient.LogonPstStore(pst, kOlStoreUnicode);
        ImportInto(again, "Sent.dbx", {b});
        patient.Logoff();
    });
    while (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    first.Logoff();
    second.join();
    EXPECT_EQ(Subjects(pst, "Seed.dbx"), std::vector<std::string>{"From the first"});
    EXPECT_EQ(Subjects(pst, "Inbox.dbx"), std::vector<std::string>{"From the first"});
    EXPECT_EQ(Subjects(pst, "Sent.dbx"), std::vector<std::string>{"From the second"});
    EXPECT_FALSE(fs::exists(PstStoreLockPath(pst)));
    EXPECT_EQ(StoreProblems(pst), "");
}

TEST(PstSession, AStorePathThatIsNoPlainFileIsRefusedWithoutBlocking) {
    auto dir = ScratchDir("session-fifo");
    const std::string fifo = (dir / "Pipe.pst").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    PstSession session;
    ::alarm(30);  // a FIFO opened for reading would wait here for ever
    try {
        session.LogonPstStore(fifo, kOlStoreUnicode);
        ADD_FAILURE() << "a FIFO was taken for a store";
    } catch (const StoreFailure& e) {
        EXPECT_NE(std::string(e.what()).find("the PST store " + fifo + " is not a regular file"), std::string::npos)
            << e.what();
    }
    ::alarm(0);
    EXPECT_FALSE(fs::exists(PstStoreLockPath(fifo)));
}

TEST(PstSession, RefusesStoresItCannotExtendAndLeavesThemUntouched) {
    auto dir = ScratchDir("session-refuse");
    auto junk = dir / "junk.pst";
    std::ofstream(junk, std::ios::binary) << std::string(70000, 'x');
    PstSession session;
    try {
        session.LogonPstStore(junk.string(), kOlStoreUnicode);
        FAIL() << "a file that is no store was opened";
    } catch (const StoreFailure& e) {
        EXPECT_EQ(e.kind(), FailureKind::kDamaged);
    }
    EXPECT_EQ(fs::file_size(junk), 70000u);
    const fs::path sample = fs::path(OMBRIK_SAMPLES_DIR) / "pst" / "passworded.pst";
    if (fs::exists(sample)) {
        auto copy = dir / "outlook.pst";
        fs::copy_file(sample, copy);
        fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
        const auto before = fs::last_write_time(copy);
        try {
            session.LogonPstStore(copy.string(), kOlStoreUnicode);
            FAIL() << "a store with a password was opened";
        } catch (const StoreFailure& e) {
            EXPECT_EQ(e.kind(), FailureKind::kDamaged);
            EXPECT_NE(std::string(e.what()).find("password"), std::string::npos) << e.what();
        }
        EXPECT_EQ(fs::last_write_time(copy), before);
    }
    EXPECT_THROW(session.LogonPstStore((dir / "missing" / "x.pst").string(), kOlStoreUnicode), StoreFailure);
    EXPECT_FALSE(fs::exists(dir / "missing" / "x.pst"));
    EXPECT_THROW(session.LogonPstStore((dir / "ansi.pst").string(), 1), StoreFailure);
}

// A disk that fills up (here: a file size limit, which fails writes the same way) is reported as
// lack of space, not as a damaged store, both for a new store and for one being extended, and
// the existing store stays as it was.
TEST(PstSession, AFullDiskIsReportedAsSuch) {
    auto dir = ScratchDir("session-full");
    // Forty messages that differ (the same one twice would not be stored twice).
    std::vector<fs::path> emls;
    for (int n = 0; n < 40; ++n) {
        emls.push_back(dir / ("big" + std::to_string(n) + ".eml"));
        std::ofstream out(emls.back(), std::ios::binary);
        out << "From: a@example.com\r\nSubject: big " << n << "\r\nMIME-Version: 1.0\r\n"
               "Content-Type: text/plain; charset=us-ascii\r\n\r\n";
        for (int i = 0; i < 3000; ++i) out << "A line of a long message body, number " << i << "\r\n";
    }
    const auto existing = dir / "existing.pst";
    {
        PstSession session;
        auto store = session.LogonPstStore(existing.string(), kOlStoreUnicode);
        ImportInto(store, "Old", {WriteEml(dir, "old.eml", "Old message")});
        session.Logoff();
    }
    const auto before = fs::file_size(existing);
    // In a child, so that the limit stays there: 0 when the failure came as lack of space.
    auto outcome = [&](const fs::path& pst) {
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{before + 64 * 1024, before + 64 * 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            try {
                PstSession session;
                auto store = session.LogonPstStore(pst.string(), kOlStoreUnicode);
                ImportInto(store, "Full", emls);
                session.Logoff();
            } catch (const StoreFailure& e) {
                const bool as_space = e.write_failure() == platform::WriteFailure::kFileTooLarge &&
                                      std::string(e.what()).find("too large") != std::string::npos;
                if (!as_space) std::fprintf(stderr, "reported as: %s\n", e.what());
                ::_exit(as_space ? 0 : 1);
            }
            ::_exit(2);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    };
    EXPECT_EQ(outcome(dir / "new.pst"), 0);
    const std::string original = [&] {
        std::ifstream in(existing, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    EXPECT_EQ(outcome(existing), 0);
    std::ifstream in(existing, std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == original);
    EXPECT_EQ(Subjects(existing, "Old"), std::vector<std::string>{"Old message"});
}

// A MIME message with an HTML body and an attachment, imported through the session, comes out of
// an independent reader with its bodies and attachment bytes.
TEST(PstSession, ImportedMimeMessageKeepsBodiesAndAttachments) {
    if (!HaveTool("pffexport")) GTEST_SKIP() << "pffexport absent";
    auto dir = ScratchDir("session-mime");
    auto eml = dir / "m.eml";
    std::ofstream(eml, std::ios::binary)
        << "From: Alice <alice@example.com>\r\nTo: Bob <bob@example.com>\r\nSubject: With attachment\r\n"
           "Date: Wed, 01 Jan 2020 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
           "--b1\r\nContent-Type: multipart/alternative; boundary=\"b2\"\r\n\r\n"
           "--b2\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nPlain text\r\n"
           "--b2\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<p>HTML text</p>\r\n--b2--\r\n"
           "--b1\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
           "Content-Disposition: attachment; filename=\"data.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
           "AAECAwQFBgcICQ==\r\n--b1--\r\n";
    auto pst = dir / "m.pst";
    {
        PstSession session;
        auto store = session.LogonPstStore(pst.string(), kOlStoreUnicode);
        ImportInto(store, "Inbox.dbx", {eml});
        session.Logoff();
    }
    EXPECT_EQ(StoreProblems(pst), "");
    std::string out;
    ASSERT_EQ(pst_test::Run("cd '" + dir.string() + "' && pffexport -q -f all -t x m.pst 2>&1", &out), 0) << out;
    const fs::path msg = dir / "x.export" / "Top of Personal Folders" / "Inbox.dbx" / "Message00001";
    std::ifstream attachment(msg / "Attachments" / "1_data.bin", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(attachment)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09", 10));
    std::ifstream text(msg / "Message.txt", std::ios::binary);
    std::string body((std::istreambuf_iterator<char>(text)), std::istreambuf_iterator<char>());
    EXPECT_NE(body.find("Plain text"), std::string::npos) << body;
    std::ifstream html(msg / "Message.html", std::ios::binary);
    std::string html_body((std::istreambuf_iterator<char>(html)), std::istreambuf_iterator<char>());
    EXPECT_NE(html_body.find("<p>HTML text</p>"), std::string::npos) << html_body;
}
