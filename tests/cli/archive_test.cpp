// Runs for archives and scripts: the manifest of every message, and what a program reads back.
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "export/content_digest.h"
#include "export/export_test_support.h"
#include "export/message_manifest.h"
#include "fixtures/store_builder.h"
#include "platform/text_encoding.h"

using testsupport::Email;

namespace {

struct CommandRun {
    int status = -1;
    std::string out;
};

// errors_too: standard error with standard output, else left out.
CommandRun RunCommand(const std::string& command, bool errors_too = true) {
    CommandRun run;
    FILE* pipe = popen(("timeout 60 " + command + (errors_too ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

CommandRun RunCli(const std::string& arguments, bool errors_too = true) {
    return RunCommand(std::string(OMBRIK_CLI) + " " + arguments, errors_too);
}

// Python's reading of a JSON document: expression evaluated with the document as j.
std::string JsonQuery(const std::string& json, const std::string& expression) {
    fixtures::TempFolder dir;
    fixtures::WriteFile(dir / "doc.json", json);
    fixtures::WriteFile(dir / "query.py", "import json, sys\nj = json.load(open(sys.argv[1]))\nprint(" + expression + ")\n");
    return RunCommand("python3 " + Quote(dir / "query.py") + " " + Quote(dir / "doc.json")).out;
}

// The manifest files of the given suffix in folder, oldest name first.
std::vector<std::string> Manifests(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> found;
    if (!std::filesystem::is_directory(folder)) return found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("ombrik-manifest-", 0) == 0 && entry.path().extension() == suffix) found.push_back(entry.path().string());
    }
    std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return found;
}

// What the independent checker (Python's json and hashlib) makes of manifest files.
std::string CheckManifests(const std::vector<std::string>& paths) {
    std::string command = "python3 " + Quote(CHECK_MANIFEST);
    for (const auto& path : paths) command += " " + Quote(path);
    return RunCommand(command).out;
}

const std::string kGreeting =
    "From: =?utf-8?q?J=C3=B6rg?= <j@example.com>\r\nTo: b@example.com\r\n"
    "Subject: =?utf-8?q?Gr=C3=BC=C3=9Fe?=\r\nMessage-ID: <1@example.com>\r\n"
    "Date: Mon, 1 Jan 2001 10:00:00 +0000\r\n\r\nbody\r\n";

void WriteFolder(const std::string& path) {
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("Gr\xC3\xBC\xC3\x9F" "e", kGreeting))
        .AddEmail(Email("two", "Subject: two\r\nMessage-ID: <2@example.com>\r\n\r\nsecond\r\n"))
        .AddEmail(Email("three", "Subject: three\r\n\r\nno id\r\n"));
    builder.WriteTo(path);
}

}  // namespace

// Every form records each message it wrote once, with digests that check; a run again records
// the same messages as already there, in a manifest of its own.
TEST(Manifest, RecordsEveryMessageOfEveryFormAndARunAgain) {
    const std::vector<std::string> forms = {"--format eml", "--format mbox", "--format msg",
                                            "--format html", "--format maildir", "--format pst --pst-mode separate",
                                            "--format pst --pst-mode new --pst-folder "};
    for (const std::string& form : forms) {
        SCOPED_TRACE(form);
        fixtures::TempFolder dir;
        WriteFolder(dir / "Inbox.dbx");
        const std::string arguments = form + (form.back() == ' ' ? Quote(dir.path()) : "") + " --manifest --dest " +
                                      Quote(dir.path()) + " " + Quote(dir / "Inbox.dbx");
        const CommandRun first = RunCli(arguments);
        ASSERT_EQ(first.status, 0) << first.out;
        EXPECT_NE(first.out.find("the manifest of this run"), std::string::npos) << first.out;
        ASSERT_EQ(Manifests(dir / "ExportDBX", ".jsonl").size(), 1u);
        ASSERT_EQ(Manifests(dir / "ExportDBX", ".csv").size(), 1u);
        EXPECT_EQ(CheckManifests(Manifests(dir / "ExportDBX", ".jsonl")),
                  "{\"entries\": 3, \"headers\": 1, \"mismatch\": \"\", \"outcomes\": {\"written\": 3}, "
                  "\"written_digests\": 3}\n");
        const CommandRun again = RunCli(arguments);
        ASSERT_EQ(again.status, 0) << again.out;
        const auto manifests = Manifests(dir / "ExportDBX", ".jsonl");
        ASSERT_EQ(manifests.size(), 2u);
        EXPECT_EQ(CheckManifests({manifests[1]}),
                  "{\"entries\": 3, \"headers\": 1, \"mismatch\": \"\", \"outcomes\": {\"already there\": 3}, "
                  "\"written_digests\": 0}\n");
    }
}

// The fields of one message: decoded header text, the stored text's size and digest, and for EML
// (the stored bytes themselves) an output digest equal to the message's.
TEST(Manifest, EntryHoldsTheMessagesOwnFacts) {
    fixtures::TempFolder dir;
    WriteFolder(dir / "Inbox.dbx");
    const CommandRun run = RunCli("--manifest --dest " + Quote(dir.path()) + " " + Quote(dir / "Inbox.dbx"));
    ASSERT_EQ(run.status, 0) << run.out;
    const std::string jsonl = fixtures::ReadFile(Manifests(dir / "ExportDBX", ".jsonl").at(0));
    const std::string digest = Sha256Hex(kGreeting);
    for (const std::string& field :
         {std::string("\"kind\":\"live\""), std::string("\"from\":\"J\xC3\xB6rg <j@example.com>\""),
          std::string("\"to\":\"b@example.com\""), std::string("\"subject\":\"Gr\xC3\xBC\xC3\x9F" "e\""),
          std::string("\"message_id\":\"<1@example.com>\""), std::string("\"date\":\"Mon, 1 Jan 2001 10:00:00 +0000\""),
          "\"size\":" + std::to_string(kGreeting.size()), "\"sha256\":\"" + digest + "\"",
          "\"output_sha256\":\"" + digest + "\"", "\"source_sha256\":\"" + FileSha256Hex(dir / "Inbox.dbx") + "\"",
          "\"output\":\"" + (dir / "ExportDBX/Inbox/Gr\xC3\xBC\xC3\x9F" "e2.eml") + "\""})
        EXPECT_NE(jsonl.find(field), std::string::npos) << field << "\n" << jsonl;
    const std::string csv = fixtures::ReadFile(Manifests(dir / "ExportDBX", ".csv").at(0));
    EXPECT_EQ(csv.rfind("# ombrik ", 0), 0u) << csv;
    EXPECT_NE(csv.find("# option,format,eml\r\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\r\nsource,source_sha256,slot,kind,offset,date,from,to,subject,message_id,size,sha256,state,"
                       "outcome,output,output_folder,output_sha256\r\n"),
              std::string::npos);
}

// Without --manifest nothing is added to the destination; an upload has no destination for one.
TEST(Manifest, OnlyWhenAskedAndOnlyWithADestination) {
    fixtures::TempFolder dir;
    WriteFolder(dir / "Inbox.dbx");
    ASSERT_EQ(RunCli("--dest " + Quote(dir.path()) + " " + Quote(dir / "Inbox.dbx")).status, 0);
    EXPECT_TRUE(Manifests(dir / "ExportDBX", ".jsonl").empty());
    const CommandRun upload = RunCli("--format imap --imap-url imaps://a@localhost --manifest " + Quote(dir / "Inbox.dbx"));
    EXPECT_EQ(upload.status, 2);
    EXPECT_NE(upload.out.find("--manifest"), std::string::npos) << upload.out;
}

// A message only the scan finds is told apart, with where its text begins in the folder file.
TEST(Manifest, RecoveredMessagesAreMarkedWithTheirOffset) {
    fixtures::TempFolder dir;
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Email("kept", "Subject: kept\r\n\r\nkept\r\n"))
        .AddDeletedEmail(Email("gone", "Subject: gone\r\n\r\ngone\r\n"));
    builder.WriteTo(dir / "Inbox.dbx");
    const CommandRun run = RunCli("--recover --manifest --dest " + Quote(dir.path()) + " " + Quote(dir / "Inbox.dbx"));
    ASSERT_EQ(run.status, 0) << run.out;
    const std::string jsonl = fixtures::ReadFile(Manifests(dir / "ExportDBX", ".jsonl").at(0));
    EXPECT_NE(jsonl.find("\"slot\":0,\"kind\":\"live\",\"offset\":null"), std::string::npos) << jsonl;
    const std::size_t recovered = jsonl.find("\"slot\":1,\"kind\":\"recovered\",\"offset\":");
    ASSERT_NE(recovered, std::string::npos) << jsonl;
    EXPECT_NE(jsonl[recovered + 41], '0');
    EXPECT_NE(jsonl.find("/ExportDBX/Inbox/Recovered/gone1.eml\""), std::string::npos) << jsonl;
}

// A sender chooses the text of every header: in CSV it can neither break a line nor start a
// formula, and in JSON every text is valid UTF-8 with control characters escaped.
TEST(Manifest, HostileTextStaysInItsField) {
    ManifestEntry entry;
    entry.subject = "=HYPERLINK(\"http://x\")";
    entry.from = "a, b\r\nc";
    entry.to = std::string("\x01raw \xFF");
    const ManifestHeader header;
    const std::string csv = ManifestCsv(header, {entry});
    EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"http://x\"\")\","), std::string::npos) << csv;
    EXPECT_NE(csv.find(",\"a, b\r\nc\","), std::string::npos) << csv;
    const std::string json = ManifestJsonLines(header, {entry});
    EXPECT_TRUE(platform::IsWellFormedUtf8(json));
    EXPECT_NE(json.find("\"from\":\"a, b\\r\\nc\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"to\":\"\\u0001raw \xEF\xBF\xBD\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"subject\":\"=HYPERLINK(\\\"http://x\\\")\""), std::string::npos) << json;
}

namespace {

// What a forensic user states of a source: its bytes and its times, to the nanosecond.
struct SourceState {
    std::string bytes;
    timespec modified{}, changed{}, accessed{};
    mode_t mode = 0;
};

SourceState StateOf(const std::string& path) {
    SourceState state;
    state.bytes = fixtures::ReadFile(path);
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        state.modified = info.st_mtim;
        state.changed = info.st_ctim;
        state.accessed = info.st_atim;
        state.mode = info.st_mode;
    }
    return state;
}

bool Same(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

// No form changes a folder file of a whole store: not its bytes, its modification or change time
// or its mode, in a first run or a run again (with recovery, which scans every byte too).
TEST(Sources, NeverChangedByAnyForm) {
    const std::vector<std::string> forms = {"eml", "mbox", "msg", "rtf", "html", "maildir", "pst --pst-mode separate",
                                            "pst --pst-mode new --pst-folder ", "pst --pst-mode old --pst-file "};
    for (const std::string& form : forms) {
        SCOPED_TRACE(form);
        fixtures::TempFolder dir;
        std::filesystem::create_directories(dir / "store");
        fixtures::WriteExampleStore(dir / "store", "Deleted Items");
        WriteFolder(dir / "Loose.dbx");
        std::vector<std::string> sources = {dir / "Loose.dbx"};
        for (const auto& entry : std::filesystem::directory_iterator(dir / "store")) sources.push_back(entry.path().string());
        std::string arguments = "--format " + form;
        if (form.back() == ' ') {
            if (form.find("--pst-file") != std::string::npos) {
                ASSERT_EQ(RunCli("--format pst --pst-mode new --pst-folder " + Quote(dir.path()) + " --dest " +
                                 Quote(dir / "first") + " " + Quote(dir / "Loose.dbx"))
                              .status,
                          0);
                arguments += Quote(dir / "NewPST.pst");
            } else {
                arguments += Quote(dir.path());
            }
        }
        std::map<std::string, SourceState> before;
        for (const auto& source : sources) before[source] = StateOf(source);
        for (int run = 0; run < 2; ++run) {
            const CommandRun converted = RunCli(arguments + " --recover --manifest --dest " + Quote(dir / "out") +
                                                " --add-store " + Quote(dir / "store") + " " + Quote(dir / "Loose.dbx"));
            EXPECT_EQ(converted.status, 0) << converted.out;
        }
        for (const auto& source : sources) {
            const SourceState after = StateOf(source);
            EXPECT_EQ(after.bytes, before[source].bytes) << source;
            EXPECT_TRUE(Same(after.modified, before[source].modified)) << source;
            EXPECT_TRUE(Same(after.changed, before[source].changed)) << source;
            EXPECT_EQ(after.mode, before[source].mode) << source;
        }
    }
}

// The summary a program reads: the exit status, the counts, each failure and each skipped
// source with its file and reason; on standard output with "-" (the lines for people moved to
// standard error), else in the file named.
TEST(SummaryJson, TellsCountsFailuresAndSkippedSources) {
    fixtures::TempFolder dir;
    WriteFolder(dir / "Good.dbx");
    fixtures::WriteFile(dir / "Bad.dbx", "not a folder file");
    const std::string sources = Quote(dir / "Good.dbx") + " " + Quote(dir / "Bad.dbx") + " " + Quote(dir / "Gone.dbx");
    const CommandRun run = RunCli("--quiet --summary-json - --dest " + Quote(dir.path()) + " " + sources, false);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(JsonQuery(run.out, "j['exit_status'], j['folders'], j['messages_written'], j['failures'], "
                                 "[f['what'] for f in j['failure_list']], [s['path'] for s in j['skipped_list']]"),
              "1 1 3 1 ['" + (dir / "Bad.dbx") + "'] ['" + (dir / "Gone.dbx") + "']\n");
    EXPECT_NE(JsonQuery(run.out, "j['failure_list'][0]['why']").find("is not an Outlook Express folder file"),
              std::string::npos);

    const CommandRun again = RunCli("--quiet --summary-json " + Quote(dir / "summary.json") + " --dest " +
                                    Quote(dir.path()) + " " + Quote(dir / "Good.dbx"), false);
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.out.find("messages already there, not written again: 3"), std::string::npos) << again.out;
    EXPECT_EQ(JsonQuery(fixtures::ReadFile(dir / "summary.json"), "j['exit_status'], j['already_there'], j['failure_list']"),
              "0 3 []\n");
}

// The stores below a root for a program (JSON) and for a pipe into xargs or parallel (NUL after
// each folder, nothing else on standard output).
TEST(FindStores, ListsForProgramsAndPipes) {
    fixtures::TempFolder dir;
    for (const char* name : {"disk/a/Outlook Express", "disk/b\nnewline"}) {
        std::filesystem::create_directories(dir / name);
        fixtures::WriteExampleStore(dir / name, "Deleted Items");
    }
    const CommandRun json = RunCli("--find-stores " + Quote(dir / "disk") + " --json", false);
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(JsonQuery(json.out, "[(s['path'], s['user'], s['folders'] > 0, s['messages'] > 0) for s in j['stores']], j['truncated']"),
              "[('" + (dir / "disk/a/Outlook Express") + "', None, True, True), ('" + (dir / "disk/b\\nnewline") +
                  "', None, True, True)] False\n");
    const CommandRun listed = RunCli("--find-stores " + Quote(dir / "disk") + " --print0", false);
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, (dir / "disk/a/Outlook Express") + std::string(1, '\0') + (dir / "disk/b\nnewline") +
                              std::string(1, '\0'));

    std::filesystem::create_directories(dir / "empty");
    const CommandRun none = RunCli("--find-stores " + Quote(dir / "empty") + " --json", false);
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(JsonQuery(none.out, "j['stores']"), "[]\n");
    EXPECT_EQ(RunCli("--find-stores " + Quote(dir / "disk") + " --json --print0").status, 2);
    EXPECT_EQ(RunCli("--print0 --dest " + Quote(dir.path()) + " x.dbx").status, 2);
}

// Two backups of one mailbox: with --skip-duplicates the second writes only what the first did
// not (a message with the same Message-ID, Date and Subject, or without one the same bytes, is
// left out and counted), also when run again; without it every message whose file differs is written.
TEST(SkipDuplicates, EachMessageOfOverlappingSourcesOnce) {
    fixtures::TempFolder dir;
    const auto mail = [](const std::string& subject, const std::string& id, const std::string& body) {
        return Email(subject, "Subject: " + subject + "\r\nDate: Tue, 2 Jan 2001 10:00:00 +0000\r\n" +
                                  (id.empty() ? "" : "Message-ID: <" + id + ">\r\n") + "\r\n" + body + "\r\n");
    };
    for (const std::string disk : {"A", "B"}) {
        std::filesystem::create_directories(dir / disk);
        fixtures::DbxFileBuilder builder;
        builder.AddEmail(mail("own " + disk, disk + "@example.com", disk))
            .AddEmail(mail("shared", "shared@example.com", "read on " + disk))  // another copy's bytes
            .AddEmail(mail("no id", "", "same bytes"));
        builder.WriteTo(dir / (disk + "/Sent.dbx"));
    }
    const std::string a = Quote(dir / "A/Sent.dbx"), b = Quote(dir / "B/Sent.dbx");
    const std::string once = "--skip-duplicates --summary-json - --dest " + Quote(dir / "once") + " ";
    EXPECT_EQ(JsonQuery(RunCli(once + a, false).out, "j['messages_written'], j['duplicates_left_out']"), "3 0\n");
    const CommandRun second = RunCli(once + b, false);
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(JsonQuery(second.out, "j['messages_written'], j['duplicates_left_out']"), "1 2\n");
    EXPECT_EQ(JsonQuery(RunCli(once + b, false).out, "j['messages_written'], j['already_there'], j['duplicates_left_out']"),
              "0 1 2\n");
    const CommandRun told = RunCli("--skip-duplicates --dest " + Quote(dir / "once") + " " + b);
    EXPECT_NE(told.out.find("messages another folder file wrote already, left out: 2"), std::string::npos) << told.out;
    const std::string all = "--summary-json - --dest " + Quote(dir / "all") + " ";
    RunCli(all + a, false);
    // Without it only the very same file is found there: the message without a Message-ID.
    EXPECT_EQ(JsonQuery(RunCli(all + b, false).out, "j['messages_written'], j['already_there'], j['duplicates_left_out']"),
              "2 1 0\n");
    EXPECT_EQ(RunCli("--skip-duplicates --format pst --pst-mode separate --dest " + Quote(dir / "p") + " " + a).status, 2);
}

namespace {

const std::string kLongName = std::string(300, 'x') + ".pdf";

// One message with attachments of hostile and colliding names, an inline image, an embedded
// message and an S/MIME signature (which is no attachment), beside its body texts.
const std::string kWithFiles =
    "From: a@example.com\r\nSubject: files\r\nMessage-ID: <files@example.com>\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
    "--b1\r\nContent-Type: multipart/alternative; boundary=\"b2\"\r\n\r\n"
    "--b2\r\nContent-Type: text/plain\r\n\r\nbody\r\n--b2\r\nContent-Type: text/html\r\n\r\n<p>body</p>\r\n--b2--\r\n"
    "--b1\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=\"../../etc/passwd\"\r\n\r\nroot\r\n"
    "--b1\r\nContent-Type: application/octet-stream\r\n"
    "Content-Disposition: attachment; filename*=UTF-8''%E2%82%AC%20report.txt\r\n"
    "Content-Transfer-Encoding: base64\r\n\r\nAAECAw==\r\n"
    "--b1\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=\"=?utf-8?q?CON=09.txt?=\"\r\n\r\ncon\r\n"
    "--b1\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=\"dup.txt\"\r\n\r\none\r\n"
    "--b1\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=\"DUP.txt\"\r\n\r\ntwo\r\n"
    "--b1\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=\" trailing. \"\r\n\r\nt\r\n"
    "--b1\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"" + kLongName + "\"\r\n\r\nlong\r\n"
    "--b1\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment\r\n\r\n%PDF-1.4\r\n"
    "--b1\r\nContent-Type: image/png; name=\"logo.png\"\r\nContent-Disposition: inline\r\nContent-ID: <logo>\r\n"
    "Content-Transfer-Encoding: base64\r\n\r\niVBORw0KGgo=\r\n"
    "--b1\r\nContent-Type: message/rfc822\r\nContent-Disposition: attachment\r\n\r\n"
    "Subject: inner\r\nFrom: c@example.com\r\n\r\ninner body\r\n"
    "--b1\r\nContent-Type: application/pkcs7-signature; name=smime.p7s\r\nContent-Disposition: attachment; "
    "filename=smime.p7s\r\n\r\nsig\r\n--b1--\r\n";

// Every file below root by its path relative to root, with its bytes.
std::map<std::string, std::string> FilesBelow(const std::string& root) {
    std::map<std::string, std::string> files;
    if (!std::filesystem::is_directory(root)) return files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[std::filesystem::relative(entry.path(), root).string()] = fixtures::ReadFile(entry.path().string());
    return files;
}

}  // namespace

// The attachments of each message are saved in a folder of their own, under safe names that
// never meet, byte for byte, beside EML and MSG files, an MBOX file and a PST store alike (named
// by the message's own file, else as an EML run names the message); a message without attachments gets no folder; the manifest lists each
// with a digest that checks; a run again writes nothing, and a file in the way keeps its bytes.
TEST(Attachments, SavedBesideEveryFormUnderSafeNamesOnce) {
    for (const std::string form : {"eml", "mbox", "msg", "pst --pst-mode separate"}) {
        SCOPED_TRACE(form);
        fixtures::TempFolder dir;
        fixtures::DbxFileBuilder builder;
        builder.AddEmail(Email("files", kWithFiles)).AddEmail(Email("plain", "Subject: plain\r\n\r\nnothing\r\n"));
        builder.WriteTo(dir / "Inbox.dbx");
        // A PST store's folder is named after the folder file, and so is its folder of attachments.
        const std::string attachments = dir / (form == "eml" || form == "mbox" || form == "msg" ? "ExportDBX/Inbox.attachments"
                                                                                                  : "ExportDBX/Inbox.dbx.attachments");
        const std::string message = attachments + "/files1";
        std::filesystem::create_directories(message);
        fixtures::WriteFile(message + "/logo.png", "someone else's");
        const std::string arguments = "--format " + form + " --extract-attachments --manifest --dest " + Quote(dir.path()) +
                                      " " + Quote(dir / "Inbox.dbx");
        const CommandRun first = RunCli(arguments);
        ASSERT_EQ(first.status, 0) << first.out;
        const std::map<std::string, std::string> expected = {
            {"passwd", "root"},
            {"\xE2\x82\xAC report.txt", std::string("\0\1\2\3", 4)},
            {"_CON.txt", "con"},
            {"dup.txt", "one"},
            {"DUP (2).txt", "two"},
            {"trailing", "t"},
            {std::string(196, 'x') + ".pdf", "long"},
            {"attachment.pdf", "%PDF-1.4"},
            {"logo.png", "someone else's"},
            {"logo (2).png", "\x89PNG\r\n\x1A\n"},
            {"inner.eml", "Subject: inner\r\nFrom: c@example.com\r\n\r\ninner body"}};
        std::map<std::string, std::string> in_folder;
        for (const auto& [name, bytes] : expected) in_folder["files1/" + name] = bytes;
        EXPECT_EQ(FilesBelow(attachments), in_folder);
        const auto manifests = Manifests(dir / "ExportDBX", ".jsonl");
        ASSERT_EQ(manifests.size(), 1u);
        EXPECT_EQ(CheckManifests(manifests),
                  "{\"entries\": 12, \"headers\": 1, \"mismatch\": \"\", \"outcomes\": {\"attachment written\": 10, "
                  "\"written\": 2}, \"written_digests\": 2}\n");
        const std::string csv = fixtures::ReadFile(Manifests(dir / "ExportDBX", ".csv").at(0));
        EXPECT_NE(csv.find("# option,folder files,1\r\n# option,recover,no\r\n"), std::string::npos) << csv;
        EXPECT_NE(csv.find("# option,extract attachments,yes\r\n"), std::string::npos) << csv;
        const auto before = FilesBelow(dir / "ExportDBX");
        const CommandRun again = RunCli(arguments);
        ASSERT_EQ(again.status, 0) << again.out;
        auto after = FilesBelow(dir / "ExportDBX");
        const auto second = Manifests(dir / "ExportDBX", ".jsonl");
        ASSERT_EQ(second.size(), 2u);
        for (const std::string& path : second) {
            after.erase(std::filesystem::relative(path, dir / "ExportDBX").string());
            after.erase(std::filesystem::relative(path.substr(0, path.size() - 6) + ".csv", dir / "ExportDBX").string());
        }
        EXPECT_EQ(after.size() + 2, before.size());  // the first run's manifests aside, nothing new
        EXPECT_EQ(CheckManifests({second[1]}),
                  "{\"entries\": 12, \"headers\": 1, \"mismatch\": \"\", \"outcomes\": {\"already there\": 2, "
                  "\"attachment already there\": 10}, \"written_digests\": 0}\n");
    }
}

// An upload writes no files: asked to save attachments too, it is refused before anything runs.
TEST(Attachments, RefusedWithAnUpload) {
    fixtures::TempFolder dir;
    WriteFolder(dir / "Inbox.dbx");
    const CommandRun upload =
        RunCli("--format imap --imap-url imaps://a@localhost --extract-attachments " + Quote(dir / "Inbox.dbx"));
    EXPECT_EQ(upload.status, 2);
    EXPECT_NE(upload.out.find("--extract-attachments"), std::string::npos) << upload.out;
}

// A folder of a whole store keeps its attachments beside its own output in the tree: beside the
// folder of message files, and for MBOX in the parent's ".sbd" folder beside the MBOX file.
TEST(Attachments, AFolderOfAStoreKeepsThemBesideItsPlaceInTheTree) {
    for (const auto& [form, expected] :
         {std::pair<std::string, std::string>{"eml", "Inbox/Child.attachments/one0/a.txt"},
          {"mbox", "Inbox.sbd/Child.attachments/one0/a.txt"}}) {
        SCOPED_TRACE(form);
        fixtures::TempFolder dir;
        std::filesystem::create_directories(dir / "store");
        std::vector<fixtures::DbxFolderSpec> folders = fixtures::StoreTopFolders();
        folders.push_back(fixtures::ListedFolder(4, fixtures::kLocalFoldersId, "Inbox", "Inbox.dbx"));
        folders.push_back(fixtures::ListedFolder(5, 4, "Child", "Child.dbx"));
        fixtures::WriteStore(dir / "store", folders, {{"Inbox.dbx", 1}});
        fixtures::DbxFileBuilder builder;
        builder.AddEmail(Email("one", "Subject: one\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nbody\r\n"
                                      "--b\r\nContent-Disposition: attachment; filename=a.txt\r\n\r\nA\r\n--b--\r\n"));
        builder.WriteTo(dir / "store/Child.dbx");
        const CommandRun run = RunCli("--format " + form + " --extract-attachments --dest " + Quote(dir.path()) +
                                      " --add-store " + Quote(dir / "store"));
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(FilesBelow(dir / "ExportDBX").count(expected), 1u) << run.out;
    }
}
