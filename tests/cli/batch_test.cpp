// Many stores at once on GNU parallel, as an archive batch runs them: the stores found below a
// root, NUL-separated, each converted by a process of its own into one destination.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dbx/folder_tree.h"
#include "export/content_digest.h"
#include "export/export_test_support.h"
#include "fixtures/store_builder.h"
#include "fixtures/strict_checkers.h"

namespace {

struct ShellRun {
    int status = -1;
    std::string out;
};

ShellRun Shell(const std::string& command) {
    ShellRun run;
    FILE* pipe = popen(("timeout 300 bash -c '" + command + "' 2>&1").c_str(), "r");
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool HaveParallel() { return Shell("command -v parallel").status == 0; }

// A store of one Inbox: its own messages and, for every third store, one all those share (the
// same message on many backups).
void WriteInboxStore(const std::string& directory, int number, bool damaged) {
    std::filesystem::create_directories(directory);
    std::vector<fixtures::DbxFolderSpec> folders = fixtures::StoreTopFolders();
    fixtures::DbxFolderSpec inbox = fixtures::ListedFolder(4, fixtures::kLocalFoldersId, "Inbox", "Inbox.dbx");
    inbox.store_type = static_cast<std::uint32_t>(DbxStoreType::Local);
    folders.push_back(inbox);
    fixtures::WriteStore(directory, folders, {});
    fixtures::DbxFileBuilder builder;
    const std::string id = std::to_string(number);
    const auto shared = testsupport::Email("shared", "Subject: shared\r\nMessage-ID: <shared@example.com>\r\n\r\nsame\r\n");
    // At another slot in half of them, so that its files there have names of their own.
    if (number % 3 == 0 && number % 2 == 0) builder.AddEmail(shared);
    for (int k = 0; k < 2; ++k)
        builder.AddEmail(testsupport::Email("store " + id + " message " + std::to_string(k),
                                            "Subject: store " + id + " message " + std::to_string(k) + "\r\nMessage-ID: <" +
                                                id + "." + std::to_string(k) + "@example.com>\r\n\r\ntext\r\n"));
    if (number % 3 == 0 && number % 2 != 0) builder.AddEmail(shared);
    std::string bytes = builder.Build();
    if (damaged) bytes.resize(bytes.size() / 3);  // a copy that broke off
    fixtures::WriteFile(directory + "/Inbox.dbx", bytes);
}

std::map<std::string, std::string> Digests(const std::string& root) {
    std::map<std::string, std::string> digests;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file()) digests[entry.path().string()] = FileSha256Hex(entry.path().string());
    return digests;
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

// 200 stores (20 of them copies of others, 10 damaged) through parallel -j2 into one destination:
// each store's exit status in the job log, a manifest per process whose lines are the messages
// written and whose digests check; the batch run again writes nothing; the sources stay as they were.
TEST(Batch, TwoHundredStoresThroughParallel) {
    if (!HaveParallel()) GTEST_SKIP() << "GNU parallel is not installed (Debian package parallel)";
    fixtures::TempFolder dir;
    constexpr int kStores = 200, kCopies = 20, kDamaged = 10;
    for (int i = 0; i < kStores - kCopies; ++i)
        WriteInboxStore(dir / ("disk/user" + std::to_string(i) + "/Outlook Express"), i, i < kDamaged);
    for (int i = 0; i < kCopies; ++i)
        std::filesystem::copy(dir / ("disk/user" + std::to_string(kDamaged + i)), dir / ("disk/backup" + std::to_string(i)),
                              std::filesystem::copy_options::recursive);
    const auto sources = Digests(dir / "disk");
    std::filesystem::create_directories(dir / "sum");
    const std::string cli = OMBRIK_CLI;
    const auto batch = [&](const std::string& log, const std::string& out = "out", const std::string& more = "") {
        return Shell(cli + " --find-stores " + Quote(dir / "disk") + " --print0 | parallel -0 -j2 --joblog " +
                     Quote(dir / log) + " " + cli + " --quiet --manifest " + more + " --dest " + Quote(dir / out) +
                     " --summary-json " + Quote(dir / "sum") + "/" + log + "{#}.json --add-store {}");
    };
    const ShellRun first = batch("first");
    // parallel's own status: how many jobs failed.
    EXPECT_EQ(first.status, kDamaged) << first.out;
    const ShellRun statuses =
        Shell("tail -n +2 " + Quote(dir / "first") + " | cut -f7 | sort | uniq -c | sed \"s/^ *//\"");
    EXPECT_EQ(statuses.out, std::to_string(kStores - kDamaged) + " 0\n" + std::to_string(kDamaged) + " 1\n");

    const auto check = [&](const std::string& summaries, const std::string& out = "out") {
        return Shell("python3 " + Quote(CHECK_MANIFEST) + " " + Quote(dir / (out + "/ExportDBX")) +
                     "/ombrik-manifest-*.jsonl && cat " + Quote(dir / "sum") + "/" + summaries +
                     "*.json | python3 -c \"import json,sys; print(sum(json.loads(l)[\\\"messages_written\\\"] for l in sys.stdin))\"")
            .out;
    };
    // Every store's messages are in the one Inbox folder: each of its own once, the shared one
    // written by the first store that has it at each of its two slots and there already for the
    // rest, and so is every message of a copy. A damaged store writes nothing (its index is cut
    // off) but a manifest.
    std::size_t entries = 0;
    for (int i = kDamaged; i < kStores - kCopies; ++i) entries += 2 + (i % 3 == 0 ? 1 : 0);
    for (int i = kDamaged; i < kDamaged + kCopies; ++i) entries += 2 + (i % 3 == 0 ? 1 : 0);
    const std::size_t distinct = 2 * (kStores - kCopies - kDamaged) + 1;
    const std::size_t written = distinct + 1;
    EXPECT_EQ(check("first"), "{\"entries\": " + std::to_string(entries) + ", \"headers\": " + std::to_string(kStores) +
                                  ", \"mismatch\": \"\", \"outcomes\": {\"already there\": " +
                                  std::to_string(entries - written) + ", \"written\": " + std::to_string(written) +
                                  "}, \"written_digests\": " + std::to_string(distinct) + "}\n" + std::to_string(written) +
                                  "\n");

    // Resumed or run again: nothing more is written.
    const ShellRun again = batch("again");
    EXPECT_EQ(again.status, kDamaged) << again.out;
    const std::string again_check = Shell("cat " + Quote(dir / "sum") + "/again*.json | python3 -c \"import json,sys; "
                                          "print(sum(json.loads(l)[\\\"messages_written\\\"] for l in sys.stdin))\"")
                                        .out;
    EXPECT_EQ(again_check, "0\n");

    // Leaving out what other stores wrote: each distinct message once, the rest counted.
    const ShellRun once = batch("once", "out-once", "--skip-duplicates");
    EXPECT_EQ(once.status, kDamaged) << once.out.substr(0, 1500);
    const std::string once_check = check("once", "out-once");
    EXPECT_NE(once_check.find("\"written\": " + std::to_string(distinct) + "}"), std::string::npos) << once_check;
    EXPECT_NE(once_check.find("\"mismatch\": \"\""), std::string::npos) << once_check;
    EXPECT_EQ(Digests(dir / "disk"), sources);
}

// Stores through parallel -j2 into one PST store: the store's lock makes the runs take turns,
// every distinct message is in it once (the shared one too), the batch run again adds nothing,
// and the store passes the strict check.
TEST(Batch, StoresThroughParallelIntoOnePstStore) {
    if (!HaveParallel()) GTEST_SKIP() << "GNU parallel is not installed (Debian package parallel)";
    fixtures::TempFolder dir;
    constexpr int kStores = 12;
    for (int i = 0; i < kStores; ++i) WriteInboxStore(dir / ("disk/user" + std::to_string(i) + "/Outlook Express"), i, false);
    std::filesystem::create_directories(dir / "sum");
    const std::string cli = OMBRIK_CLI;
    const std::string store = dir / "All.pst";
    // The store is made by a first run of one store, as docs/batch.md tells.
    const ShellRun made = Shell(cli + " --quiet --dest " + Quote(dir / "out") + " --format pst --pst-mode new --pst-folder " +
                                Quote(dir.path()) + " --add-store " + Quote(dir / "disk/user0/Outlook Express"));
    ASSERT_EQ(made.status, 0) << made.out;
    std::filesystem::rename(dir / "NewPST.pst", store);
    const auto batch = [&](const std::string& log) {
        return Shell(cli + " --find-stores " + Quote(dir / "disk") + " --print0 | parallel -0 -j2 --joblog " +
                     Quote(dir / log) + " " + cli + " --quiet --dest " + Quote(dir / "out") +
                     " --format pst --pst-mode old --pst-file " + Quote(store) + " --summary-json " + Quote(dir / "sum") +
                     "/" + log + "{#}.json --add-store {}");
    };
    const auto written = [&](const std::string& log) {
        return Shell("cat " + Quote(dir / "sum") + "/" + log + "*.json | python3 -c \"import json,sys; "
                     "print(sum(json.loads(l)[\\\"messages_written\\\"] for l in sys.stdin))\"")
            .out;
    };
    const ShellRun first = batch("first");
    EXPECT_EQ(first.status, 0) << first.out;
    // Store 0's messages (and the shared one, which it holds) were in the store already.
    EXPECT_EQ(written("first"), std::to_string(2 * (kStores - 1)) + "\n");
    const ShellRun again = batch("again");
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_EQ(written("again"), "0\n");
    EXPECT_EQ(fixtures::PstCheckStrictFailure(store), "");
}
