// Writes the folder files the Windows comparison converts with both builds: a whole store whose
// folders have non-ASCII names, and a folder file of its own with a non-ASCII file name, holding
// messages whose subjects need every kind of care in a file name (scripts past Latin-1, 8-bit
// text in a legacy code page, characters Windows forbids in names, trailing dots).
// Usage: make_national_mail OUTPUT_DIR   (makes OUTPUT_DIR/store and OUTPUT_DIR/Boîte de réception.dbx)
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/store_builder.h"

namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000ULL;
constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;

fixtures::DbxEmailSpec Message(const std::string& stored_subject, const std::string& header_subject,
                               std::uint64_t unix_seconds, const std::string& body, const std::string& charset) {
    fixtures::DbxEmailSpec spec;
    spec.subject = stored_subject;
    spec.sender_address = "anna@example.org";
    spec.date = kUnixEpochTicks + unix_seconds * kTicksPerSecond;
    spec.text = "From: Anna <anna@example.org>\r\nTo: Bob <bob@example.com>\r\nSubject: " + header_subject +
                "\r\nDate: Thu, 05 Mar 2009 14:07:09 +0100\r\nMessage-ID: <" + std::to_string(unix_seconds) +
                "@example.org>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=\"" + charset +
                "\"\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + body + "\r\n";
    return spec;
}

std::string NationalFolder(int variant) {
    fixtures::DbxFileBuilder builder;
    const std::uint64_t t = 1236262029 + static_cast<std::uint64_t>(variant) * 100000;
    builder.AddEmail(Message("Café crème €", "=?utf-8?Q?Caf=C3=A9_cr=C3=A8me_=E2=82=AC?=", t, "Un café, s'il vous plaît.", "utf-8"));
    // Stored in windows-1251 as a Russian system wrote it; the header says so in an encoded word.
    builder.AddEmail(Message("\xCF\xF0\xE8\xE2\xE5\xF2 \xEC\xE8\xF0", "=?windows-1251?B?z/Do4uXyIOzo8A==?=", t + 60,
                             "\xCF\xF0\xE8\xE2\xE5\xF2!", "windows-1251"));
    builder.AddEmail(Message("日本語の件名 😀", "=?utf-8?B?5pel5pys6Kqe44Gu5Lu25ZCNIPCfmIA=?=", t + 120, "こんにちは", "utf-8"));
    builder.AddEmail(Message("a/b\\c:d*e?f\"g<h>i|j", "a/b\\c:d*e?f\"g<h>i|j", t + 180, "forbidden", "us-ascii"));
    builder.AddEmail(Message("Ends in dots...", "Ends in dots...", t + 240, "dots", "us-ascii"));
    builder.AddEmail(Message("Ελληνικά και עברית", "=?utf-8?B?zpXOu867zrfOvc65zrrOrCDOus6xzrkg16LXkdeo15nXqg==?=", t + 300,
                             "Γειά σου", "utf-8"));
    return builder.Build();
}

void Write(const std::filesystem::path& path, const std::string& bytes) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fclose(out) != 0)
        throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out = argv[1];
    const std::filesystem::path store = out / "store";
    std::filesystem::create_directories(store);
    std::vector<fixtures::DbxFolderSpec> folders = fixtures::StoreTopFolders();
    auto add = [&](std::uint32_t id, std::uint32_t parent, const std::string& name, const std::string& file) {
        fixtures::DbxFolderSpec folder = fixtures::ListedFolder(id, parent, name, file);
        folder.store_type = static_cast<std::uint32_t>(DbxStoreType::Local);
        folders.push_back(folder);
    };
    // Folder names in UTF-8 and in windows-1252 (as an English or French system stored them).
    add(4, fixtures::kLocalFoldersId, "Входящие", "Inbox.dbx");
    add(10, fixtures::kLocalFoldersId, "Caf\xE9 cr\xE8me", "");
    add(11, 10, "日本語", "Japanese.dbx");
    Write(store / "Folders.dbx", fixtures::BuildFolderList(folders));
    Write(store / "Inbox.dbx", NationalFolder(0));
    Write(store / "Japanese.dbx", NationalFolder(1));
    Write(out / "Boîte de réception.dbx", NationalFolder(2));
    std::printf("wrote %s\n", out.c_str());
    return 0;
}
