// Mail written on national systems, converted to MSG, RTF, HTML and PST: the file names and
// what independent readers find inside are the characters the sender wrote.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "export/export_test_support.h"
#include "export/store_export.h"
#include "fixtures/strict_checkers.h"
#include "fixtures/temp_folder.h"
#include "job/pst_job.h"
#include "platform/text_encoding.h"
#include "store/mime/national_samples.h"
#include "store/msg/msg_test_support.h"

using fixtures::ReadFile;
using national::kSamples;
using national::Sample;
namespace fs = std::filesystem;

namespace {

std::string Message(const Sample& s, bool labelled) {
    return national::RawMessage(s, labelled ? s.charset : "", std::string("filename=\"") + s.raw[3] + "\"");
}

// One folder file of one message per sample, slot i holding kSamples[i]; the DBX subject is the
// raw header text, as Outlook Express stored it.
std::string WriteSamplesDbx(testsupport::ExportHarness& h, bool labelled) {
    fixtures::DbxFileBuilder builder;
    for (std::size_t i = std::size(kSamples); i-- > 0;)
        builder.AddEmail(testsupport::Email(kSamples[i].raw[0], Message(kSamples[i], labelled)));
    return h.WriteDbx("Inbox.dbx", builder);
}

std::string RtfText(const std::string& utf8) {
    std::string out;
    for (char16_t unit : platform::Utf8ToUtf16(utf8)) {
        if (unit < 0x80) out.push_back(static_cast<char>(unit));
        else out += "\\u" + std::to_string(static_cast<std::int16_t>(unit)) + "?";
    }
    return out;
}

std::string QuotedShell(const std::string& text) { return "'" + text + "'"; }

// @kenjiuno/msgreader, installed by scripts/install-deps.sh; empty when it is not there.
std::string MsgReaderModules() {
    std::string root;
    if (const char* dir = std::getenv("OMBRIK_NPM_DIR")) root = dir;
    else if (const char* home = std::getenv("HOME")) root = std::string(home) + "/.cache/ombrik/npm";
    const std::string modules = root + "/msgreader/node_modules";
    return fs::exists(modules + "/@kenjiuno/msgreader") && std::system("node --version >/dev/null 2>&1") == 0 ? modules
                                                                                                               : "";
}

std::string MsgReaderJson(const std::string& modules, const std::string& path) {
    fixtures::TempFolder dir;
    const std::string out = dir / "out.json";
    const std::string command = "NODE_PATH=" + QuotedShell(modules) + " node " +
                                QuotedShell(std::string(OMBRIK_SOURCE_DIR) + "/tests/export_store/msgreader_dump.js") +
                                " " + QuotedShell(path) + " > " + out + " 2>&1";
    const int rc = std::system(command.c_str());
    return rc == 0 ? ReadFile(out) : "msgreader failed: " + ReadFile(out);
}

bool Contains(const std::string& haystack, const std::string& needle) { return haystack.find(needle) != std::string::npos; }

// Outlook Express's way of writing a recipient it had no address for.
const char* const kNameOnlyMail =
    "From: \"New Outlook Express User\"\r\nTo: \"New Outlook Express User\", Only Name <>\r\n"
    "Subject: names only\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nbody\r\n";

std::string PstCheckStrict(const std::string& path) { return fixtures::PstCheckStrictFailure(path); }

struct FormCase {
    const char* option;
    const char* suffix;
};

}  // namespace

// Automatic mode, where each message declares its charset, and --codepage, where none does.
TEST(NationalTextExport, MsgRtfAndHtmlCarryTheSendersCharactersUnderTheSameName) {
    for (bool labelled : {true, false}) {
        for (const FormCase form : {FormCase{"msg", ".msg"}, FormCase{"rtf", ".rtf"}, FormCase{"html", ".html"}}) {
            for (std::size_t i = 0; i < std::size(kSamples); ++i) {
                const Sample& s = kSamples[i];
                if (!labelled && i > 0 && std::string(s.codepage) == kSamples[i - 1].codepage) continue;
                SCOPED_TRACE(std::string(s.language) + " " + form.option + (labelled ? " labelled" : " --codepage"));
                testsupport::ExportHarness h;
                h.settings.saving_option = form.option;
                if (!labelled) h.settings.codepage = s.codepage;
                const std::string dbx = WriteSamplesDbx(h, labelled);
                ExportFolderThroughStore(h.context, dbx, h.Destination(), "Inbox");
                // The file is named from the same reading of the subject as the text inside.
                const std::string path = h.Destination() + "/Inbox/" + s.text[0] + std::to_string(i) + form.suffix;
                ASSERT_TRUE(fs::exists(platform::FileSystemPath(path))) << path;
                const std::string bytes = ReadFile(path);
                if (std::string(form.option) == "rtf") {
                    for (const char* text : s.text) EXPECT_TRUE(Contains(bytes, RtfText(text))) << text;
                } else if (std::string(form.option) == "html") {
                    for (const char* text : s.text) EXPECT_TRUE(Contains(bytes, text)) << text;
                } else if (msgtest::HaveOlefile()) {
                    auto dump = msgtest::DumpMsg(path);
                    EXPECT_EQ(dump["msg"]["0037001F"], s.text[0]);
                }
            }
        }
    }
}

TEST(NationalTextExport, AnIndependentMsgReaderSeesTheSameCharacters) {
    const std::string modules = MsgReaderModules();
    if (modules.empty()) GTEST_SKIP() << "@kenjiuno/msgreader not installed (scripts/install-deps.sh installs it)";
    testsupport::ExportHarness h;
    h.settings.saving_option = "msg";
    ExportFolderThroughStore(h.context, WriteSamplesDbx(h, true), h.Destination(), "Inbox");
    for (std::size_t i = 0; i < std::size(kSamples); ++i) {
        const Sample& s = kSamples[i];
        SCOPED_TRACE(s.language);
        const std::string path = h.Destination() + "/Inbox/" + s.text[0] + std::to_string(i) + ".msg";
        const std::string json = MsgReaderJson(modules, path);
        EXPECT_TRUE(Contains(json, std::string("\"subject\":\"") + s.text[0] + "\"")) << json;
        EXPECT_TRUE(Contains(json, std::string("\"senderName\":\"") + s.text[1] + "\"")) << json;
        EXPECT_TRUE(Contains(json, std::string("{\"name\":\"") + s.text[2] + "\",\"email\":\"to@example.com\"}")) << json;
        EXPECT_TRUE(Contains(json, std::string("\"attachments\":[\"") + s.text[3] + "\"]")) << json;
        if (msgtest::HaveMsgCheck()) {
            EXPECT_EQ(msgtest::MsgCheckStrict(path), "");
        }
    }
    // Recipients with a name and no address: no address is made up, and the file stays valid.
    testsupport::ExportHarness names;
    names.settings.saving_option = "msg";
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(testsupport::Email("names only", kNameOnlyMail));
    ExportFolderThroughStore(names.context, names.WriteDbx("Names.dbx", builder), names.Destination(), "Names");
    const std::string path = names.Destination() + "/Names/names only0.msg";
    const std::string json = MsgReaderJson(modules, path);
    EXPECT_TRUE(Contains(json, "\"recipients\":[{\"name\":\"New Outlook Express User\",\"email\":\"\"},"
                               "{\"name\":\"Only Name\",\"email\":\"\"}]")) << json;
    EXPECT_TRUE(Contains(json, "\"senderName\":\"New Outlook Express User\"")) << json;
    EXPECT_FALSE(Contains(json, "\\\"New Outlook")) << json;  // the quoted name taken for an address
    if (msgtest::HaveMsgCheck()) {
        EXPECT_EQ(msgtest::MsgCheckStrict(path), "");
    }
}

TEST(NationalTextExport, PstReadersSeeTheSendersCharacters) {
    const bool pffexport = std::system("command -v pffexport >/dev/null 2>&1") == 0;
    const bool readpst = std::system("command -v readpst >/dev/null 2>&1") == 0;
    if (!pffexport && !readpst) GTEST_SKIP() << "neither pffexport nor readpst installed";
    testsupport::ExportHarness h;
    fixtures::RecordingWindow& window = h.window;
    window.AddRow(WriteSamplesDbx(h, true), "Inbox.dbx");
    fixtures::DbxFileBuilder names;
    names.AddEmail(testsupport::Email("names only", kNameOnlyMail));
    window.AddRow(h.WriteDbx("Names.dbx", names), "Names.dbx");
    window.pst_answer.pst_mode = "new";
    window.pst_answer.pst_path = h.dir / "National.pst";
    window.pst_answer.pst_options_answer = "yes";
    h.settings.destination_path = h.Destination();
    ASSERT_TRUE(RunPstExport(window, h.settings, h.tally, ReadJobRows(window)));
    ASSERT_EQ(h.tally.failures(), 0u) << h.tally.Summary();
    const std::string pst = h.dir / "National.pst";
    EXPECT_EQ(PstCheckStrict(pst), "");
    if (pffexport) {
        std::string command = "cd " + QuotedShell(h.dir.path()) + " && pffexport -q -f all -t pff National.pst >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const fs::path folder = fs::path(h.dir.path()) / "pff.export" / "Top of Personal Folders" / "Inbox.dbx";
        std::string all;
        // Attachments come out as files under their names; the rest as text files.
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            all += entry.path().filename().string() + "\n";
            if (entry.is_regular_file()) all += ReadFile(entry.path().string());
        }
        for (const Sample& s : kSamples)
            for (const char* text : s.text) EXPECT_TRUE(Contains(all, text)) << "pffexport: " << s.language << " " << text;
    }
    if (readpst) {
        const std::string out = h.dir / "readpst";
        fs::create_directories(out);
        // -j 0: readpst's parallel jobs now and then leave a message out of their output.
        std::string command = "readpst -q -j 0 -e -o " + QuotedShell(out) + " " + QuotedShell(pst) + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        std::string all;
        for (const auto& entry : fs::recursive_directory_iterator(out))
            if (entry.is_regular_file()) all += ReadFile(entry.path().string());
        for (const Sample& s : kSamples)
            EXPECT_TRUE(Contains(all, s.text[3])) << "readpst attachment name: " << s.language;
    }
}
