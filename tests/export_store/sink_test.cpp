// Every form through the same cases, run as a whole job: what one sink gets right the others must
// too (the unopenable folder file, a damaged message, a write failure, the exit request, two
// folder files of the same name, zero bytes in a message, links planted at the output, and the
// same result with one worker thread or several).
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/wait.h>  // the killed runs below
#endif
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <type_traits>

#include <gtest/gtest.h>

#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/export_test_support.h"
#include "fixtures/failing_disk.h"
#include "fixtures/strict_checkers.h"
#include "export/folder_places.h"
#include "export/mbox_export.h"
#include "job/conversion_job.h"
#include "store/msg/msg_test_support.h"
#include "store/pst/messaging/store.h"

namespace fs = std::filesystem;
using fixtures::ReadFile;

namespace {

std::string Mail(const std::string& subject, const std::string& body) {
    return "From: Ann <ann@example.com>\r\nTo: bob@example.com\r\nSubject: " + subject +
           "\r\nDate: Sat, 01 Jan 2000 00:00:00 +0000\r\nMIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=us-ascii\r\n\r\n" + body + "\r\n";
}

std::string HtmlMail(const std::string& subject, const std::string& html) {
    return "From: Ann <ann@example.com>\r\nTo: bob@example.com\r\nSubject: " + subject +
           "\r\nDate: Sat, 01 Jan 2000 00:00:00 +0000\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n--b1\r\n"
           "Content-Type: text/html; charset=windows-1252\r\n\r\n" + html + "\r\n--b1\r\n"
           "Content-Type: application/octet-stream; name=\"a.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
           "AAECAwQFBgc=\r\n--b1--\r\n";
}

fixtures::DbxEmailSpec Email(const std::string& subject, const std::string& text) {
    return testsupport::Email(subject, text);
}

// One job of one form over folder files made in the test.
struct FormRun {
    fixtures::TempFolder dir;
    fixtures::RecordingWindow window;
    JobSettings settings;
    JobTally tally;

    explicit FormRun(const std::string& option) {
        settings.saving_option = option;
        settings.destination_path = dir / "ExportDBX";
        fs::create_directories(settings.destination_path);
        window.pst_answer.pst_mode = "new";
        window.pst_answer.pst_path = PstPath();
        window.pst_answer.pst_options_answer = "yes";
    }
    std::string PstPath() const { return dir / "Out.pst"; }
    const platform::DeviceFilter* devices = nullptr;  // what the job writes through
    std::string AddFolder(const std::string& subdir, const std::string& name, const fixtures::DbxFileBuilder& builder) {
        fs::create_directories(dir / subdir);
        const std::string path = dir / (subdir + "/" + name);
        builder.WriteTo(path);
        window.AddRow(path, name);
        return path;
    }
    void Go() { tally = RunConversionJob(window, settings, devices); }
};

// Subject and body of each message of a folder of the run's store, in the folder's order.
std::vector<std::string> PstFolderMessages(FormRun& run, const std::string& folder_path) {
    std::vector<std::string> out;
    if (!fs::exists(run.PstPath())) return out;
    auto store = pst::messaging::Store::Open(run.PstPath(), false);
    auto nid = store->FindFolderByPath(folder_path);
    if (!nid) return out;
    for (auto id : store->Messages(*nid)) {
        const mapi::Message message = store->ReadMessage(id);
        out.push_back(message.props.GetString(0x0037001F).value_or("") + "\n" +
                      message.props.GetString(0x1000001F).value_or(""));
    }
    return out;
}

// Every output file of a folder, by name.
std::map<std::string, std::string> FilesIn(const std::string& directory) {
    std::map<std::string, std::string> files;
    if (!fs::is_directory(directory)) return files;
    for (const auto& entry : fs::directory_iterator(directory)) {
        if (entry.is_directory()) continue;  // the Recovered sub-folder is no message
        files[entry.path().filename().string()] = ReadFile(entry.path().string());
    }
    return files;
}

// UTF-16LE text of the MSG streams read as bytes: the ASCII letters stay, the zero high bytes go.
std::string Ascii16(const std::string& bytes) {
    std::string out;
    for (char c : bytes)
        if (c != '\0') out.push_back(c);
    return out;
}

// What each form makes of the messages, seen from outside: the outputs in order, each as text
// that holds the message's subject and body.
struct EmlForm {
    static constexpr const char* kOption = "eml";
    static constexpr bool kFilePerMessage = true;
    static std::vector<std::string> Outputs(FormRun& run, const std::string& folder) {
        std::vector<std::string> out;
        for (auto& [name, bytes] : FilesIn(run.settings.destination_path + "/" + folder)) out.push_back(name + "\n" + bytes);
        return out;
    }
    static std::string OutputPath(FormRun& run, const std::string& folder, const std::string& stem) {
        return run.settings.destination_path + "/" + folder + "/" + stem + ".eml";
    }
};

struct MboxForm {
    static constexpr const char* kOption = "mbox";
    static constexpr bool kFilePerMessage = false;
    static std::vector<std::string> Outputs(FormRun& run, const std::string& folder) {
        const std::string path = run.settings.destination_path + "/" + folder + ".mbox";
        std::vector<std::string> out;
        if (!fs::exists(path)) return out;
        const std::string bytes = ReadFile(path);
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t next = bytes.find("\n\nFrom ", at);
            const std::size_t end = next == std::string::npos ? bytes.size() : next + 2;
            out.push_back(bytes.substr(at, end - at));
            at = end;
        }
        return out;
    }
    static std::string OutputPath(FormRun& run, const std::string& folder, const std::string&) {
        return run.settings.destination_path + "/" + folder + ".mbox";
    }
};

template <const char* const& kSuffixName>
struct FileForm {
    static constexpr bool kFilePerMessage = true;
    static std::vector<std::string> Outputs(FormRun& run, const std::string& folder) {
        std::vector<std::string> out;
        for (auto& [name, bytes] : FilesIn(run.settings.destination_path + "/" + folder))
            out.push_back(name + "\n" + (std::string(kSuffixName) == "msg" ? Ascii16(bytes) : bytes));
        return out;
    }
    static std::string OutputPath(FormRun& run, const std::string& folder, const std::string& stem) {
        return run.settings.destination_path + "/" + folder + "/" + stem + "." + kSuffixName;
    }
};
inline const char* const kMsg = "msg";
inline const char* const kRtf = "rtf";
inline const char* const kHtml = "html";
struct MsgForm : FileForm<kMsg> { static constexpr const char* kOption = "msg"; };
struct RtfForm : FileForm<kRtf> { static constexpr const char* kOption = "rtf"; };
struct HtmlForm : FileForm<kHtml> { static constexpr const char* kOption = "html"; };

struct PstForm {
    static constexpr const char* kOption = "pst";
    static constexpr bool kFilePerMessage = false;
    // The PST folder is named like the folder file, extension included.
    static std::vector<std::string> Outputs(FormRun& run, const std::string& folder) {
        return PstFolderMessages(run, folder + ".dbx");
    }
    static std::string OutputPath(FormRun& run, const std::string&, const std::string&) { return run.PstPath(); }
};

// Where each form keeps a folder's recovered messages.
template <typename Form>
std::vector<std::string> RecoveredOutputs(FormRun& run, const std::string& folder) {
    if constexpr (std::is_same_v<Form, MboxForm>) {
        return Form::Outputs(run, folder + " (recovered)");
    } else if constexpr (std::is_same_v<Form, PstForm>) {
        return PstFolderMessages(run, folder + ".dbx\\Recovered");
    } else {
        return Form::Outputs(run, folder + "/Recovered");
    }
}

template <typename Form>
class EveryForm : public ::testing::Test {};

using Forms = ::testing::Types<EmlForm, MboxForm, MsgForm, RtfForm, HtmlForm, PstForm>;
TYPED_TEST_SUITE(EveryForm, Forms);

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TYPED_TEST(EveryForm, WritesEveryMessageInSlotOrderWithProgressAndStatus) {
    FormRun run(TypeParam::kOption);
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("First", Mail("First", "body one"))).AddEmail(Email("Second", Mail("Second", "body two")));
    run.AddFolder("src", "Inbox.dbx", builder);
    run.Go();
    const auto outputs = TypeParam::Outputs(run, "Inbox");
    ASSERT_EQ(outputs.size(), 2u);
    // The highest slot comes first: in the order of MBOX and PST, in the slot numbers of the names.
    EXPECT_TRUE(Contains(outputs[0], "First")) << outputs[0];
    EXPECT_TRUE(Contains(outputs[1], "Second")) << outputs[1];
    EXPECT_EQ(run.window.progress, (std::vector<int>{1, 2, 0, 0}));
    EXPECT_EQ(run.window.status.size(), 3u);
    EXPECT_EQ(run.window.status.back(), "conversion process completed");
    EXPECT_EQ(run.tally.messages(), 2u);
    EXPECT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
    ASSERT_EQ(run.window.messages.size(), 1u);
    EXPECT_EQ(run.window.messages[0].text, "conversion process completed");
}

TYPED_TEST(EveryForm, AnUnopenableFolderFileIsToldWithItsPathAndReasonAndTheJobGoesOn) {
    FormRun run(TypeParam::kOption);
    fs::create_directories(run.dir / "bad");
    fixtures::WriteFile(run.dir / "bad/Bad.dbx", "not a folder file at all");
    run.window.AddRow(run.dir / "bad/Bad.dbx", "Bad.dbx");
    fixtures::DbxFileBuilder good;
    good.AddEmail(Email("Good", Mail("Good", "fine")));
    run.AddFolder("src", "Good.dbx", good);
    run.Go();
    ASSERT_EQ(run.window.messages.size(), 2u);
    const std::string& text = run.window.messages[0].text;
    EXPECT_EQ(text.substr(0, text.find('\n')), "Unable to open DBX File");
    EXPECT_TRUE(Contains(text, "\n" + run.dir / "bad/Bad.dbx" + ": ")) << text;
    EXPECT_GT(text.size(), text.find(": ") + 2) << "the reason is missing: " << text;
    EXPECT_EQ(run.window.messages[0].title, "Corvanti Ombrik   ");
    EXPECT_EQ(run.window.messages[0].style, 0x1020u);
    EXPECT_EQ(TypeParam::Outputs(run, "Good").size(), 1u);
    EXPECT_EQ(run.tally.messages(), 1u);
    EXPECT_EQ(run.tally.failures(), 1u);
    EXPECT_TRUE(Contains(run.window.messages[1].text, "Bad.dbx"));
}

TYPED_TEST(EveryForm, ADamagedMessageIsCountedAndTheOthersStillConvert) {
    FormRun run(TypeParam::kOption);
    fixtures::DbxEmailSpec no_text = Email("Empty", "");
    no_text.text.reset();
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("A", Mail("A", "alpha"))).AddEmail(no_text).AddEmail(Email("C", Mail("C", "gamma")));
    run.AddFolder("src", "Inbox.dbx", builder);
    run.Go();
    const auto outputs = TypeParam::Outputs(run, "Inbox");
    EXPECT_EQ(outputs.size(), 3u);  // the damaged one still gives what there is of it
    EXPECT_EQ(run.tally.messages(), 2u);
    EXPECT_EQ(run.tally.failures(), 1u);
    EXPECT_TRUE(Contains(run.tally.Summary(), "damaged")) << run.tally.Summary();
}

// A folder file that shrinks while it is converted (a network share, a failing disk): the file is
// counted as cut short, what was read before stays, and the job goes on with the next file.
TYPED_TEST(EveryForm, AFolderFileThatShrinksDuringTheRunIsToldAndTheJobGoesOn) {
    FormRun run(TypeParam::kOption);
    fixtures::DbxFileBuilder shrinking;
    for (int i = 0; i < 64; ++i) {
        const std::string subject = "Big " + std::to_string(i);
        shrinking.AddEmail(Email(subject, Mail(subject, std::string(256 << 10, static_cast<char>('a' + i % 26)))));
    }
    const std::string path = run.AddFolder("a", "Big.dbx", shrinking);
    fixtures::DbxFileBuilder good;
    good.AddEmail(Email("Good", Mail("Good", "fine")));
    run.AddFolder("b", "Good.dbx", good);
    run.window.after_status = [&](std::size_t shown) {
        if (shown == 1) fs::resize_file(path, 6 << 20);
    };
    run.Go();
    const auto lines = run.tally.failure_lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), path + ": is cut short or damaged"), 1) << run.tally.Summary();
    EXPECT_GE(run.tally.messages(), 2u) << run.tally.Summary();  // what was read before, and Good
    EXPECT_LE(run.tally.messages(), 24u) << run.tally.Summary();  // no more than the first 6 MiB held
    EXPECT_EQ(TypeParam::Outputs(run, "Good").size(), 1u);
    if constexpr (std::is_same_v<TypeParam, PstForm>) {
        EXPECT_EQ(fixtures::PstCheckStrictFailure(run.PstPath()), "");
    }
}

TYPED_TEST(EveryForm, AWriteFailureIsCountedAndReported) {
    FormRun run(TypeParam::kOption);
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("A", Mail("A", "alpha"))).AddEmail(Email("B", Mail("B", "beta"))).AddEmail(Email("C", Mail("C", "gamma")));
    // A directory where the middle message's output (or the folder's whole output) should go.
    fs::create_directories(fs::path(TypeParam::OutputPath(run, "Inbox", "B1")) / "x");
    run.AddFolder("src", "Inbox.dbx", builder);
    run.Go();
    EXPECT_GE(run.tally.failures(), 1u);
    ASSERT_FALSE(run.window.messages.empty());
    EXPECT_TRUE(Contains(run.window.messages.back().text, "failure")) << run.window.messages.back().text;
    if (TypeParam::kFilePerMessage) {
        EXPECT_EQ(run.tally.messages(), 2u);
        EXPECT_EQ(run.tally.failures(), 1u);
        EXPECT_TRUE(Contains(run.tally.failure_lines().at(0), "B1")) << run.tally.failure_lines().at(0);
    } else {
        EXPECT_EQ(run.tally.messages(), 0u);
    }
}

TYPED_TEST(EveryForm, TheExitRequestStopsAtAMessageBoundary) {
    FormRun run(TypeParam::kOption);
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 6; ++i) builder.AddEmail(Email("M", Mail("M", std::string(3000, char('a' + i)))));
    run.AddFolder("src", "Inbox.dbx", builder);
    fixtures::DbxFileBuilder later;
    later.AddEmail(Email("Later", Mail("Later", "never")));
    run.AddFolder("src2", "Later.dbx", later);
    run.window.stop_after_status = 2;
    run.Go();
    const auto outputs = TypeParam::Outputs(run, "Inbox");
    EXPECT_EQ(outputs.size(), 2u);
    EXPECT_TRUE(TypeParam::Outputs(run, "Later").empty());
    EXPECT_EQ(run.tally.messages(), 2u);
    EXPECT_EQ(run.tally.failures(), 0u);
}

TYPED_TEST(EveryForm, TwoFolderFilesOfTheSameNameKeepEveryMessage) {
    FormRun run(TypeParam::kOption);
    fixtures::DbxFileBuilder a, b;
    a.AddEmail(Email("From A", Mail("From A", "first file")));
    b.AddEmail(Email("From B", Mail("From B", "second file")));
    run.AddFolder("one", "Inbox.dbx", a);
    run.AddFolder("two", "Inbox.dbx", b);
    run.Go();
    std::vector<std::string> all = TypeParam::Outputs(run, "Inbox");
    for (const auto& more : TypeParam::Outputs(run, "Inbox (2)")) all.push_back(more);
    ASSERT_EQ(all.size(), 2u);
    const std::string joined = all[0] + all[1];
    EXPECT_TRUE(Contains(joined, "first file"));
    EXPECT_TRUE(Contains(joined, "second file"));
    EXPECT_EQ(run.tally.messages(), 2u);
}

TYPED_TEST(EveryForm, AZeroByteInAMessageLosesNothingAfterIt) {
    FormRun run(TypeParam::kOption);
    const std::string body = std::string("before the zero ") + '\0' + " TAILMARKER after it";
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("Zero", Mail("Zero", body)));
    run.AddFolder("src", "Inbox.dbx", builder);
    run.Go();
    const auto outputs = TypeParam::Outputs(run, "Inbox");
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_TRUE(Contains(outputs[0], "before the zero")) << outputs[0];
    EXPECT_TRUE(Contains(outputs[0], "TAILMARKER after it")) << outputs[0];
    EXPECT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
}

TYPED_TEST(EveryForm, ALinkPlantedAtTheOutputPathIsNeverFollowed) {
    // Once pointing at a file of the user's, once at a name where nothing is yet.
    for (const bool target_exists : {true, false}) {
        FormRun run(TypeParam::kOption);
        const std::string victim = run.dir / "victim.txt";
        if (target_exists) fixtures::WriteFile(victim, "the user's own file");
        fs::create_directories(run.settings.destination_path + "/Inbox");
        fs::create_symlink(victim, TypeParam::OutputPath(run, "Inbox", "Linked0"));
        fixtures::DbxFileBuilder builder;
        builder.AddEmail(Email("Linked", Mail("Linked", "must not reach the victim")));
        run.AddFolder("src", "Inbox.dbx", builder);
        run.Go();
        if (target_exists)
            EXPECT_EQ(ReadFile(victim), "the user's own file");
        else
            EXPECT_FALSE(fs::exists(victim)) << "a file was made through the link";
        // Either the link was refused (counted) or replaced by the output itself.
        const bool replaced = !fs::is_symlink(TypeParam::OutputPath(run, "Inbox", "Linked0"));
        EXPECT_TRUE(replaced || run.tally.failures() >= 1u);
    }
}

// The same corpus with one thread and with several: the same files, byte for byte, the
// same order, progress, status lines and summary; recovered messages included.
TYPED_TEST(EveryForm, OneThreadAndManyGiveTheSameResult) {
    const auto make_corpus = [](FormRun& run) {
        fixtures::DbxFileBuilder builder;
        for (int i = 0; i < 23; ++i) {
            const std::string subject = "Message " + std::to_string(i) + ".";  // no two names alike
            if (i % 3 == 0)
                builder.AddEmail(Email(subject, HtmlMail(subject, "<p>Hello <b>" + std::to_string(i) + "</b> caf\xE9</p>")));
            else
                builder.AddEmail(Email(subject, Mail(subject, std::string(200 * i, 'x') + " end " + std::to_string(i))));
        }
        fixtures::DbxEmailSpec damaged = Email("Damaged", "");
        damaged.text.reset();
        builder.AddEmail(damaged);
        for (int i = 0; i < 5; ++i) builder.AddDeletedEmail(Email("Gone", Mail("Gone " + std::to_string(i), "deleted")));
        run.settings.recover = true;
        run.AddFolder("src", "Inbox.dbx", builder);
        const std::string sample = std::string(OMBRIK_SAMPLES_DIR) + "/dbx/Inbox.dbx";
        if (fs::exists(sample)) run.window.AddRow(sample, "Sample.dbx");
    };
    FormRun one(TypeParam::kOption);
    one.settings.threads = 1;
    make_corpus(one);
    one.Go();
    EXPECT_EQ(TypeParam::Outputs(one, "Inbox").size(), 24u);
    EXPECT_EQ(RecoveredOutputs<TypeParam>(one, "Inbox").size(), 5u);
    const auto relative = [](FormRun& run) {
        std::vector<std::string> lines = run.window.status;
        for (auto& line : lines)
            if (line.rfind(run.dir.path(), 0) == 0) line.erase(0, run.dir.path().size());
        return lines;
    };
    // Two threads: the writer prepares whenever its next message is not ready yet; four: it
    // mostly finds it ready.
    for (const unsigned threads : {2u, 4u}) {
        SCOPED_TRACE(threads);
        FormRun many(TypeParam::kOption);
        many.settings.threads = threads;
        make_corpus(many);
        many.Go();
        for (const std::string folder : {"Inbox", "Sample"}) {
            EXPECT_EQ(TypeParam::Outputs(one, folder), TypeParam::Outputs(many, folder)) << folder;
            EXPECT_EQ(RecoveredOutputs<TypeParam>(one, folder), RecoveredOutputs<TypeParam>(many, folder)) << folder;
        }
        EXPECT_EQ(one.window.progress, many.window.progress);
        EXPECT_EQ(relative(one), relative(many));
        EXPECT_EQ(one.tally.messages(), many.tally.messages());
        EXPECT_EQ(one.tally.recovered(), many.tally.recovered());
        EXPECT_EQ(one.tally.failures(), many.tally.failures());
    }
    EXPECT_EQ(one.tally.failures(), 1u);
}

// The checkers of the outside world accept what every worker count writes.
TEST(StoreForms, FilesWrittenByWorkerThreadsPassTheStrictCheckers) {
    FormRun run("msg");
    run.settings.threads = 3;
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 7; ++i)
        builder.AddEmail(Email("H" + std::to_string(i), HtmlMail("H" + std::to_string(i), "<p>page " + std::to_string(i) + "</p>")));
    run.AddFolder("src", "Inbox.dbx", builder);
    run.Go();
    const auto files = FilesIn(run.settings.destination_path + "/Inbox");
    ASSERT_EQ(files.size(), 7u);
    if (!msgtest::HaveMsgCheck()) GTEST_SKIP() << "msgcheck.py not available";
    for (const auto& [name, bytes] : files)
        EXPECT_EQ(msgtest::MsgCheckStrict(run.settings.destination_path + "/Inbox/" + name), "") << name;
}

// Recovery: the messages only a scan of the folder file finds, written apart from the live ones.
namespace {

// An output shows the message's subject and body.
bool OutputHolds(const std::string& output, const std::string& subject, const std::string& body) {
    return Contains(output, subject) && Contains(output, body);
}

// Deleted messages among live ones: AddDeletedEmail leaves a record and its text in the file
// and out of the index.
fixtures::DbxFileBuilder LiveAndDeleted() {
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("Live one", Mail("Live one", "kept 1")))
        .AddDeletedEmail(Email("Gone A", Mail("Gone A", "deleted body A")))
        .AddEmail(Email("Live two", Mail("Live two", "kept 2")))
        .AddDeletedEmail(Email("Gone B", Mail("Gone B", std::string(1500, 'b') + " deleted body B")));
    return builder;
}

std::string AddBytes(FormRun& run, const std::string& name, const std::string& bytes) {
    fs::create_directories(run.dir / "src");
    const std::string path = run.dir / ("src/" + name);
    fixtures::WriteFile(path, bytes);
    run.window.AddRow(path, name);
    return path;
}

}  // namespace

namespace {

// Every file below the destination (the PST store beside it included), by relative path.
std::map<std::string, std::string> Tree(FormRun& run) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(run.settings.destination_path))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), run.dir.path()).string()] = ReadFile(entry.path().string());
    if (fs::exists(run.PstPath())) files["Out.pst"] = "";  // a store changes inside; its name is what counts here
    return files;
}

}  // namespace

// The same folder file converted again into the same destination: nothing is written twice,
// nothing is renamed, the run counts its messages as already there and succeeds.
TYPED_TEST(EveryForm, ARepeatedRunIntoOneDestinationIsHarmless) {
    FormRun run(TypeParam::kOption);
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("First", HtmlMail("First", "<p>one</p>"))).AddEmail(Email("Second", Mail("Second", "two")));
    run.AddFolder("src", "Inbox.dbx", builder);
    run.Go();
    ASSERT_EQ(run.tally.messages(), 2u) << run.tally.Summary();
    const auto before = Tree(run);
    const auto outputs = TypeParam::Outputs(run, "Inbox");
    run.Go();
    EXPECT_EQ(run.tally.messages(), 0u) << run.tally.Summary();
    EXPECT_EQ(run.tally.already_there(), 2u) << run.tally.Summary();
    EXPECT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
    EXPECT_EQ(Tree(run), before);
    EXPECT_EQ(TypeParam::Outputs(run, "Inbox"), outputs);
}

// Another disk's Inbox.dbx converted later into the same destination: what the first run wrote
// stays as it was; what differs goes to a name of its own, what is the same is left.
TYPED_TEST(EveryForm, ALaterRunOfAnotherFolderFileNeverReplacesTheFirstOutput) {
    if (std::string(TypeParam::kOption) == "pst") return;  // a store takes later runs in by its own rule
    FormRun run(TypeParam::kOption);
    fixtures::DbxFileBuilder first, second;
    first.AddEmail(Email("Hello", Mail("Hello", "from the first disk"))).AddEmail(Email("Shared", Mail("Shared", "alike")));
    second.AddEmail(Email("Hello", Mail("Hello", "from the second disk"))).AddEmail(Email("Shared", Mail("Shared", "alike")));
    run.AddFolder("one", "Inbox.dbx", first);
    run.Go();
    const auto first_outputs = TypeParam::Outputs(run, "Inbox");
    ASSERT_EQ(first_outputs.size(), 2u);
    run.window.rows.clear();
    run.AddFolder("two", "Inbox.dbx", second);
    run.Go();
    EXPECT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
    if (TypeParam::kFilePerMessage) {
        // Hello1 differs: a second file beside the first; Shared0 is the same: left as it is.
        const auto outputs = TypeParam::Outputs(run, "Inbox");
        ASSERT_EQ(outputs.size(), 3u);
        // By name: "Hello1 (2)" sorts before "Hello1.".
        EXPECT_EQ(outputs[0].rfind("Hello1 (2).", 0), 0u) << outputs[0];
        EXPECT_TRUE(Contains(outputs[0], "from the second disk")) << outputs[0];
        EXPECT_EQ(outputs[1], first_outputs[0]);
        EXPECT_EQ(outputs[2], first_outputs[1]);
        EXPECT_EQ(run.tally.messages(), 1u);
        EXPECT_EQ(run.tally.already_there(), 1u);
    } else {
        EXPECT_EQ(TypeParam::Outputs(run, "Inbox"), first_outputs);
        const auto later = TypeParam::Outputs(run, "Inbox (2)");
        ASSERT_EQ(later.size(), 2u);
        EXPECT_TRUE(Contains(later[0], "from the second disk"));
        EXPECT_EQ(run.tally.messages(), 2u);
    }
    // Once more: every output of both runs is there already, nothing new appears.
    const auto before = Tree(run);
    run.Go();
    EXPECT_EQ(Tree(run), before);
    EXPECT_EQ(run.tally.messages(), 0u) << run.tally.Summary();
    EXPECT_EQ(run.tally.already_there(), 2u);
}

namespace {

// The subjects in the store folder of that name, or nullopt when the store has no such folder.
std::optional<std::vector<std::string>> SubjectsIn(const std::string& pst_path, const std::string& folder) {
    auto store = pst::messaging::Store::Open(pst_path, false);
    auto nid = store->FindFolderByPath(folder);
    if (!nid) return std::nullopt;
    std::vector<std::string> subjects;
    for (auto id : store->Messages(*nid)) subjects.push_back(store->ReadMessage(id).props.GetString(0x0037001F).value_or(""));
    return subjects;
}

using Subjects = std::optional<std::vector<std::string>>;

using fixtures::PstCheckStrictFailure;
std::string PstCheckFailure(const std::string& path) { return PstCheckStrictFailure(path); }

}  // namespace

// Two folder files named Inbox.dbx (and one INBOX.DBX) in one PST job keep apart as they do in
// the other forms: "Inbox (2).dbx" in one store, or a store of its own in separate mode.
TEST(PstForms, SameNamedFolderFilesGetFoldersAndStoresOfTheirOwn) {
    const auto add_rows = [](FormRun& run) {
        const char* names[] = {"Inbox.dbx", "Inbox.dbx", "INBOX.DBX"};
        for (int i = 0; i < 3; ++i) {
            fixtures::DbxFileBuilder builder;
            const std::string subject = "From disk " + std::to_string(i + 1);
            builder.AddEmail(Email(subject, Mail(subject, "body")));
            run.AddFolder("disk" + std::to_string(i + 1), names[i], builder);
        }
    };
    FormRun run("pst");
    add_rows(run);
    run.Go();
    EXPECT_EQ(run.tally.messages(), 3u) << run.tally.Summary();
    EXPECT_EQ(SubjectsIn(run.PstPath(), "Inbox.dbx"), Subjects({{"From disk 1"}}));
    EXPECT_EQ(SubjectsIn(run.PstPath(), "Inbox (2).dbx"), Subjects({{"From disk 2"}}));
    EXPECT_EQ(SubjectsIn(run.PstPath(), "INBOX (3).DBX"), Subjects({{"From disk 3"}}));
    EXPECT_EQ(PstCheckFailure(run.PstPath()), "");

    // The same rows into that store again (old mode): each finds its own folder and nothing is
    // added twice; no fourth folder appears.
    run.window.pst_answer.pst_mode = "old";
    run.window.pst_answer.existing_pst_path = run.PstPath();
    run.Go();
    EXPECT_EQ(run.tally.already_there(), 3u) << run.tally.Summary();
    EXPECT_EQ(run.tally.messages(), 0u);
    EXPECT_EQ(SubjectsIn(run.PstPath(), "Inbox (2).dbx"), Subjects({{"From disk 2"}}));
    EXPECT_EQ(SubjectsIn(run.PstPath(), "Inbox (4).dbx"), std::nullopt);
    EXPECT_EQ(PstCheckFailure(run.PstPath()), "");

    FormRun separate("pst");
    separate.window.pst_answer.pst_mode = "seprate";
    add_rows(separate);
    separate.Go();
    EXPECT_EQ(separate.tally.messages(), 3u) << separate.tally.Summary();
    const std::string out = separate.settings.destination_path + "/";
    EXPECT_EQ(SubjectsIn(out + "Inbox.dbx.pst", "Inbox.dbx"), Subjects({{"From disk 1"}}));
    EXPECT_EQ(SubjectsIn(out + "Inbox (2).dbx.pst", "Inbox (2).dbx"), Subjects({{"From disk 2"}}));
    EXPECT_EQ(SubjectsIn(out + "INBOX (3).DBX.pst", "INBOX (3).DBX"), Subjects({{"From disk 3"}}));
    for (const char* store : {"Inbox.dbx.pst", "Inbox (2).dbx.pst", "INBOX (3).DBX.pst"})
        EXPECT_EQ(PstCheckFailure(out + store), "") << store;
}

TYPED_TEST(EveryForm, RecoverWritesDeletedMessagesApartOnceAndNeverALiveOne) {
    FormRun run(TypeParam::kOption);
    run.settings.recover = true;
    run.AddFolder("src", "Inbox.dbx", LiveAndDeleted());
    run.Go();
    const auto live = TypeParam::Outputs(run, "Inbox");
    const auto recovered = RecoveredOutputs<TypeParam>(run, "Inbox");
    ASSERT_EQ(live.size(), 2u);
    ASSERT_EQ(recovered.size(), 2u);
    // File order, numbered after the two slots of the index.
    EXPECT_TRUE(OutputHolds(recovered[0], "Gone A", "deleted body A")) << recovered[0];
    EXPECT_TRUE(OutputHolds(recovered[1], "Gone B", "deleted body B")) << recovered[1];
    for (const auto& output : live) EXPECT_FALSE(Contains(output, "deleted body")) << output;
    for (const auto& output : recovered) EXPECT_FALSE(Contains(output, "kept ")) << output;
    if constexpr (TypeParam::kFilePerMessage) {
        EXPECT_TRUE(fs::exists(TypeParam::OutputPath(run, "Inbox/Recovered", "Gone A2")));
        EXPECT_TRUE(fs::exists(TypeParam::OutputPath(run, "Inbox/Recovered", "Gone B3")));
    }
    if constexpr (std::is_same_v<TypeParam, EmlForm>) {
        EXPECT_EQ(recovered[0], "Gone A2.eml\n" + Mail("Gone A", "deleted body A"));
    }
    if constexpr (std::is_same_v<TypeParam, MboxForm>) {
        // No record: the separator's sender and date come from the message's own header.
        constexpr std::uint64_t kJan2000 = 116444736000000000ULL + 946684800ULL * 10000000ULL;
        EXPECT_EQ(recovered[0], MboxSeparatorLine(std::string("ann@example.com"), kJan2000) +
                                    "From: Ann <ann@example.com>\nTo: bob@example.com\nSubject: Gone A\n"
                                    "Date: Sat, 01 Jan 2000 00:00:00 +0000\nMIME-Version: 1.0\n"
                                    "Content-Type: text/plain; charset=us-ascii\n\ndeleted body A\n\n\n");
    }
    if constexpr (std::is_same_v<TypeParam, PstForm>) {
        auto store = pst::messaging::Store::Open(run.PstPath(), false);
        auto nid = store->FindFolderByPath("Inbox.dbx\\Recovered");
        ASSERT_TRUE(nid);
        const mapi::Message first = store->ReadMessage(store->Messages(*nid).at(0));
        EXPECT_EQ(first.props.GetTime(0x00390040).value_or(mapi::Filetime{}).ticks, 116444736000000000ULL + 946684800ULL * 10000000ULL);
        EXPECT_EQ(PstCheckFailure(run.PstPath()), "");
    }
    if constexpr (std::is_same_v<TypeParam, MsgForm>) {
        if (msgtest::HaveMsgCheck()) {
            EXPECT_EQ(msgtest::MsgCheckStrict(TypeParam::OutputPath(run, "Inbox/Recovered", "Gone A2")), "");
        }
    }
    EXPECT_EQ(run.tally.messages(), 4u);
    EXPECT_EQ(run.tally.recovered(), 2u);
    EXPECT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
    EXPECT_TRUE(run.tally.note_lines().empty());
    EXPECT_TRUE(Contains(run.window.messages.at(0).text, "2 of the messages written were recovered"));
    // Two slots and two found messages: the bar steps four times.
    EXPECT_EQ(run.window.progress, (std::vector<int>{1, 2, 3, 4, 0, 0}));

    // Without recover mode the same intact file converts as it always did, with no word of the
    // deleted messages and nothing written for them.
    FormRun plain(TypeParam::kOption);
    plain.AddFolder("src", "Inbox.dbx", LiveAndDeleted());
    plain.Go();
    EXPECT_EQ(TypeParam::Outputs(plain, "Inbox"), live);
    EXPECT_TRUE(RecoveredOutputs<TypeParam>(plain, "Inbox").empty());
    EXPECT_FALSE(fs::exists(plain.settings.destination_path + "/Inbox/Recovered"));
    EXPECT_FALSE(fs::exists(plain.settings.destination_path + "/Inbox (recovered).mbox"));
    EXPECT_TRUE(plain.tally.note_lines().empty());
    EXPECT_EQ(plain.window.messages.at(0).text, "conversion process completed");
}

TYPED_TEST(EveryForm, ADamagedIndexIsNotedWithoutRecoverAndRecoveredWithIt) {
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 5; ++i) {
        const std::string subject = "Msg " + std::to_string(i);
        builder.AddEmail(Email(subject, Mail(subject, "body number " + std::to_string(i))));
    }
    builder.AddDeletedEmail(Email("Old", Mail("Old", "deleted long ago")));
    fixtures::DbxLayout layout;
    std::string bytes = builder.Build(layout);
    fixtures::OverwriteWithZeros(bytes, layout.root_offset, 64);

    FormRun plain(TypeParam::kOption);
    AddBytes(plain, "Inbox.dbx", bytes);
    plain.Go();
    EXPECT_TRUE(TypeParam::Outputs(plain, "Inbox").empty());
    EXPECT_EQ(plain.tally.failures(), 1u);
    EXPECT_EQ(plain.tally.note_lines(),
              std::vector<std::string>{"6 more messages can be recovered from Inbox.dbx: convert again with Recover"});
    EXPECT_TRUE(Contains(plain.window.messages.back().text, "Notes:\n6 more messages can be recovered from Inbox.dbx"))
        << plain.window.messages.back().text;

    FormRun run(TypeParam::kOption);
    run.settings.recover = true;
    AddBytes(run, "Inbox.dbx", bytes);
    run.Go();
    EXPECT_TRUE(TypeParam::Outputs(run, "Inbox").empty());
    const auto recovered = RecoveredOutputs<TypeParam>(run, "Inbox");
    ASSERT_EQ(recovered.size(), 6u);
    // With no slot left the found messages are numbered from 0, in file order.
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(OutputHolds(recovered[std::size_t(i)], "Msg " + std::to_string(i),
                                           "body number " + std::to_string(i)))
            << recovered[std::size_t(i)];
    EXPECT_TRUE(OutputHolds(recovered[5], "Old", "deleted long ago"));
    if constexpr (TypeParam::kFilePerMessage) {
        EXPECT_TRUE(fs::exists(TypeParam::OutputPath(run, "Inbox/Recovered", "Msg 00")));
    }
    if constexpr (std::is_same_v<TypeParam, EmlForm>) {
        EXPECT_EQ(recovered[5], "Old5.eml\n" + Mail("Old", "deleted long ago"));
    }
    EXPECT_EQ(run.tally.recovered(), 6u);
    EXPECT_EQ(run.tally.messages(), 6u);
    EXPECT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
    ASSERT_EQ(run.tally.note_lines().size(), 1u);
    EXPECT_TRUE(Contains(run.tally.note_lines()[0], "the header counts 5 messages, the index reaches 0"))
        << run.tally.note_lines()[0];
}

// The index is the truth and the header's count a hint: a wrong count costs no message, with
// or without recover, and is noted.
TYPED_TEST(EveryForm, AWrongHeaderCountIsNotedAndEveryMessageTheIndexReachesConverted) {
    for (const std::int32_t count : {1, 1000}) {
        fixtures::DbxFileBuilder builder;
        builder.AddEmail(Email("One", Mail("One", "first"))).AddEmail(Email("Two", Mail("Two", "second")));
        builder.SetHeaderItemCount(count);
        for (const bool recover : {false, true}) {
            FormRun run(TypeParam::kOption);
            run.settings.recover = recover;
            AddBytes(run, "Inbox.dbx", builder.Build());
            run.Go();
            EXPECT_EQ(TypeParam::Outputs(run, "Inbox").size(), 2u) << count;
            EXPECT_EQ(run.tally.messages(), 2u) << count;
            EXPECT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
            EXPECT_TRUE(RecoveredOutputs<TypeParam>(run, "Inbox").empty());
            // Nothing found, nothing made: no empty Recovered folder or file.
            EXPECT_FALSE(fs::exists(run.settings.destination_path + "/Inbox/Recovered"));
            EXPECT_FALSE(fs::exists(run.settings.destination_path + "/Inbox (recovered).mbox"));
            EXPECT_EQ(run.tally.note_lines(),
                      std::vector<std::string>{run.window.rows[0].path + ": the header counts " + std::to_string(count) +
                                               (count == 1 ? " message" : " messages") + ", the index reaches 2"});
        }
    }
}

// A message whose text is damaged is a failure on every run, also when what could be read of it
// is in place from the run before.
TYPED_TEST(EveryForm, ADamagedMessageIsAFailureOnEveryRun) {
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("Whole", Mail("Whole", "fine")));
    builder.AddEmail(Email("Looping", Mail("Looping", std::string(2000, 'x'))));
    fixtures::DbxLayout layout;
    std::string bytes = builder.Build(layout);
    const auto& chain = layout.items.at(1).chain_blocks.at(0);
    fixtures::SetBlockNext(bytes, chain.back(), chain.front());
    FormRun run(TypeParam::kOption);
    AddBytes(run, "Inbox.dbx", bytes);
    run.Go();
    EXPECT_EQ(run.tally.messages(), 1u) << run.tally.Summary();
    EXPECT_EQ(run.tally.failures(), 1u) << run.tally.Summary();
    run.Go();
    EXPECT_EQ(run.tally.messages(), 0u) << run.tally.Summary();
    EXPECT_EQ(run.tally.already_there(), 1u) << run.tally.Summary();
    EXPECT_EQ(run.tally.failures(), 1u) << run.tally.Summary();
    ASSERT_EQ(run.tally.failure_lines().size(), 1u);
    EXPECT_TRUE(Contains(run.tally.failure_lines()[0], "message text damaged")) << run.tally.failure_lines()[0];
}

// A crafted file whose records all point at one text chain: the chain is written once, for the
// first record; every other record counts as damaged.
TYPED_TEST(EveryForm, AChainSharedByManyRecordsIsWrittenOnce) {
    constexpr int kRecords = 40;
    const std::string text = Mail("Shared", std::string(64 << 10, 's'));
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("Shared", text));
    for (int i = 1; i < kRecords; ++i) builder.AddEmail(Email("Shared", "x"));
    fixtures::DbxLayout layout;
    std::string bytes = builder.Build(layout);
    const std::uint32_t head = layout.items.at(0).chain_blocks.at(0).at(0);
    // Entry 1 of a built record is the direct text offset (tag 0x84 and 24 bits).
    for (int i = 1; i < kRecords; ++i)
        fixtures::PutLe32(bytes, layout.items.at(std::size_t(i)).record_offset + fixtures::kDbxRecordHeaderSize + 4,
                          0x84u | (head << 8));
    FormRun run(TypeParam::kOption);
    AddBytes(run, "Inbox.dbx", bytes);
    run.Go();
    EXPECT_EQ(run.tally.messages(), 1u) << run.tally.Summary();
    EXPECT_EQ(run.tally.failures(), std::size_t{kRecords - 1}) << run.tally.Summary();
    std::size_t holding_the_text = 0;
    for (const std::string& output : TypeParam::Outputs(run, "Inbox"))
        if (Contains(output, std::string(1000, 's'))) ++holding_the_text;
    EXPECT_EQ(holding_the_text, 1u);
}

// One flipped bit in the class id of a message folder leaves it a folder whose messages are all
// converted, not a file passed over.
TYPED_TEST(EveryForm, AFolderWithAFlippedClassIdBitIsConverted) {
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 3; ++i) builder.AddEmail(Email("M" + std::to_string(i), Mail("M" + std::to_string(i), "body")));
    for (const std::size_t byte : {std::size_t{4}, std::size_t{9}, std::size_t{15}}) {
        std::string bytes = builder.Build();
        bytes[byte] = static_cast<char>(bytes[byte] ^ 0x02);
        FormRun run(TypeParam::kOption);
        AddBytes(run, "Inbox.dbx", bytes);
        run.Go();
        EXPECT_EQ(TypeParam::Outputs(run, "Inbox").size(), 3u) << byte;
        EXPECT_EQ(run.tally.messages(), 3u) << byte << run.tally.Summary();
        EXPECT_EQ(run.tally.failures(), 0u) << byte << run.tally.Summary();
        EXPECT_TRUE(run.tally.note_lines().empty()) << byte << run.tally.Summary();
    }
}

// A newsgroup's folder holds articles stored as mail: they are converted as a folder of its own.
TYPED_TEST(EveryForm, ANewsgroupFolderIsConvertedLikeAMailFolder) {
    fixtures::DbxFileBuilder builder;
    builder.SetNewsAccount("00000002");
    for (const char* subject : {"Question", "Re: Question"}) {
        const std::string article = "From: Ann <ann@example.com>\r\nNewsgroups: alt.test\r\nSubject: " +
                                    std::string(subject) + "\r\nDate: Sat, 01 Jan 2000 00:00:00 +0000\r\n\r\nposted\r\n";
        builder.AddEmail(Email(subject, article));
    }
    FormRun run(TypeParam::kOption);
    AddBytes(run, "alt.test.dbx", builder.Build());
    run.Go();
    const auto outputs = TypeParam::Outputs(run, "alt.test");
    ASSERT_EQ(outputs.size(), 2u) << run.tally.Summary();
    EXPECT_TRUE(OutputHolds(outputs[0], "Question", "posted")) << outputs[0];
    EXPECT_EQ(run.tally.messages(), 2u);
    EXPECT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
    EXPECT_TRUE(run.tally.note_lines().empty()) << run.tally.Summary();
}

// A record ruined in place: the live message fails as before, and its text, which no record
// claims any more, comes back among the recovered ones.
TYPED_TEST(EveryForm, TheTextOfARuinedRecordIsRecovered) {
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("A", Mail("A", "alpha"))).AddEmail(Email("B", Mail("B", "beta"))).AddEmail(Email("C", Mail("C", "gamma")));
    fixtures::DbxLayout layout;
    std::string bytes = builder.Build(layout);
    fixtures::OverwriteWithZeros(bytes, layout.items.at(1).record_offset, fixtures::kDbxRecordHeaderSize);
    FormRun run(TypeParam::kOption);
    run.settings.recover = true;
    AddBytes(run, "Inbox.dbx", bytes);
    run.Go();
    EXPECT_EQ(TypeParam::Outputs(run, "Inbox").size(), 3u);
    const auto recovered = RecoveredOutputs<TypeParam>(run, "Inbox");
    ASSERT_EQ(recovered.size(), 1u);
    EXPECT_TRUE(OutputHolds(recovered[0], "B", "beta")) << recovered[0];
    if constexpr (std::is_same_v<TypeParam, EmlForm>) {
        EXPECT_EQ(recovered[0], "B3.eml\n" + Mail("B", "beta"));
    }
    EXPECT_EQ(run.tally.failures(), 1u) << run.tally.Summary();
    EXPECT_EQ(run.tally.messages(), 3u);
    EXPECT_EQ(run.tally.recovered(), 1u);
}

TYPED_TEST(EveryForm, ARecoveredChainThatBreaksOffKeepsWhatWasReadAndIsCounted) {
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("Live", Mail("Live", "kept")));
    const std::string long_body = std::string(900, 'p') + "TAIL-LOST";
    builder.AddDeletedEmail(Email("Broken", Mail("Broken", long_body)));
    fixtures::DbxLayout layout;
    std::string bytes = builder.Build(layout);
    const auto& chain = layout.items.at(1).chain_blocks.at(0);
    ASSERT_GE(chain.size(), 2u);
    // The first block now leads into the file header: no block there, the chain breaks.
    fixtures::SetBlockNext(bytes, chain[0], 0x100);
    FormRun run(TypeParam::kOption);
    run.settings.recover = true;
    AddBytes(run, "Inbox.dbx", bytes);
    run.Go();
    const auto recovered = RecoveredOutputs<TypeParam>(run, "Inbox");
    ASSERT_EQ(recovered.size(), 1u);
    EXPECT_TRUE(Contains(recovered[0], "Broken")) << recovered[0];
    EXPECT_TRUE(Contains(recovered[0], "ppppp"));
    EXPECT_FALSE(Contains(recovered[0], "TAIL-LOST"));
    // As a live message whose text breaks off: written as far as it goes, counted as a failure.
    EXPECT_EQ(run.tally.failures(), 1u);
    EXPECT_EQ(run.tally.recovered(), 0u);
    EXPECT_EQ(run.tally.messages(), 1u);
    ASSERT_EQ(run.tally.failure_lines().size(), 1u);
    EXPECT_TRUE(Contains(run.tally.failure_lines()[0], "message text damaged")) << run.tally.failure_lines()[0];
}

TYPED_TEST(EveryForm, TheExitRequestStopsRecoveryAtAMessageBoundary) {
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("Live", Mail("Live", "kept")));
    for (int i = 0; i < 4; ++i) builder.AddDeletedEmail(Email("Gone", Mail("Gone", std::string(700, char('a' + i)))));
    FormRun run(TypeParam::kOption);
    run.settings.recover = true;
    run.AddFolder("src", "Inbox.dbx", builder);
    fixtures::DbxFileBuilder later;
    later.AddDeletedEmail(Email("Later", Mail("Later", "never")));
    run.AddFolder("src2", "Later.dbx", later);
    run.window.stop_after_status = 3;  // the live message and two found ones
    run.Go();
    EXPECT_EQ(TypeParam::Outputs(run, "Inbox").size(), 1u);
    EXPECT_EQ(RecoveredOutputs<TypeParam>(run, "Inbox").size(), 2u);
    EXPECT_TRUE(RecoveredOutputs<TypeParam>(run, "Later").empty());
    EXPECT_EQ(run.tally.messages(), 3u);
    EXPECT_EQ(run.tally.recovered(), 2u);
    EXPECT_EQ(run.tally.failures(), 0u);
}

// A recover run against the independent extractor undbx in its recovery mode, on the same
// damaged files: every message it recovers is among our output files, and none of ours twice.
// Chains that begin with no header (the tails of messages whose head is lost) undbx gives too;
// a conversion does not write them, having no header to name or date them by.
TEST(RecoverAgainstUndbx, EveryMessageUndbxRecoversIsWrittenOnce) {
    const std::string undbx = "/usr/bin/undbx";
    if (!fs::exists(undbx)) GTEST_SKIP() << "undbx is not installed (Debian package undbx); comparison skipped";
    fixtures::DbxFileBuilder builder;
    builder.SetEntriesPerNode(3);
    for (int n = 0; n < 20; ++n) {
        const std::string subject = "Note " + std::to_string(n);
        const auto email = Email(subject, Mail(subject, std::string(200 + 150 * std::size_t(n), char('a' + n))));
        if (n % 3 == 1)
            builder.AddDeletedEmail(email);
        else
            builder.AddEmail(email);
    }
    fixtures::DbxLayout layout;
    const std::string good = builder.Build(layout);
    std::map<std::string, std::string> files{{"deleted", good}};
    files["root-zeroed"] = good;
    fixtures::OverwriteWithZeros(files["root-zeroed"], layout.root_offset, fixtures::kDbxNodeHeaderSize);
    files["node-zeroed"] = good;
    fixtures::OverwriteWithZeros(files["node-zeroed"], layout.nodes.front().offset, fixtures::kDbxNodeHeaderSize);
    files["count-1000"] = good;
    fixtures::PutLe32(files["count-1000"], fixtures::kDbxItemCountAt, 1000);
    const auto& chain = layout.items[16].chain_blocks[0];
    files["cut-in-chain"] = good;
    fixtures::CutAt(files["cut-in-chain"], chain[chain.size() / 2] + 100);
    files["bent-chains"] = good;
    fixtures::SetBlockNext(files["bent-chains"], layout.items[10].chain_blocks[0][1], layout.items[10].chain_blocks[0][0]);
    fixtures::SetBlockNext(files["bent-chains"], layout.items[13].chain_blocks[0][0], layout.items[19].chain_blocks[0][1]);

    for (const auto& [name, bytes] : files) {
        FormRun run("eml");
        run.settings.recover = true;
        const std::string path = AddBytes(run, "Inbox.dbx", bytes);
        run.Go();
        std::map<std::string, int> ours;
        for (const std::string folder : {"Inbox", "Inbox/Recovered"})
            for (const auto& [file, text] : FilesIn(run.settings.destination_path + "/" + folder)) ++ours[text];
        for (const auto& [text, times] : ours) EXPECT_EQ(times, 1) << name << ": written twice: " << text.substr(0, 100);

        const std::string out = run.dir / "undbx";
        const std::string command = undbx + " -r -v 0 '" + path + "' '" + out + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::size_t theirs = 0, fragments = 0;
        for (const auto& entry : fs::recursive_directory_iterator(out)) {
            if (!entry.is_regular_file() || entry.path().extension() != ".eml") continue;
            const std::string text = ReadFile(entry.path().string());
            if (text.rfind("From: ", 0) != 0) {
                ++fragments;
                continue;
            }
            ++theirs;
            EXPECT_EQ(ours.count(text), 1u) << name << ": undbx recovers a message we do not write: " << text.substr(0, 100);
        }
        std::printf("[ %-12s ] undbx -r: %zu messages (%zu tails), ours: %zu files\n", name.c_str(), theirs, fragments,
                    ours.size());
        EXPECT_GE(ours.size(), theirs) << name;
    }
}

// Each store mode keeps the recovered messages in one Recovered folder beneath the folder
// file's own; a second run into the same store finds that folder and adds nothing twice.
TEST(PstRecover, EveryModeUsesOneRecoveredFolderAndASecondRunAddsNothing) {
    for (const std::string mode : {"new", "seprate", "old"}) {
        FormRun run("pst");
        run.settings.recover = true;
        run.window.pst_answer.pst_mode = mode;
        run.AddFolder("src", "Inbox.dbx", LiveAndDeleted());
        std::string store_path = mode == "seprate" ? run.settings.destination_path + "/Inbox.dbx.pst" : run.PstPath();
        if (mode == "old") {
            FormRun first("pst");
            first.window.pst_answer.pst_path = store_path;
            first.window.AddRow(run.window.rows[0].path, "Other.dbx");
            first.Go();  // a store that already holds another folder
            run.window.pst_answer.existing_pst_path = store_path;
        }
        run.Go();
        EXPECT_EQ(run.tally.recovered(), 2u) << mode;
        FormRun again("pst");
        again.settings.recover = true;
        again.window.pst_answer = run.window.pst_answer;
        if (mode == "new") {
            again.window.pst_answer.pst_mode = "old";
            again.window.pst_answer.existing_pst_path = store_path;
        }
        if (mode == "seprate") again.settings.destination_path = run.settings.destination_path;
        again.window.AddRow(run.window.rows[0].path, "Inbox.dbx");
        again.Go();
        EXPECT_EQ(again.tally.already_there(), 4u) << mode << again.tally.Summary();
        EXPECT_EQ(again.tally.recovered(), 0u) << mode;
        EXPECT_EQ(again.tally.failures(), 0u) << mode << again.tally.Summary();

        auto store = pst::messaging::Store::Open(store_path, false);
        const auto folder = store->FindFolderByPath("Inbox.dbx");
        ASSERT_TRUE(folder) << mode;
        const auto subfolders = store->Subfolders(*folder);
        ASSERT_EQ(subfolders.size(), 1u) << mode;
        EXPECT_EQ(subfolders[0].name, "Recovered");
        EXPECT_EQ(store->Messages(subfolders[0].nid).size(), 2u) << mode;
        EXPECT_EQ(store->Messages(*folder).size(), 2u) << mode;
        EXPECT_EQ(PstCheckFailure(store_path), "") << mode;
    }
}

namespace {

// Every regular file below the destination, hidden ones included, by path relative to it; the
// destination's memory of its folders is no output.
std::map<std::string, std::string> DestinationFiles(FormRun& run) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(run.settings.destination_path))
        if (entry.is_regular_file() && entry.path().filename() != FolderPlaces::kFileName)
            files[fs::relative(entry.path(), run.settings.destination_path).string()] = ReadFile(entry.path().string());
    return files;
}

// Names in a folder that no run of ours should leave: hidden temporary files and stores.
std::vector<std::string> LeftOvers(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name[0] == '.' && name != FolderPlaces::kFileName) names.push_back(name);
    }
    return names;
}

fixtures::DbxFileBuilder SixMessages() {
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 6; ++i) {
        const std::string subject = "Part " + std::to_string(i);
        builder.AddEmail(Email(subject, HtmlMail(subject, "<p>" + std::string(3000, char('a' + i)) + "</p>")));
    }
    return builder;
}

}  // namespace

// A disk that fills up, or starts to fail, part way through a job: whatever the form, nothing
// partial is left (no cut-short or empty message file, no MBOX temporary, no file under a new
// store's name, an existing store byte for byte as it was), the failure is told in words with
// no number, and a run with a sound disk then writes exactly what a first run would have.
TYPED_TEST(EveryForm, AFailingDiskLeavesNothingPartialAndNoNumberInAMessage) {
    FormRun reference(TypeParam::kOption);
    reference.AddFolder("src", "Inbox.dbx", SixMessages());
    const fixtures::FailingDisk counting(std::uint64_t{1} << 40);
    reference.devices = &counting;
    reference.Go();
    ASSERT_EQ(reference.tally.failures(), 0u) << reference.tally.Summary();
    const auto expected = DestinationFiles(reference);
    const auto expected_outputs = TypeParam::Outputs(reference, "Inbox");
    // Room for about half of what the job writes.
    const std::uint64_t budget = counting.written() / 2;

    for (const auto kind : {platform::WriteFailure::kDiskFull, platform::WriteFailure::kIo}) {
        SCOPED_TRACE(platform::WriteFailureWords(kind));
        FormRun run(TypeParam::kOption);
        run.AddFolder("src", "Inbox.dbx", SixMessages());
        const fixtures::FailingDisk disk(budget, kind);
        run.devices = &disk;
        run.Go();
        EXPECT_TRUE(disk.failed());
        EXPECT_GE(run.tally.failures(), 1u);
        const std::string summary = run.tally.Summary();
        EXPECT_TRUE(Contains(summary, platform::WriteFailureWords(kind))) << summary;
        for (const auto& message : run.window.messages) EXPECT_FALSE(Contains(message.text, "(0x")) << message.text;
        for (const auto& [name, bytes] : DestinationFiles(run)) {
            ASSERT_EQ(expected.count(name), 1u) << "left behind: " << name;
            EXPECT_TRUE(bytes == expected.at(name)) << name << " is not whole (" << bytes.size() << " bytes)";
        }
        EXPECT_TRUE(LeftOvers(run.settings.destination_path).empty()) << LeftOvers(run.settings.destination_path)[0];
        EXPECT_TRUE(LeftOvers(run.dir.path()).empty()) << LeftOvers(run.dir.path())[0];
        if constexpr (!TypeParam::kFilePerMessage) {
            EXPECT_FALSE(fs::exists(TypeParam::OutputPath(run, "Inbox", "")));
            EXPECT_EQ(run.tally.messages(), 0u) << summary;
        }
        // Space again: the same names are filled, nothing goes to a "(2)".
        run.devices = nullptr;
        run.Go();
        EXPECT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
        EXPECT_EQ(DestinationFiles(run), expected);
        EXPECT_EQ(TypeParam::Outputs(run, "Inbox"), expected_outputs);
    }

    if constexpr (std::is_same_v<TypeParam, PstForm>) {
        // A store that exists is extended through a copy: a failure leaves it as it was.
        FormRun old(TypeParam::kOption);
        fs::copy_file(reference.PstPath(), old.PstPath());
        const std::string before = ReadFile(old.PstPath());
        old.window.pst_answer.pst_mode = "old";
        old.window.pst_answer.existing_pst_path = old.PstPath();
        fixtures::DbxFileBuilder more;
        for (int i = 0; i < 6; ++i) more.AddEmail(Email("More " + std::to_string(i), Mail("More", std::string(4000, 'm'))));
        old.AddFolder("src", "More.dbx", more);
        const fixtures::FailingDisk disk(budget / 4);
        old.devices = &disk;
        old.Go();
        EXPECT_TRUE(disk.failed());
        EXPECT_TRUE(Contains(old.tally.Summary(), "the disk is full")) << old.tally.Summary();
        EXPECT_TRUE(ReadFile(old.PstPath()) == before);
        EXPECT_TRUE(LeftOvers(old.dir.path()).empty()) << LeftOvers(old.dir.path())[0];
    }
}

// A link planted at a folder that the conversion makes or enters below the chosen destination
// (the destination itself, a folder file's folder, its Recovered folder) is refused as a link
// at a file is: nothing reaches where it points.
TYPED_TEST(EveryForm, ALinkPlantedAtAFolderIsNeverFollowed) {
    for (const std::string at : {"ExportDBX", "ExportDBX/Inbox", "ExportDBX/Inbox/Recovered"}) {
        SCOPED_TRACE(at);
        FormRun run(TypeParam::kOption);
        run.settings.recover = true;
        run.AddFolder("src", "Inbox.dbx", LiveAndDeleted());
        fs::create_directories(run.dir / "elsewhere");
        fs::remove_all(run.dir / at);
        fs::create_directories(fs::path(run.dir / at).parent_path());
        fs::create_directory_symlink(run.dir / "elsewhere", run.dir / at);
        run.Go();
        EXPECT_TRUE(fs::is_empty(run.dir / "elsewhere")) << fs::directory_iterator(run.dir / "elsewhere")->path();
        // The folder is the form's own (PST writes beside the destination, MBOX into it alone).
        const bool used = at == "ExportDBX" ? !std::is_same_v<TypeParam, PstForm> : TypeParam::kFilePerMessage;
        if (used) {
            EXPECT_GE(run.tally.failures(), 1u) << run.tally.Summary();
            EXPECT_TRUE(Contains(run.tally.Summary(), "a link is in the way")) << run.tally.Summary();
        } else {
            EXPECT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
        }
    }
}

// A folder file whose name is long: the names made beside its outputs (temporary files, locks)
// fit within the system's limit too, in every form.
TYPED_TEST(EveryForm, AFolderFileWithALongNameConverts) {
    FormRun run(TypeParam::kOption);
    run.window.pst_answer.pst_mode = "seprate";  // the store is named after the file, with its lock beside it
    const std::string name = std::string(240, 'L') + ".dbx";
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("One", Mail("One", "first"))).AddEmail(Email("Two", Mail("Two", "second")));
    run.AddFolder("src", name, builder);
    run.Go();
    EXPECT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
    EXPECT_EQ(run.tally.messages(), 2u);
}

#ifndef _WIN32
// What a killed run left half made beside its outputs (hidden temporary files of a process that
// has gone) is cleared by the next run; a living process's are left alone.
TEST(KilledRuns, TheirTemporaryFilesAreRemovedByTheNextRun) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    for (const std::string option : {"mbox", "eml"}) {
        FormRun run(option);
        const std::string folder = option == "mbox" ? run.settings.destination_path : run.settings.destination_path + "/Inbox";
        fs::create_directories(folder);
        const std::string dead = folder + "/.Inbox.mbox." + std::to_string(child) + ".part";
        const std::string living = folder + "/.Inbox.mbox." + std::to_string(::getpid()) + ".part";
        fixtures::WriteFile(dead, "half");
        fixtures::WriteFile(living, "in use");
        fixtures::DbxFileBuilder builder;
        builder.AddEmail(Email("A", Mail("A", "alpha")));
        run.AddFolder("src", "Inbox.dbx", builder);
        run.Go();
        EXPECT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
        EXPECT_FALSE(fs::exists(dead)) << option;
        EXPECT_TRUE(fs::exists(living)) << option;
    }
}

// A new store killed while it is being written: nothing stands under the store's name, and the
// run after it clears what the killed one left.
TEST(KilledRuns, ANewStoreNeverLooksMadeAndTheNextRunClearsItsBuild) {
    FormRun run("pst");
    run.AddFolder("src", "Inbox.dbx", SixMessages());
    const pid_t child = ::fork();
    if (child == 0) {
        fixtures::FailAtWrite killing;
        killing.fail_at = 3;
        killing.kill = true;
        run.devices = &killing;
        run.Go();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(fs::exists(run.PstPath()));
    EXPECT_EQ(LeftOvers(run.dir.path()).size(), 1u);
    run.Go();
    EXPECT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
    EXPECT_EQ(PstFolderMessages(run, "Inbox.dbx").size(), 6u);
    EXPECT_TRUE(LeftOvers(run.dir.path()).empty()) << LeftOvers(run.dir.path())[0];
    EXPECT_EQ(PstCheckFailure(run.PstPath()), "");
}
#endif  // the killed runs
