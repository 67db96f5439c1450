#include "platform/output_folder.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>

#include <gtest/gtest.h>

#include "fixtures/temp_folder.h"
#include "platform/pending_file.h"
#include "platform/process.h"
#include "platform/write_failure.h"

namespace fs = std::filesystem;
using fixtures::ReadFile;
using platform::OutputFolder;
using platform::PendingFile;
using platform::WriteFailure;

namespace {

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

#ifndef _WIN32
// The id of a process that has ended.
long EndedProcessId() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}
#endif

}  // namespace

TEST(WriteFailure, SystemErrorsBecomeKindsInWordsWithoutNumbers) {
    const std::vector<std::pair<int, WriteFailure>> cases = {
        {0, WriteFailure::kNone},           {ENOSPC, WriteFailure::kDiskFull},
        {EFBIG, WriteFailure::kFileTooLarge}, {EACCES, WriteFailure::kPermission}, {EROFS, WriteFailure::kReadOnlyDisk},
        {EIO, WriteFailure::kIo},           {ENOENT, WriteFailure::kNotFound},   {ELOOP, WriteFailure::kLinkInTheWay},
        {EISDIR, WriteFailure::kInTheWay},  {ENAMETOOLONG, WriteFailure::kNameTooLong},
        {EINVAL, WriteFailure::kNameRefused}, {EBADF, WriteFailure::kOther},
    };
#ifdef EDQUOT
    EXPECT_EQ(platform::WriteFailureOf(EDQUOT), WriteFailure::kDiskFull);
#endif
    for (const auto& [error, kind] : cases) {
        EXPECT_EQ(platform::WriteFailureOf(error), kind) << error;
        const std::string words = platform::WriteFailureWords(kind);
        EXPECT_EQ(words.empty(), kind == WriteFailure::kNone) << error;
        EXPECT_EQ(words.find_first_of("0123456789"), std::string::npos) << words;
    }
    EXPECT_STREQ(platform::WriteFailureWords(WriteFailure::kDiskFull), "the disk is full");
}

#ifndef _WIN32
// The folders a conversion makes or enters are never reached through a link; the folders above
// the chosen destination are the user's and may be.
TEST(OutputFolder, RefusesLinksAtEveryFolderItMakesOrEnters) {
    fixtures::TempFolder dir;
    fs::create_directories(dir / "real/ExportDBX");
    fs::create_directory(dir / "elsewhere");
    fs::create_directory_symlink(dir / "real", dir / "chosen");
    OutputFolder destination;
    ASSERT_EQ(destination.Open(dir / "chosen/ExportDBX"), WriteFailure::kNone);
    fs::create_directory_symlink(dir / "elsewhere", dir / "real/ExportDBX/Inbox");
    fs::create_directory_symlink(dir / "elsewhere", dir / "linked");
    fixtures::WriteFile(dir / "real/ExportDBX/File", "");

    OutputFolder refused;
    EXPECT_EQ(refused.Open(dir / "linked"), WriteFailure::kLinkInTheWay);
    EXPECT_EQ(destination.OpenChild("Inbox", refused), WriteFailure::kLinkInTheWay);
    EXPECT_EQ(destination.OpenChild("File", refused), WriteFailure::kInTheWay);
    for (const std::string bad : {"", ".", "..", "a/b"})
        EXPECT_EQ(destination.OpenChild(bad, refused), WriteFailure::kNameRefused) << bad;
    EXPECT_FALSE(refused.is_open());
    EXPECT_TRUE(Names(dir / "elsewhere").empty());

    OutputFolder sent;
    ASSERT_EQ(destination.OpenChild("Sent", sent), WriteFailure::kNone);
    EXPECT_EQ(sent.path(), dir / "chosen/ExportDBX/Sent");
    EXPECT_TRUE(fs::is_directory(dir / "real/ExportDBX/Sent"));
    // A link planted after the folder was entered changes nothing: the folder is held open.
    fs::rename(dir / "real/ExportDBX/Sent", dir / "real/ExportDBX/Moved");
    fs::create_directory_symlink(dir / "elsewhere", dir / "real/ExportDBX/Sent");
    EXPECT_EQ(sent.MakeEmptyFileUnlessThere("parent"), WriteFailure::kNone);
    EXPECT_TRUE(fs::exists(dir / "real/ExportDBX/Moved/parent"));
    EXPECT_TRUE(Names(dir / "elsewhere").empty());
    fixtures::WriteFile(dir / "real/ExportDBX/Moved/kept", "kept");
    EXPECT_EQ(sent.MakeEmptyFileUnlessThere("kept"), WriteFailure::kNone);
    EXPECT_EQ(ReadFile(dir / "real/ExportDBX/Moved/kept"), "kept");
    OutputFolder missing;
    EXPECT_EQ(missing.Open(dir / "no/such"), WriteFailure::kNotFound);
}
#endif

// Until it is placed the file has no name anyone sees; placed, it never replaces a thing.
TEST(PendingFile, IsSeenOnlyOnceWholeAndNeverReplaces) {
    fixtures::TempFolder dir;
    OutputFolder folder;
    ASSERT_EQ(folder.Open(dir.path()), WriteFailure::kNone);
    fixtures::WriteFile(dir / "taken", "earlier");
    fixtures::WriteFile(dir / "empty", "");
    PendingFile file;
    ASSERT_EQ(file.Begin(folder, "taken", nullptr, true), WriteFailure::kNone);
    ASSERT_EQ(file.device().Write("new bytes"), WriteFailure::kNone);
#ifdef _WIN32
    // Windows has no nameless files: the file is written under its hidden temporary name.
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{platform::TemporaryNameFor("taken"), "empty", "taken"}));
#else
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"empty", "taken"}));
#endif
    bool taken = false;
    EXPECT_EQ(file.Place("taken", taken), WriteFailure::kNone);
    EXPECT_TRUE(taken);
    EXPECT_EQ(file.CompareWith("taken"), platform::ExistingFile::kDifferent);
    EXPECT_EQ(file.PlaceOverEmptyFile("taken", taken), WriteFailure::kNone);
    EXPECT_TRUE(taken) << "a file with content was replaced";
    EXPECT_EQ(file.PlaceOverEmptyFile("empty", taken), WriteFailure::kNone);
    EXPECT_FALSE(taken);
    EXPECT_EQ(file.Finish(), WriteFailure::kNone);
    EXPECT_EQ(ReadFile(dir / "empty"), "new bytes");
    EXPECT_EQ(ReadFile(dir / "taken"), "earlier");
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"empty", "taken"}));

    // Abandoned, or gone with its object, it leaves nothing.
    PendingFile dropped;
    ASSERT_EQ(dropped.Begin(folder, "dropped"), WriteFailure::kNone);
    dropped.device().Write("never seen");
    dropped.Abandon();
    { PendingFile forgotten; forgotten.Begin(folder, "forgotten"); }
    EXPECT_EQ(Names(dir.path()).size(), 2u);
}

// The name is made only for a file that needs a temporary one, and then gives it.
TEST(PendingFile, MakesItsNameOnlyForATemporaryName) {
    fixtures::TempFolder dir;
    OutputFolder folder;
    ASSERT_EQ(folder.Open(dir.path()), WriteFailure::kNone);
    int made = 0;
    PendingFile file;
    ASSERT_EQ(file.Begin(folder, [&] { return ++made, std::string("Subject0.eml"); }), WriteFailure::kNone);
    ASSERT_EQ(file.device().Write("bytes"), WriteFailure::kNone);
    const std::vector<std::string> names = Names(dir.path());
    EXPECT_EQ(made, names.empty() ? 0 : 1);
    if (!names.empty()) {
        EXPECT_EQ(names, (std::vector<std::string>{platform::TemporaryNameFor("Subject0.eml")}));
    }
    bool taken = true;
    EXPECT_EQ(file.Place("Subject0.eml", taken), WriteFailure::kNone);
    EXPECT_FALSE(taken);
    EXPECT_EQ(file.Finish(), WriteFailure::kNone);
    EXPECT_EQ(ReadFile(dir / "Subject0.eml"), "bytes");
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"Subject0.eml"}));
}

#ifndef _WIN32
// A process killed while writing leaves nothing under the name and, where files need a
// temporary name, nothing that a later run does not clear away.
TEST(PendingFile, AKilledWriterLeavesNothingBehind) {
    fixtures::TempFolder dir;
    OutputFolder folder;
    ASSERT_EQ(folder.Open(dir.path()), WriteFailure::kNone);
    const pid_t child = ::fork();
    if (child == 0) {
        PendingFile file;
        if (file.Begin(folder, "m.eml") != WriteFailure::kNone) ::_exit(2);
        file.device().Write(std::string(100000, 'x'));
        ::raise(SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    folder.RemoveStaleTemporaries();
    EXPECT_TRUE(Names(dir.path()).empty());

    // Temporary names: a dead process's go, a living one's and anything else stay.
    const std::string dead = "." + std::string("Inbox.mbox.") + std::to_string(EndedProcessId()) + ".part";
    const std::string living = ".Inbox.mbox." + std::to_string(::getppid()) + ".part";
    for (const std::string& name : {dead, living, std::string(".notes.part"), std::string("Inbox.mbox.1.part")})
        fixtures::WriteFile(dir / name, "x");
    folder.RemoveStaleTemporaries();
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{".Inbox.mbox." + std::to_string(::getppid()) + ".part",
                                                          ".notes.part", "Inbox.mbox.1.part"}));
}
#endif

// Names made beside another stay within what a file system takes, however long that one is.
TEST(NamesBeside, StayWithinTheNameLimit) {
    const std::string own = std::to_string(platform::CurrentProcessId());
    EXPECT_EQ(platform::TemporaryNameFor("Inbox.mbox"), ".Inbox.mbox." + own + ".part");
    EXPECT_EQ(platform::NameBeside("/d/Inbox.pst", ".ombrik-lock"), "/d/Inbox.pst.ombrik-lock");
    std::string long_name;
    while (long_name.size() < 250) long_name += "\xC3\xA9";  // two bytes a letter: the cut must not split one
    const std::string temporary = platform::TemporaryNameFor(long_name, 3);
    EXPECT_LE(temporary.size(), platform::kNameLimit);
    EXPECT_EQ(temporary.substr(temporary.size() - own.size() - 5), own + ".part");
    const std::string lock = platform::LastPathComponent(platform::NameBeside("/d/" + long_name + ".pst", ".ombrik-lock"));
    EXPECT_LE(lock.size(), platform::kNameLimit);
    EXPECT_NE(lock, platform::LastPathComponent(platform::NameBeside("/d/" + long_name + "x.pst", ".ombrik-lock")));
    for (const std::string& name : {temporary, lock}) {
        fixtures::TempFolder dir;
        fixtures::WriteFile(dir / name, "fits");
        EXPECT_EQ(ReadFile(dir / name), "fits");
    }
}
