// ombrik-cli --format maildir, read back by Python's mailbox module and by Dovecot.
#include "imap/upload_support.h"

using namespace uploadtest;

namespace {

// Python's reading of the Maildir: "folder|flags|date|subdirectory|sha256" per message, sorted.
std::vector<std::string> ReadWithPython(const std::string& maildir) {
    const std::string script =
        "import hashlib, mailbox, sys\n"
        "top = mailbox.Maildir(sys.argv[1], factory=None, create=False)\n"
        "lines = ['INBOX|%s|%d|%s|%s' % (m.get_flags(), int(m.get_date()), m.get_subdir(),\n"
        "         hashlib.sha256(top.get_bytes(k)).hexdigest()) for k, m in ((k, top.get_message(k)) for k in top.keys())]\n"
        "for name in top.list_folders():\n"
        "    folder = top.get_folder(name)\n"
        "    for key in folder.keys():\n"
        "        m = folder.get_message(key)\n"
        "        lines.append('%s|%s|%d|%s|%s' % (name, m.get_flags(), int(m.get_date()), m.get_subdir(),\n"
        "                     hashlib.sha256(folder.get_bytes(key)).hexdigest()))\n"
        "print('\\n'.join(sorted(lines)))\n";
    fixtures::TempFolder scripts;
    fixtures::WriteFile(scripts / "read.py", script);
    const CliRun run = Shell("python3 " + Quote(scripts / "read.py") + " " + Quote(maildir));
    EXPECT_EQ(run.status, 0) << run.out;
    std::vector<std::string> lines;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::size_t CountFiles(const std::string& path) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) count += entry.is_regular_file();
    return count;
}

const char* const kRussian = "&BBIERQQ+BDQETwRJBDgENQ-";

}  // namespace

TEST(Maildir, StoreReadBackByPythonsMailbox) {
    fixtures::TempFolder dir;
    const std::vector<Expected> inbox = WriteTreeStore(dir / "store");
    const std::string convert = std::string(OMBRIK_CLI) + " --format maildir --dest " + Quote(dir.path()) + " --add-store " +
                                Quote(dir / "store");
    const CliRun run = Shell(convert);
    ASSERT_EQ(run.status, 0) << run.out;
    const std::string top = dir / "ExportDBX";
    for (const char* folder : {".Mailinglists", ".Mailinglists.hal", ".Work", ".work (2)", ".v1_2 &- more"})
        EXPECT_TRUE(std::filesystem::exists(top + "/" + folder + "/maildirfolder")) << folder;
    EXPECT_TRUE(std::filesystem::is_directory(top + "/cur"));
    EXPECT_TRUE(std::filesystem::is_empty(top + "/tmp"));
    EXPECT_FALSE(std::filesystem::exists(top + "/.Inbox"));  // the Outlook Express Inbox is the Maildir's

    const std::vector<std::string> lines = ReadWithPython(top);
    ASSERT_EQ(lines.size(), 10u);
    const char* const flags[] = {"RS", "FP", "D", ""};
    for (std::size_t i = 0; i < inbox.size(); ++i) {
        // The bytes as stored; the file's time and name say when the message arrived.
        const std::string line = "INBOX|" + std::string(flags[i]) + "|" + std::to_string(inbox[i].date) + "|cur|" +
                                 Sha256(inbox[i].text);
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    }
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Mailinglists.hal|", 0) == 0; }), 2);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind(kRussian, 0) == 0; }), 1);

    // Again: the files of the first run are found, nothing is written twice.
    const std::size_t files = CountFiles(top);
    const CliRun again = Shell(convert);
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_NE(again.out.find("messages already there, not written again: 10"), std::string::npos) << again.out;
    EXPECT_EQ(CountFiles(top), files);
}

TEST_F(UploadTest, MaildirReadByDovecot) {
    START_DOVECOT();
    const std::vector<Expected> inbox = WriteTreeStore(dir / "store");
    const CliRun run = Shell(std::string(OMBRIK_CLI) + " --format maildir --dest " + Quote(dir.path()) + " --add-store " +
                             Quote(dir / "store"));
    ASSERT_EQ(run.status, 0) << run.out;
    ASSERT_TRUE(server->AdoptMaildir(dir / "ExportDBX"));
    const Account account = ReadAccount(*server);
    std::set<std::string> names;
    for (const auto& [name, subscribed] : account.folders) names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"INBOX", "Mailinglists", "Mailinglists.hal",
                                            "\xd0\x92\xd1\x85\xd0\xbe\xd0\xb4\xd1\x8f\xd1\x89\xd0\xb8\xd0\xb5", "Work",
                                            "work (2)", "v1_2 & more"}));
    const std::vector<ServerMessage> arrived = account.In("INBOX");
    ASSERT_EQ(arrived.size(), inbox.size());
    for (const Expected& expected : inbox) {
        const auto found = std::find_if(arrived.begin(), arrived.end(),
                                        [&](const ServerMessage& m) { return m.sha256 == Sha256(Sent(expected.text)); });
        ASSERT_NE(found, arrived.end()) << expected.text;
        EXPECT_EQ(found->date, expected.date) << expected.text;
        // Dovecot keeps no flag for the Maildir's P (passed on): $Forwarded is the upload's.
        std::string flags = expected.flags;
        if (flags.rfind("$Forwarded,", 0) == 0) flags = flags.substr(11);
        EXPECT_EQ(found->flags, flags) << expected.text;
    }
}
