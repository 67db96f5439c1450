// What the upload tests share: a real Dovecot, ombrik-cli run against it with a journal folder
// of the test's own, the account read back by Python's imaplib, and folder files made in code.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dbx/dbx.h"
#include "fixtures/dbx_builder.h"
#include "fixtures/dovecot_server.h"
#include "fixtures/store_builder.h"
#include "fixtures/temp_folder.h"
#include "imap/upload_message.h"

namespace uploadtest {

constexpr std::uint64_t kTicksPerSecond = 10000000ULL;
constexpr std::uint64_t kUnixEpoch = 116444736000000000ULL;
inline std::uint64_t Filetime(std::uint64_t unix_seconds) { return kUnixEpoch + unix_seconds * kTicksPerSecond; }

inline std::string Quote(const std::string& s) {
    std::string quoted = "'";
    for (char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct CliRun {
    int status = -1;
    std::string out;
};

inline CliRun Shell(const std::string& command) {
    CliRun run;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A message of the account as imaplib read it.
struct ServerMessage {
    std::string folder, flags, sha256;
    long long date = 0;  // seconds since 1970
    unsigned uid = 0;
};

struct Account {
    std::map<std::string, bool> folders;  // name -> subscribed
    std::vector<ServerMessage> messages;
    std::vector<ServerMessage> In(const std::string& folder) const {
        std::vector<ServerMessage> in;
        for (const auto& m : messages)
            if (m.folder == folder) in.push_back(m);
        return in;
    }
    std::multiset<std::string> Digests(const std::string& folder) const {
        std::multiset<std::string> digests;
        for (const auto& m : In(folder)) digests.insert(m.sha256);
        return digests;
    }
};

inline std::string Field(const std::string& line, const std::string& name, std::size_t& end) {
    const std::size_t at = line.find(" " + name + "=");
    if (at == std::string::npos) return {};
    const std::size_t begin = at + name.size() + 2;
    end = line.find(' ', begin);
    return line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

inline Account ReadAccount(const fixtures::DovecotServer& server) {
    std::string error;
    const std::string dump = fixtures::DumpMailbox(server, error);
    EXPECT_TRUE(error.empty()) << error;
    Account account;
    std::istringstream lines(dump);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("folder ", 0) == 0) {
            const std::size_t mark = line.rfind(" subscribed=");
            account.folders[line.substr(7, mark - 7)] = line.substr(mark + 12) == "1";
        } else if (line.rfind("message ", 0) == 0) {
            ServerMessage m;
            const std::size_t uid_at = line.find(" uid=");
            m.folder = line.substr(8, uid_at - 8);
            std::size_t end = 0;
            const std::string rest = line.substr(uid_at);
            m.uid = static_cast<unsigned>(std::stoul(Field(rest, "uid", end)));
            m.flags = Field(rest, "flags", end);
            m.date = std::stoll(Field(rest, "date", end));
            m.sha256 = Field(rest, "sha256", end);
            account.messages.push_back(m);
        }
    }
    return account;
}

// The stored text as the server must give it back: every bare LF with its CR.
inline std::string Sent(const std::string& stored) {
    std::string out;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] == '\n' && (i == 0 || stored[i - 1] != '\r')) out += '\r';
        out += stored[i];
    }
    return out;
}

inline std::string Sha256(const std::string& bytes) { return imap::MessageDigest(bytes); }

inline fixtures::DbxEmailSpec Mail(const std::string& subject, const std::string& text, std::uint64_t date = 0) {
    fixtures::DbxEmailSpec spec;
    spec.subject = subject;
    spec.sender_address = "someone@example.org";
    spec.text = text;
    spec.date = date;
    spec.has_date = date != 0;
    return spec;
}

// A message with a Message-ID and some body, padded to about `size` bytes.
inline std::string Text(const std::string& subject, std::size_t size = 0, bool with_id = true) {
    std::string text = "From: someone@example.org\r\nSubject: " + subject + "\r\n";
    if (with_id) text += "Message-ID: <" + subject + "@test.example>\r\n";
    text += "\r\nHello " + subject + "\r\n";
    while (text.size() < size) text += "Some more words to make the message bigger than it is.\r\n";
    return text;
}

// A folder file of count messages "<prefix> i".
inline void WriteFolder(const std::string& path, const std::string& prefix, int count, std::size_t size = 0) {
    fixtures::DbxFileBuilder builder;
    for (int i = 0; i < count; ++i) {
        const std::string subject = prefix + " " + std::to_string(i);
        builder.AddEmail(Mail(subject, Text(subject, size), Filetime(1236262029 + static_cast<std::uint64_t>(i) * 60)));
    }
    builder.WriteTo(path);
}

inline constexpr std::uint32_t kRead = kDbxMessageRead | kDbxMessageBodyDownloaded;

struct Expected {
    std::string text;
    std::string flags;
    long long date;
};

// A store with the trees and names that trouble servers: nesting, a parent without mail, a
// national name, siblings whose names differ only in case, a name with the server's separator
// and "&"; and an Inbox whose messages carry every state, LF-only lines and no record date.
inline std::vector<Expected> WriteTreeStore(const std::string& store) {
    std::filesystem::create_directories(store);
    std::vector<fixtures::DbxFolderSpec> folders = fixtures::StoreTopFolders();
    const auto add = [&](std::uint32_t id, std::uint32_t parent, const std::string& name, const std::string& file) {
        fixtures::DbxFolderSpec folder = fixtures::ListedFolder(id, parent, name, file);
        folder.store_type = static_cast<std::uint32_t>(DbxStoreType::Local);
        folders.push_back(folder);
    };
    add(4, fixtures::kLocalFoldersId, "Inbox", "Inbox.dbx");
    add(10, fixtures::kLocalFoldersId, "Mailinglists", "");
    add(11, 10, "hal", "hal.dbx");
    add(12, fixtures::kLocalFoldersId, "\xd0\x92\xd1\x85\xd0\xbe\xd0\xb4\xd1\x8f\xd1\x89\xd0\xb8\xd0\xb5", "Russian.dbx");
    add(13, fixtures::kLocalFoldersId, "Work", "Work.dbx");
    add(14, fixtures::kLocalFoldersId, "work", "work2.dbx");
    add(15, fixtures::kLocalFoldersId, "v1.2 & more", "v12.dbx");
    fixtures::WriteFile(store + "/Folders.dbx", fixtures::BuildFolderList(folders));

    const std::vector<Expected> inbox = {
        {Text("replied"), "\\Answered,\\Seen", 1236262029},
        {"Subject: forwarded\nMessage-ID: <fwd@test.example>\n\nbare line feeds\n", "$Forwarded,\\Flagged", 1236265629},
        {"Subject: draft\r\nDate: Thu, 05 Mar 2009 16:00:00 +0100\r\n\r\nnot sent\r\n", "\\Draft", 1236265200},
        {"Subject: plain\r\n\r\nno state, no Message-ID\r\n", "", 1236348429},
    };
    const std::uint32_t states[] = {kRead | kDbxMessageReplied, kDbxMessageFlagged | kDbxMessageForwarded | kDbxMessageBodyDownloaded,
                                    kDbxMessageDraft | kDbxMessageBodyDownloaded, 0};
    fixtures::DbxFileBuilder builder;
    for (std::size_t i = 0; i < inbox.size(); ++i) {
        // The draft has no record date: its Date header gives it one.
        const std::uint64_t date = i == 2 ? 0 : Filetime(static_cast<std::uint64_t>(inbox[i].date));
        const fixtures::DbxEmailSpec spec = Mail("m" + std::to_string(i), inbox[i].text, date);
        if (states[i] == 0)
            builder.AddRawRecord(fixtures::MakeEmailRecord(spec, static_cast<std::uint32_t>(i)));
        else
            builder.AddRawRecord(fixtures::MakeEmailRecordWithState(spec, static_cast<std::uint32_t>(i), states[i]));
    }
    builder.WriteTo(store + "/Inbox.dbx");
    WriteFolder(store + "/hal.dbx", "hal", 2);
    WriteFolder(store + "/Russian.dbx", "ru", 1);
    WriteFolder(store + "/Work.dbx", "Work", 1);
    WriteFolder(store + "/work2.dbx", "work", 1);
    WriteFolder(store + "/v12.dbx", "v12", 1);
    return inbox;
}

class UploadTest : public ::testing::Test {
protected:
    // Starts the server; false (and the test is to return, skipped) when Dovecot cannot run here.
    bool StartServer(const fixtures::DovecotOptions& options = fixtures::DovecotOptions()) {
        std::string why;
        server = fixtures::DovecotServer::Start(options, why);
        if (!server) {
            // Not installed: skipped with a note. Installed but not starting: a fault of the test's.
            if (fixtures::DovecotServer::Installed()) ADD_FAILURE() << "Dovecot did not start: " << why;
            skip_reason = "Dovecot cannot be run here, the upload is not tested: " + why;
            return false;
        }
        return true;
    }
    // ombrik-cli --format imap against the server, journals in the test's own state folder.
    CliRun Upload(const std::string& arguments, const std::string& prefix = "Outlook%20Express", bool trust = true) {
        return Shell("XDG_STATE_HOME=" + Quote(state()) + " timeout 300 " + std::string(OMBRIK_CLI) +
                     " --format imap --imap-url " + Quote(server->Url(prefix)) + " --imap-password-file " +
                     Quote(server->PasswordFile()) + (trust ? " --imap-ca-file " + Quote(server->certificate()) : "") +
                     " " + arguments);
    }
    std::string state() const { return dir / "state"; }
    // ombrik-cli uploading file, started and left running; its process id.
    pid_t StartUpload(const std::string& file) {
        const pid_t child = fork();
        if (child == 0) {
            setenv("XDG_STATE_HOME", state().c_str(), 1);
            const std::string url = server->Url("Outlook%20Express"), password = server->PasswordFile();
            execl(OMBRIK_CLI, "ombrik-cli", "--format", "imap", "--imap-url", url.c_str(), "--imap-password-file",
                  password.c_str(), "--imap-ca-file", server->certificate().c_str(), "--quiet", file.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        return child;
    }
    // Waits until the server's folder holds at least count messages (Dovecot's files of it).
    void WaitForMessages(const std::string& folder, std::size_t count) {
        const std::string path = server->maildir() + "/." + folder;
        for (int i = 0; i < 5000; ++i) {
            std::size_t found = 0;
            for (const char* sub : {"/new", "/cur"}) {
                std::error_code ec;
                for (auto it = std::filesystem::directory_iterator(path + sub, ec); !ec && it != std::filesystem::directory_iterator(); ++it)
                    ++found;
            }
            if (found >= count) return;
            usleep(2000);
        }
    }
    // The journal of the test's one folder.
    std::string JournalFile() const {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(state()))
            if (entry.path().extension() == ".journal") return entry.path().string();
        return {};
    }

    fixtures::TempFolder dir;
    std::unique_ptr<fixtures::DovecotServer> server;
    std::string skip_reason;
};

#define START_DOVECOT(...)                                   \
    do {                                                     \
        if (!StartServer(__VA_ARGS__)) GTEST_SKIP() << skip_reason; \
    } while (false)

}  // namespace uploadtest
