// Every field right in every reader: mail whose addresses, bodies, dates and headers tripped a
// converter somewhere, converted to MSG, PST (each mode), HTML and RTF, and read back with the
// independent readers (msgreader, olefile and the strict MSG checker; pst-extractor, pffexport,
// readpst and the strict PST checker).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "export/export_test_support.h"
#include "fixtures/strict_checkers.h"
#include "job/conversion_job.h"
#include "platform/file_stream.h"
#include "platform/text_encoding.h"
#include "store/msg/msg_test_support.h"
#include "store/pst/messaging/store.h"

namespace fs = std::filesystem;
using fixtures::ReadFile;

namespace {

constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;
constexpr std::int64_t kRecordSeconds = 1000000000;  // the time Outlook Express recorded: 2001-09-09
std::uint64_t Ticks(std::int64_t seconds) { return kUnixEpochTicks + static_cast<std::uint64_t>(seconds) * 10000000ULL; }

const std::string kAs(1700, 'A'), kBs(1700, 'B');

struct FieldMail {
    FieldMail(std::string s, std::string t, std::string n = "") : subject(std::move(s)), text(std::move(t)), name(std::move(n)) {}
    std::string subject;  // as the folder file's record holds it
    std::string text;
    std::string name;  // how the subject reads (file names, the readers' subject); empty: as the record's
    const std::string& Name() const { return name.empty() ? subject : name; }
};

std::string Plain(const std::string& headers, const std::string& body = "body\r\n") {
    return headers + "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n" + body;
}

std::vector<FieldMail> FieldMails() {
    return {
        {"comma names",
         Plain("From: =?utf-8?Q?M=C3=BCller=2C_J=C3=BCrgen?= <juergen@example.de>\r\n"
               "To: =?utf-8?Q?Doe=2C_J=C3=A4ne?= <jane@example.com>, Charlie Root <root>\r\n"
               "Cc: =?utf-8?B?RG9lLCBKb2hu?= <john@example.com>\r\nBcc: Hidden Person <hidden@example.com>\r\n"
               "Subject: comma names\r\nDate: Sat, 01 Jan 2000 00:00:00 +0000\r\n")},
        {"local sender", Plain("From: Charlie Root <root>\r\nTo: ann@example.com\r\nSubject: local sender\r\n"
                               "Date: Sat, 01 Jan 2000 00:00:00 +0000\r\n")},
        {"zero byte", Plain("From: a@example.com\r\nSubject: zero byte\r\nDate: Sat, 01 Jan 2000 00:00:00 +0000\r\n",
                            kAs + std::string(1, '\0') + kBs + "\r\n")},
        {"no date", Plain("From: a@example.com\r\nTo: b@example.com\r\nSubject: no date\r\n")},
        {"html title",
         "From: a@example.com\r\nSubject: html title\r\nDate: Sat, 01 Jan 2000 00:00:00 +0000\r\nMIME-Version: 1.0\r\n"
         "Content-Type: text/html; charset=us-ascii\r\n\r\n<html><head><title>Secret Title</title>"
         "<style>p{color:red}</style></head><body><p>Visible text</p></body></html>\r\n"},
        {"embedded",
         "From: a@example.com\r\nSubject: embedded\r\nDate: Sat, 01 Jan 2000 00:00:00 +0000\r\nMIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nouter\r\n"
         "--b\r\nContent-Type: message/rfc822\r\n\r\nFrom: inner@example.com\r\nSubject: inner message\r\n"
         "X-Test: folded\r\n value\r\n\r\ninner body\r\n--b--\r\n"},
        // Outlook Express kept the subject decoded in the charset the header names.
        {"Cat\xF3lica",
         Plain("From: a@example.com\r\nSubject: =?iso-8859-1?Q?Cat=F3lica?=\r\nDate: Sat, 01 Jan 2000 00:00:00 +0000\r\n"),
         "Católica"},
    };
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }
bool Contains(const std::string& haystack, const std::string& needle) { return haystack.find(needle) != std::string::npos; }

std::string NodeModules(const std::string& set, const std::string& package) {
    std::string root;
    if (const char* dir = std::getenv("OMBRIK_NPM_DIR")) root = dir;
    else if (const char* home = std::getenv("HOME")) root = std::string(home) + "/.cache/ombrik/npm";
    const std::string modules = root + "/" + set + "/node_modules";
    return fs::exists(modules + "/" + package) && std::system("node --version >/dev/null 2>&1") == 0 ? modules : "";
}

bool HaveTool(const std::string& name) { return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0; }

// A dump script's output; attachments' bytes into out_dir when it is given.
std::string RunDump(const std::string& modules, const std::string& script, const std::string& file,
                    const std::string& out_dir = "") {
    fixtures::TempFolder dir;
    const std::string out = dir / "out.json";
    const std::string command = "NODE_PATH=" + Quote(modules) + " timeout 120 node " +
                                Quote(std::string(OMBRIK_SOURCE_DIR) + "/tests/export_store/" + script) + " " + Quote(file) +
                                (out_dir.empty() ? "" : " " + Quote(out_dir)) + " > " + out + " 2>&1";
    const int rc = std::system(command.c_str());
    return rc == 0 ? ReadFile(out) : "dump failed: " + ReadFile(out);
}

// pst-extractor's line for each message, by subject.
std::map<std::string, std::string> LinesBySubject(const std::string& dump) {
    std::map<std::string, std::string> lines;
    std::size_t at = 0;
    while (at < dump.size()) {
        std::size_t end = dump.find('\n', at);
        if (end == std::string::npos) end = dump.size();
        const std::string line = dump.substr(at, end - at);
        const std::size_t s = line.find("\"subject\":\"");
        if (s != std::string::npos) lines[line.substr(s + 11, line.find('"', s + 11) - s - 11)] = line;
        at = end + 1;
    }
    return lines;
}

// The text of every file below dir whose name ends in suffix ("" for all), joined.
std::string AllText(const fs::path& dir, const std::string& suffix = "") {
    std::string all;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            all += ReadFile(platform::Utf8PathText(entry.path()));
    }
    return all;
}

struct FieldRun {
    fixtures::TempFolder dir;
    fixtures::RecordingWindow window;
    JobSettings settings;
    JobTally tally;
    std::vector<FieldMail> mails;

    // pst_mode: "new", "seprate" or "old" for the PST form.
    FieldRun(const std::string& option, const std::string& pst_mode = "", const std::string& codepage = "",
             std::vector<FieldMail> folder = FieldMails())
        : mails(std::move(folder)) {
        fixtures::DbxFileBuilder builder;
        for (const FieldMail& mail : mails)
            builder.AddEmail(testsupport::Email(mail.subject, mail.text, "a@example.com", Ticks(kRecordSeconds)));
        builder.WriteTo(dir / "Inbox.dbx");
        window.AddRow(dir / "Inbox.dbx", "Inbox.dbx");
        settings.saving_option = option;
        settings.codepage = codepage;
        settings.destination_path = dir / "ExportDBX";
        fs::create_directories(settings.destination_path);
        window.pst_answer.pst_mode = pst_mode;
        window.pst_answer.pst_path = dir / "Out.pst";
        window.pst_answer.existing_pst_path = dir / "Out.pst";
        window.pst_answer.pst_options_answer = "yes";
        if (pst_mode == "old") pst::messaging::Store::Create(dir / "Out.pst", "Personal Folders")->Close();
        tally = RunConversionJob(window, settings);
    }
    std::string Store() const { return window.pst_answer.pst_mode == "seprate" ? settings.destination_path + "/Inbox.dbx.pst" : dir / "Out.pst"; }
    // The message files of a per-message form, by the subject their name starts with.
    std::map<std::string, fs::path> Files() const {
        std::map<std::string, fs::path> files;
        for (const auto& entry : fs::directory_iterator(settings.destination_path + "/Inbox")) {
            const std::string name = entry.path().filename().string();
            for (const FieldMail& mail : mails)
                if (name.rfind(mail.Name(), 0) == 0) files[mail.Name()] = entry.path();
        }
        return files;
    }
};

// What MSG and PST readers must show of each mail, as the dump scripts print it.
void ExpectMapiFields(const std::map<std::string, std::string>& by_subject, const std::string& reader) {
    SCOPED_TRACE(reader);
    auto line = [&](const std::string& subject) {
        const auto at = by_subject.find(subject);
        return at == by_subject.end() ? std::string("(no message " + subject + ")") : at->second;
    };
    const std::string names = line("comma names");
    EXPECT_TRUE(Contains(names, "\"senderName\":\"Müller, Jürgen\",\"senderEmail\":\"juergen@example.de\"")) << names;
    for (const char* recipient : {"{\"type\":\"to\",\"name\":\"Doe, Jäne\",\"email\":\"jane@example.com\"}",
                                  "{\"type\":\"to\",\"name\":\"Charlie Root\",\"email\":\"root\"}",
                                  "{\"type\":\"cc\",\"name\":\"Doe, John\",\"email\":\"john@example.com\"}",
                                  "{\"type\":\"bcc\",\"name\":\"Hidden Person\",\"email\":\"hidden@example.com\"}"})
        EXPECT_TRUE(Contains(names, recipient)) << recipient << " in " << names;
    EXPECT_TRUE(Contains(names, "\"recipients\":[{")) << names;
    EXPECT_EQ(names.find("\"name\":\"Doe\""), std::string::npos) << names;
    EXPECT_TRUE(Contains(line("local sender"), "\"senderName\":\"Charlie Root\",\"senderEmail\":\"root\"")) << line("local sender");
    EXPECT_TRUE(Contains(line("zero byte"), "\"body\":\"" + kAs + kBs)) << line("zero byte").substr(0, 200);
    const std::string undated = line("no date");
    EXPECT_TRUE(Contains(undated, "\"delivered\":" + std::to_string(kRecordSeconds))) << undated;
    EXPECT_TRUE(Contains(undated, "\"submitted\":" + std::to_string(kRecordSeconds))) << undated;
    // Dated mail: sent as its Date header says, delivered when Outlook Express received it.
    EXPECT_TRUE(Contains(names, "\"delivered\":" + std::to_string(kRecordSeconds))) << names;
    EXPECT_TRUE(Contains(names, "\"submitted\":946684800")) << names;
    const std::string html = line("html title");
    EXPECT_TRUE(Contains(html, "Visible text")) << html;
    EXPECT_FALSE(Contains(html, "Secret Title")) << html;
    EXPECT_FALSE(Contains(html, "color:red")) << html;
}

}  // namespace

TEST(FieldsExport, MsgReadersSeeEveryFieldAsTheMailSaidIt) {
    FieldRun run("msg");
    ASSERT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
    const auto files = run.Files();
    ASSERT_EQ(files.size(), FieldMails().size());
    if (msgtest::HaveMsgCheck()) {
        for (const auto& [subject, path] : files) EXPECT_EQ(msgtest::MsgCheckStrict(path.string()), "") << subject;
    }
    if (msgtest::HaveOlefile()) {
        // The embedded message's Internet headers keep the CR LF line ends of the mail.
        const auto dump = msgtest::DumpMsg(files.at("embedded").string());
        ASSERT_TRUE(dump.count("msg/attach0/msg")) << "no embedded message";
        EXPECT_EQ(dump.at("msg/attach0/msg").at("007D001F"),
                  "From: inner@example.com\\r\\nSubject: inner message\\r\\nX-Test: folded\\r\\n value\\r\\n");
        EXPECT_FALSE(Contains(dump.at("msg").at("1000001F"), std::string(1, '\0')));
    }
    const std::string modules = NodeModules("msgreader", "@kenjiuno/msgreader");
    if (modules.empty()) GTEST_SKIP() << "@kenjiuno/msgreader not installed (scripts/install-deps.sh installs it)";
    std::map<std::string, std::string> by_subject;
    for (const auto& [subject, path] : files) by_subject[subject] = RunDump(modules, "msg_fields_dump.js", path.string());
    ExpectMapiFields(by_subject, "msgreader");
}

TEST(FieldsExport, PstReadersSeeEveryFieldInEveryMode) {
    const std::string modules = NodeModules("pst-readers", "pst-extractor");
    for (const std::string mode : {"new", "seprate", "old"}) {
        SCOPED_TRACE(mode);
        FieldRun run("pst", mode);
        ASSERT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
        EXPECT_EQ(fixtures::PstCheckStrictFailure(run.Store()), "");
        if (!modules.empty()) {
            const std::string dump = RunDump(modules, "pst_fields_dump.js", run.Store());
            const auto by_subject = LinesBySubject(dump);
            // (pst-extractor gives no embedded message, for Outlook's own stores either: pffexport
            // reads those below.)
            ExpectMapiFields(by_subject, "pst-extractor");
        }
        if (mode != "new") continue;
        if (HaveTool("pffexport")) {
            const std::string command = "cd " + Quote(run.dir.path()) + " && pffexport -q -f all -t pff Out.pst >/dev/null 2>&1";
            ASSERT_EQ(std::system(command.c_str()), 0);
            // Its text files: the plain body, headers, recipients, times (not the HTML body itself).
            std::string all, embedded_headers;
            for (const auto& entry : fs::recursive_directory_iterator(fs::path(run.dir.path()) / "pff.export")) {
                if (!entry.is_regular_file() || entry.path().extension() != ".txt") continue;
                all += ReadFile(platform::Utf8PathText(entry.path()));
                if (entry.path().filename() == "InternetHeaders.txt" && Contains(entry.path().string(), "/Attachments/"))
                    embedded_headers = ReadFile(platform::Utf8PathText(entry.path()));
            }
            for (const char* text : {"Müller, Jürgen", "juergen@example.de", "Doe, Jäne", "Doe, John", "Hidden Person",
                                     "Email address:\t\troot", "Delivery time:\t\t\t\tSep 09, 2001 01:46:40"})
                EXPECT_TRUE(Contains(all, text)) << "pffexport: " << text;
            EXPECT_TRUE(Contains(all, kAs + kBs)) << "pffexport: the body past its zero byte";
            EXPECT_FALSE(Contains(all, "Secret Title")) << "pffexport";
            EXPECT_EQ(embedded_headers, "From: inner@example.com\r\nSubject: inner message\r\nX-Test: folded\r\n value\r\n")
                << "pffexport: the embedded message's headers";
        }
        if (HaveTool("readpst")) {
            const std::string out = run.dir / "readpst";
            fs::create_directories(out);
            const std::string command = "readpst -q -j 0 -e -o " + Quote(out) + " " + Quote(run.Store()) + " >/dev/null 2>&1";
            ASSERT_EQ(std::system(command.c_str()), 0);
            const std::string all = AllText(out);
            EXPECT_TRUE(Contains(all, kAs + kBs)) << "readpst: the body past its zero byte";
            EXPECT_TRUE(Contains(all, "juergen@example.de")) << "readpst";
            EXPECT_TRUE(Contains(all, "jane@example.com")) << "readpst";
        }
    }
    if (modules.empty()) GTEST_SKIP() << "pst-extractor not installed (scripts/install-deps.sh installs it)";
}

TEST(FieldsExport, HtmlAndRtfShowTheSameFieldsAndNoHeadContent) {
    for (const std::string form : {"html", "rtf"}) {
        SCOPED_TRACE(form);
        FieldRun run(form);
        ASSERT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
        const auto files = run.Files();
        ASSERT_EQ(files.size(), FieldMails().size());
        auto text = [&](const std::string& subject) { return ReadFile(platform::Utf8PathText(files.at(subject))); };
        const bool html = form == "html";
        // RTF writes non-ASCII as \uN? escapes.
        auto shown = [&](const std::string& utf8) {
            if (html) return utf8;
            std::string out;
            for (char16_t unit : platform::Utf8ToUtf16(utf8))
                out += unit < 0x80 ? std::string(1, static_cast<char>(unit)) : "\\u" + std::to_string(static_cast<std::int16_t>(unit)) + "?";
            return out;
        };
        const std::string names = text("comma names");
        const std::string lt = html ? "&lt;" : "<", gt = html ? "&gt;" : ">";
        for (const std::string& field : {"Müller, Jürgen " + lt + "juergen@example.de" + gt,
                                         "Doe, Jäne " + lt + "jane@example.com" + gt + "; Charlie Root " + lt + "root" + gt,
                                         "Doe, John " + lt + "john@example.com" + gt, "Hidden Person " + lt + "hidden@example.com" + gt})
            EXPECT_TRUE(Contains(names, shown(field))) << field;
        EXPECT_TRUE(Contains(names, "Bcc:")) << names;
        EXPECT_TRUE(Contains(text("local sender"), "Charlie Root " + lt + "root" + gt));
        const std::string zero = text("zero byte");
        EXPECT_TRUE(Contains(zero, kAs + kBs));
        EXPECT_FALSE(Contains(zero, std::string(1, '\0')));
        EXPECT_TRUE(Contains(text("no date"), "Sun, 09 Sep 2001 01:46:40 UTC")) << "the record's time as the sent time";
        const std::string titled = text("html title");
        EXPECT_TRUE(Contains(titled, "Visible text"));
        EXPECT_FALSE(Contains(titled, "Secret Title"));
    }
}

// With --codepage windows-1251, a subject whose header names ISO-8859-1 is still read in it.
TEST(FieldsExport, TheSubjectsOwnCharsetNamesTheFile) {
    for (const std::string form : {"msg", "rtf", "html"}) {
        FieldRun run(form, "", "windows-1251");
        ASSERT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
        EXPECT_EQ(run.Files().count("Católica"), 1u) << form;
    }
}

namespace {

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

// openssl's verdict on a signed entity in a file (PEM S/MIME, or DER for an opaque one).
bool Verifies(const std::string& path, bool der, const std::string& content_out) {
    const std::string command = "openssl smime -verify -noverify" + std::string(der ? " -inform DER" : "") + " -in " +
                                Quote(path) + " -out " + Quote(content_out) + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace

// Signed mail as Outlook keeps it: what the readers take out of the MSG and the PST still
// verifies with openssl, and one byte changed no longer does.
TEST(FieldsExport, SignedMailStillVerifiesFromWhatTheFilesHold) {
    if (!HaveTool("openssl")) GTEST_SKIP() << "openssl not installed: signatures not checked";
    fixtures::TempFolder keys;
    const std::string content = "Content-Type: text/plain; charset=us-ascii\r\n\r\nsigned text\r\n";
    fixtures::WriteFile(keys / "content", content);
    const std::string make =
        "cd " + Quote(keys.path()) + " && openssl req -x509 -newkey rsa:2048 -nodes -keyout k.pem -out c.pem "
        "-subj '/CN=Ombrik test' -days 2 >/dev/null 2>&1 && openssl smime -sign -in content -signer c.pem -inkey k.pem "
        "-out clear.txt && openssl smime -sign -nodetach -in content -signer c.pem -inkey k.pem -out opaque.txt";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::string headers = "From: a@example.com\r\nDate: Sat, 01 Jan 2000 00:00:00 +0000\r\nSubject: ";
    const std::vector<FieldMail> mails = {{"clear", headers + "clear\r\n" + WithCrLf(ReadFile(keys / "clear.txt"))},
                                          {"opaque", headers + "opaque\r\n" + WithCrLf(ReadFile(keys / "opaque.txt"))}};
    for (const std::string form : {"msg", "pst"}) {
        SCOPED_TRACE(form);
        FieldRun run(form, "new", "", mails);
        ASSERT_EQ(run.tally.failures(), 0u) << run.tally.Summary();
        const std::string modules = form == "msg" ? NodeModules("msgreader", "@kenjiuno/msgreader")
                                                  : NodeModules("pst-readers", "pst-extractor");
        if (modules.empty()) GTEST_SKIP() << "the npm readers are not installed (scripts/install-deps.sh installs them)";
        std::map<std::string, std::string> dumps;   // subject -> the reader's fields
        std::map<std::string, std::string> entity;  // subject -> the file holding its one attachment
        if (form == "msg") {
            for (const auto& [subject, path] : run.Files()) {
                const std::string out = run.dir / subject;
                fs::create_directories(out);
                dumps[subject] = RunDump(modules, "msg_fields_dump.js", path.string(), out);
                entity[subject] = out + "/attachment.0";
                EXPECT_EQ(msgtest::HaveMsgCheck() ? msgtest::MsgCheckStrict(path.string()) : "", "");
            }
        } else {
            dumps = LinesBySubject(RunDump(modules, "pst_fields_dump.js", run.Store(), run.dir.path()));
            for (const char* subject : {"clear", "opaque"}) entity[subject] = run.dir / (std::string(subject) + ".0");
            EXPECT_EQ(fixtures::PstCheckStrictFailure(run.Store()), "");
        }
        EXPECT_TRUE(Contains(dumps["clear"], "\"messageClass\":\"IPM.Note.SMIME.MultipartSigned\"")) << dumps["clear"];
        EXPECT_TRUE(Contains(dumps["clear"], "\"attachments\":[{\"name\":\"smime.p7m\",\"mime\":\"multipart/signed\"}]"))
            << dumps["clear"];
        EXPECT_TRUE(Contains(dumps["clear"], "signed text")) << "the body of the signed content";
        EXPECT_TRUE(Contains(dumps["opaque"], "\"messageClass\":\"IPM.Note.SMIME\"")) << dumps["opaque"];
        EXPECT_TRUE(Contains(dumps["opaque"], "\"name\":\"smime.p7m\",\"mime\":\"application/x-pkcs7-mime\"")) << dumps["opaque"];

        EXPECT_TRUE(Verifies(entity["clear"], false, run.dir / "clear.out")) << "the clear-signed entity";
        EXPECT_EQ(WithCrLf(ReadFile(run.dir / "clear.out")), content);
        EXPECT_TRUE(Verifies(entity["opaque"], true, run.dir / "opaque.out")) << "the opaque-signed content";
        EXPECT_EQ(WithCrLf(ReadFile(run.dir / "opaque.out")), content);
        // The check can fail: one byte of the signed text changed.
        std::string changed = ReadFile(entity["clear"]);
        const std::size_t at = changed.find("signed text");
        ASSERT_NE(at, std::string::npos);
        changed[at] = 'S';
        fixtures::WriteFile(run.dir / "changed", changed);
        EXPECT_FALSE(Verifies(run.dir / "changed", false, run.dir / "changed.out"));
    }
}
