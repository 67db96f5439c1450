// ombrik-cli --format imap against a real Dovecot: what arrives, and that nothing arrives twice
// whatever breaks.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "imap/upload_journal.h"
#include "imap/upload_support.h"

using namespace uploadtest;

namespace {

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

std::set<std::string> FolderNames(const Account& account) {
    std::set<std::string> names;
    for (const auto& [name, subscribed] : account.folders) names.insert(name);
    return names;
}

}  // namespace

TEST_F(UploadTest, StoreArrivesWithTreeFlagsDatesAndBytes) {
    START_DOVECOT();
    const std::vector<Expected> inbox = WriteTreeStore(dir / "store");
    WriteFolder(dir / "Notes.dbx", "note", 2);
    const CliRun run = Upload("--add-store " + Quote(dir / "store") + " " + Quote(dir / "Notes.dbx"));
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("folders: 7, messages written: 12, failures: 0"), std::string::npos) << run.out;

    const Account account = ReadAccount(*server);
    const std::string top = "Outlook Express";
    EXPECT_EQ(FolderNames(account),
              (std::set<std::string>{"INBOX", top, top + ".Inbox", top + ".Mailinglists", top + ".Mailinglists.hal",
                                     top + ".\xd0\x92\xd1\x85\xd0\xbe\xd0\xb4\xd1\x8f\xd1\x89\xd0\xb8\xd0\xb5",
                                     top + ".Work", top + ".work (2)", top + ".v1_2 & more", top + ".Notes"}));
    for (const auto& [name, subscribed] : account.folders) EXPECT_EQ(subscribed, name != "INBOX") << name;

    // Each Inbox message: its bytes (line ends made CR LF), its flags, the date Outlook Express
    // recorded, else its Date header.
    const std::vector<ServerMessage> arrived = account.In(top + ".Inbox");
    ASSERT_EQ(arrived.size(), inbox.size());
    for (const Expected& expected : inbox) {
        const auto found = std::find_if(arrived.begin(), arrived.end(),
                                        [&](const ServerMessage& m) { return m.sha256 == Sha256(Sent(expected.text)); });
        ASSERT_NE(found, arrived.end()) << expected.text;
        EXPECT_EQ(found->flags, expected.flags) << expected.text;
        EXPECT_EQ(found->date, expected.date) << expected.text;
    }
    EXPECT_EQ(account.In(top + ".Mailinglists.hal").size(), 2u);
    EXPECT_EQ(account.In(top + ".work (2)").size(), 1u);

    // The bytes are those of the EML form (with IMAP's line ends).
    const CliRun eml = Shell(std::string(OMBRIK_CLI) + " --dest " + Quote(dir.path()) + " --add-store " + Quote(dir / "store"));
    ASSERT_EQ(eml.status, 0) << eml.out;
    std::multiset<std::string> eml_digests;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "ExportDBX/Inbox"))
        eml_digests.insert(Sha256(Sent(fixtures::ReadFile(entry.path().string()))));
    EXPECT_EQ(account.Digests(top + ".Inbox"), eml_digests);
}

TEST_F(UploadTest, RunAgainUploadsNothingWithOrWithoutTheJournal) {
    START_DOVECOT();
    WriteTreeStore(dir / "store");
    ASSERT_EQ(Upload("--add-store " + Quote(dir / "store")).status, 0);
    const Account first = ReadAccount(*server);

    const CliRun again = Upload("--add-store " + Quote(dir / "store"));
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_NE(again.out.find("messages written: 0"), std::string::npos) << again.out;
    EXPECT_NE(again.out.find("messages already on the server, not uploaded again: 10"), std::string::npos) << again.out;

    // Another computer, or a removed journal: the server's Message-IDs (and for messages without
    // one, sizes and bytes) tell what is there.
    std::filesystem::remove_all(state());
    const CliRun elsewhere = Upload("--add-store " + Quote(dir / "store"));
    EXPECT_EQ(elsewhere.status, 0) << elsewhere.out;
    EXPECT_NE(elsewhere.out.find("messages already on the server, not uploaded again: 10"), std::string::npos) << elsewhere.out;
    const Account last = ReadAccount(*server);
    EXPECT_EQ(last.messages.size(), first.messages.size());
    EXPECT_EQ(last.Digests("Outlook Express.Inbox"), first.Digests("Outlook Express.Inbox"));
}

TEST_F(UploadTest, MessagesLeftPendingAreLookedUpNotSentAgain) {
    START_DOVECOT();
    // Half with a Message-ID, half without (found by size and bytes).
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < 6; ++i) {
        const std::string subject = "pending " + std::to_string(i);
        builder.AddEmail(Mail(subject, Text(subject, 0, i % 2 == 0), Filetime(1236262029)));
    }
    builder.WriteTo(dir / "Box.dbx");
    ASSERT_EQ(Upload(Quote(dir / "Box.dbx")).status, 0);
    // A crash after the APPEND, before the server's answer was written down: the journal ends
    // with the pending records.
    const std::string journal_path = JournalFile();
    std::string journal = fixtures::ReadFile(journal_path);
    journal.erase(journal.find("\ndone ") + 1);
    fixtures::WriteFile(journal_path, journal);

    const CliRun rerun = Upload(Quote(dir / "Box.dbx"));
    EXPECT_EQ(rerun.status, 0) << rerun.out;
    EXPECT_NE(rerun.out.find("messages already on the server, not uploaded again: 6"), std::string::npos) << rerun.out;
    EXPECT_EQ(ReadAccount(*server).In("Outlook Express.Box").size(), 6u);
    EXPECT_EQ(Count(fixtures::ReadFile(journal_path), "\ndone "), 6u);
}

TEST_F(UploadTest, KilledMidRunThenRunAgainLeavesEveryMessageOnce) {
    START_DOVECOT();
    constexpr int kMessages = 1500;
    WriteFolder(dir / "Big.dbx", "big", kMessages, 1500);
    const pid_t child = StartUpload(dir / "Big.dbx");
    // Killed once the server holds some of the messages, while it takes more.
    WaitForMessages("Outlook Express.Big", 60);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    const std::size_t before = ReadAccount(*server).In("Outlook Express.Big").size();
    EXPECT_GT(before, 0u);
    EXPECT_LT(before, static_cast<std::size_t>(kMessages));

    const CliRun rerun = Upload(Quote(dir / "Big.dbx"));
    EXPECT_EQ(rerun.status, 0) << rerun.out;
    const Account account = ReadAccount(*server);
    EXPECT_EQ(account.In("Outlook Express.Big").size(), static_cast<std::size_t>(kMessages));
    const std::multiset<std::string> digests = account.Digests("Outlook Express.Big");
    EXPECT_EQ(std::set<std::string>(digests.begin(), digests.end()).size(), static_cast<std::size_t>(kMessages));
}

TEST_F(UploadTest, InterruptedUploadStopsWithItsJournalInOrder) {
    START_DOVECOT();
    constexpr int kMessages = 1500;
    WriteFolder(dir / "Big.dbx", "int", kMessages, 1500);
    const pid_t child = StartUpload(dir / "Big.dbx");
    WaitForMessages("Outlook Express.Big", 60);
    kill(child, SIGINT);  // Ctrl-C
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    // What was sent is written down as on the server, nothing is left open, and the journal and
    // the server agree.
    const imap::JournalState journal = imap::ReadJournalText(fixtures::ReadFile(JournalFile()));
    EXPECT_TRUE(journal.Pending().empty());
    const std::size_t arrived = ReadAccount(*server).In("Outlook Express.Big").size();
    EXPECT_LT(arrived, static_cast<std::size_t>(kMessages));
    EXPECT_EQ(journal.DoneUids().size(), arrived);

    const CliRun rerun = Upload(Quote(dir / "Big.dbx"));
    EXPECT_EQ(rerun.status, 0) << rerun.out;
    EXPECT_NE(rerun.out.find("messages written: " + std::to_string(kMessages - arrived)), std::string::npos) << rerun.out;
    EXPECT_EQ(ReadAccount(*server).In("Outlook Express.Big").size(), static_cast<std::size_t>(kMessages));
}

TEST_F(UploadTest, FullAccountStopsCleanlyAndALaterRunResumes) {
    fixtures::DovecotOptions options;
    options.quota_messages = "75";
    START_DOVECOT(options);
    WriteFolder(dir / "Box.dbx", "quota", 120);
    const CliRun full = Upload(Quote(dir / "Box.dbx"));
    EXPECT_EQ(full.status, 1) << full.out;
    EXPECT_NE(full.out.find("the account is full"), std::string::npos) << full.out;
    EXPECT_NE(full.out.find("50 messages of this run are on the server"), std::string::npos) << full.out;
    EXPECT_NE(full.out.find("resumes"), std::string::npos) << full.out;
    EXPECT_EQ(ReadAccount(*server).In("Outlook Express.Box").size(), 50u);

    std::string why;
    ASSERT_TRUE(server->SetQuotaMessages("1000", why)) << why;
    const CliRun resumed = Upload(Quote(dir / "Box.dbx"));
    EXPECT_EQ(resumed.status, 0) << resumed.out;
    EXPECT_NE(resumed.out.find("messages written: 70"), std::string::npos) << resumed.out;
    const Account account = ReadAccount(*server);
    EXPECT_EQ(account.In("Outlook Express.Box").size(), 120u);
    const std::multiset<std::string> digests = account.Digests("Outlook Express.Box");
    EXPECT_EQ(std::set<std::string>(digests.begin(), digests.end()).size(), 120u);
}

TEST_F(UploadTest, TooBigForTheServerIsNamedAndSkipped) {
    fixtures::DovecotOptions options;
    options.append_limit = 3000;
    START_DOVECOT(options);
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Mail("small", Text("small"), Filetime(1236262029)));
    builder.AddEmail(Mail("large", Text("large", 5000), Filetime(1236262029)));
    builder.AddEmail(Mail("small 2", Text("small2"), Filetime(1236262029)));
    builder.WriteTo(dir / "Box.dbx");
    const CliRun run = Upload(Quote(dir / "Box.dbx"));
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("larger than the server takes (3000 bytes); not uploaded"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("messages written: 2, failures: 1"), std::string::npos) << run.out;
    EXPECT_EQ(ReadAccount(*server).In("Outlook Express.Box").size(), 2u);
}

TEST_F(UploadTest, RefusedLoginOrServerUploadsNothing) {
    START_DOVECOT();
    WriteFolder(dir / "Box.dbx", "x", 2);
    const std::string log = server->folder() + "/log";
    // Not trusted: refused before the user name is sent, with how to trust it.
    const CliRun untrusted = Upload(Quote(dir / "Box.dbx"), "Outlook%20Express", false);
    EXPECT_EQ(untrusted.status, 1) << untrusted.out;
    for (const char* says : {"is not trusted: its certificate is self-signed", "Nothing was sent to it", "--imap-ca-file FILE",
                             "folders: 0, messages written: 0, failures: 1"})
        EXPECT_NE(untrusted.out.find(says), std::string::npos) << says << "\n" << untrusted.out;
    EXPECT_EQ(Count(fixtures::ReadFile(log), "user=<anna>"), 0u);

    const std::string wrong_password = dir / "wrong.txt";
    fixtures::WriteFile(wrong_password, "not the password\n");
    const CliRun refused = Upload("--imap-password-file " + Quote(wrong_password) + " " + Quote(dir / "Box.dbx"));
    EXPECT_EQ(refused.status, 1) << refused.out;
    EXPECT_NE(refused.out.find("the server refused the password of anna"), std::string::npos) << refused.out;
    EXPECT_NE(refused.out.find("folders: 0, messages written: 0, failures: 1"), std::string::npos) << refused.out;
    EXPECT_EQ(FolderNames(ReadAccount(*server)), std::set<std::string>{"INBOX"});
}

TEST_F(UploadTest, CertificateForAnotherNameAndPlainServersAreRefused) {
    fixtures::DovecotOptions options;
    options.certificate_names = "DNS:mail.example.org";
    START_DOVECOT(options);
    WriteFolder(dir / "Box.dbx", "x", 1);
    const CliRun wrong_name = Upload(Quote(dir / "Box.dbx"));
    EXPECT_EQ(wrong_name.status, 1) << wrong_name.out;
    EXPECT_NE(wrong_name.out.find("its certificate is for mail.example.org, not for 127.0.0.1"), std::string::npos) << wrong_name.out;

    std::string why;
    fixtures::DovecotOptions plain_options;
    plain_options.tls = false;
    const auto plain = fixtures::DovecotServer::Start(plain_options, why);
    ASSERT_NE(plain, nullptr) << why;
    const CliRun run = Shell("XDG_STATE_HOME=" + Quote(state()) + " " + std::string(OMBRIK_CLI) + " --format imap --imap-url " +
                          Quote(plain->Url("", true)) + " --imap-password-file " + Quote(plain->PasswordFile()) + " " +
                          Quote(dir / "Box.dbx"));
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("offers no encryption (STARTTLS)"), std::string::npos) << run.out;
    EXPECT_EQ(Count(fixtures::ReadFile(plain->folder() + "/log"), "user=<anna>"), 0u);
}

TEST(UploadLogin, OAuthTokenFromTheUsersCommand) {
    fixtures::TempFolder dir;
    ASSERT_EQ(Shell("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + Quote(dir / "key.pem") + " -out " +
                    Quote(dir / "cert.pem") + " -days 2 -subj /CN=localhost -addext subjectAltName=IP:127.0.0.1")
                  .status,
              0);
    WriteFolder(dir / "Box.dbx", "x", 1);
    const auto upload = [&](const std::string& command) {
        const std::string port_file = dir / "port";
        std::filesystem::remove(port_file);
        const std::string server = "python3 " + Quote(std::string(OMBRIK_SOURCE_DIR) + "/tests/imap/xoauth2_server.py") + " " +
                                   Quote(dir / "cert.pem") + " " + Quote(dir / "key.pem") + " " + Quote(port_file) +
                                   " anna@example.com ya29.TOKEN";
        FILE* running = popen(server.c_str(), "r");
        for (int i = 0; i < 500 && fixtures::ReadFile(port_file).empty(); ++i) usleep(10000);
        const CliRun run = Shell("XDG_STATE_HOME=" + Quote(dir / "state") + " timeout 60 " + std::string(OMBRIK_CLI) +
                                 " --format imap --imap-url " +
                                 Quote("imaps://anna@example.com@127.0.0.1:" + fixtures::ReadFile(port_file)) +
                                 " --imap-ca-file " + Quote(dir / "cert.pem") + " --imap-oauth-command " + Quote(command) +
                                 " " + Quote(dir / "Box.dbx"));
        pclose(running);
        return run;
    };
    const CliRun run = upload("echo ya29.TOKEN");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("the server refused the token of anna@example.com (token received for anna@example.com)"),
              std::string::npos)
        << run.out;
    const CliRun broken = Shell(std::string(OMBRIK_CLI) + " --format imap --imap-url imaps://a@127.0.0.1:1 --imap-oauth-command false " +
                                Quote(dir / "Box.dbx"));
    EXPECT_EQ(broken.status, 1) << broken.out;
    EXPECT_NE(broken.out.find("the token command (false) ended with status 1"), std::string::npos) << broken.out;
}

TEST_F(UploadTest, StartTlsAndRecoveredMessages) {
    START_DOVECOT();
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Mail("kept", Text("kept"), Filetime(1236262029)));
    builder.AddDeletedEmail(Mail("deleted", Text("deleted"), Filetime(1236262029)));
    builder.WriteTo(dir / "Box.dbx");
    const CliRun run = Shell("XDG_STATE_HOME=" + Quote(state()) + " " + std::string(OMBRIK_CLI) +
                          " --format imap --recover --imap-url " + Quote(server->Url("Old", true)) +
                          " --imap-password-file " + Quote(server->PasswordFile()) + " --imap-ca-file " +
                          Quote(server->certificate()) + " " + Quote(dir / "Box.dbx"));
    EXPECT_EQ(run.status, 0) << run.out;
    const Account account = ReadAccount(*server);
    ASSERT_EQ(account.In("Old.Box").size(), 1u);
    ASSERT_EQ(account.In("Old.Box.Recovered").size(), 1u);
    EXPECT_EQ(account.In("Old.Box.Recovered")[0].sha256, Sha256(Text("deleted")));
}
