// Telling the files of an Outlook Express store apart by their header.
#include "dbx/dbx_file_kind.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "dbx/dbx_format.h"
#include "platform/file_stream.h"

namespace {

using dbx_format::LoadLe32;

// Every file of an Outlook Express 5/6 store starts with this word; the class word after it
// says which database the file is.
constexpr std::uint32_t kPop3UidlClassWord = 0x6F74FDC7;
constexpr std::uint32_t kOfflineClassWord = 0x26FE9D30;
constexpr std::uint32_t kOe4Signature = 0x36464D4A;  // "JMF6"

// A message folder's header names the length of the file info that follows it; the info's
// fifth byte says which kind of account the folder belongs to.
constexpr std::size_t kFileInfoLengthAt = 0x1C;
constexpr std::size_t kFileInfoAt = 0x24BC;
constexpr std::size_t kSourceTypeAt = kFileInfoAt + 4;
constexpr std::uint8_t kSourceNews = 0x00;

// Text: no zero bytes and almost only printable or white-space bytes (8-bit text allowed).
bool LooksLikeText(const std::uint8_t* head, std::size_t size) {
    std::size_t control = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t c = head[i];
        if (c == 0) return false;
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') ++control;
    }
    return control * 20 <= size;
}

DbxFileKind ClassifyMessageDatabase(const std::uint8_t* head, std::size_t size) {
    if (size > kSourceTypeAt && LoadLe32(head + kFileInfoLengthAt) > 4 && head[kSourceTypeAt] == kSourceNews)
        return DbxFileKind::NewsFolder;
    return DbxFileKind::MailFolder;
}

}  // namespace

DbxFileKind dbx_classify_bytes(const std::uint8_t* head, std::size_t size, std::uint64_t file_size) {
    if (file_size == 0 || size == 0) return DbxFileKind::Empty;
    size = std::min<std::size_t>(size, kDbxKindProbeSize);
    if (size >= 4 && LoadLe32(head) == dbx_format::kFileMagic) {
        if (size < 8) return DbxFileKind::OtherOutlookExpress;
        const std::uint32_t class_word = LoadLe32(head + 4);
        const bool database_words = size >= dbx_format::kHeaderMagicSize &&
                                    LoadLe32(head + 8) == dbx_format::kThirdMagic &&
                                    LoadLe32(head + 12) == dbx_format::kFourthMagic;
        if (class_word == dbx_format::kKindWordEmail && database_words) return ClassifyMessageDatabase(head, size);
        if (class_word == dbx_format::kKindWordList && database_words) return DbxFileKind::FolderList;
        if (class_word == kPop3UidlClassWord) return DbxFileKind::Pop3Uidl;
        if (class_word == kOfflineClassWord) return DbxFileKind::OfflineActions;
        return DbxFileKind::OtherOutlookExpress;
    }
    if (size >= 4 && LoadLe32(head) == kOe4Signature) return DbxFileKind::OutlookExpress4;
    if (LooksLikeText(head, size)) return DbxFileKind::Text;
    return DbxFileKind::OtherFormat;
}

DbxFileKind dbx_classify_file(const char* path) {
    if (path == nullptr) return DbxFileKind::Unreadable;
    // Only a plain file is opened: a FIFO would block the caller.
    std::error_code error;
    const std::filesystem::path native = platform::FileSystemPath(path);
    if (!std::filesystem::is_regular_file(native, error)) return DbxFileKind::Unreadable;
    const std::uintmax_t file_size = std::filesystem::file_size(native, error);
    if (error) return DbxFileKind::Unreadable;
    std::FILE* stream = platform::OpenFileStream(path, "rb");
    if (stream == nullptr) return DbxFileKind::Unreadable;
    std::vector<std::uint8_t> head(kDbxKindProbeSize);
    const std::size_t got = std::fread(head.data(), 1, head.size(), stream);
    const bool failed = std::ferror(stream) != 0;
    std::fclose(stream);
    if (failed) return DbxFileKind::Unreadable;
    return dbx_classify_bytes(head.data(), got, static_cast<std::uint64_t>(file_size));
}

bool dbx_kind_holds_mail(DbxFileKind kind) { return kind == DbxFileKind::MailFolder; }

const char* dbx_kind_description(DbxFileKind kind) {
    switch (kind) {
        case DbxFileKind::MailFolder: return "an Outlook Express mail folder";
        case DbxFileKind::NewsFolder: return "an Outlook Express newsgroup folder (news articles, not mail)";
        case DbxFileKind::FolderList: return "the folder list of an Outlook Express store (Folders.dbx), holding no mail";
        case DbxFileKind::Pop3Uidl:
            return "the record of messages fetched from a POP3 server (Pop3uidl.dbx), holding no mail";
        case DbxFileKind::OfflineActions:
            return "the list of actions waiting for a connection (Offline.dbx), holding no mail";
        case DbxFileKind::OtherOutlookExpress: return "an Outlook Express file of an unknown kind, holding no mail we can read";
        case DbxFileKind::OutlookExpress4: return "a mail file of Outlook Express 4 (.mbx or .idx), which this program does not read";
        case DbxFileKind::Empty: return "an empty file, not an Outlook Express folder file";
        case DbxFileKind::Text: return "a text file, not an Outlook Express folder file";
        case DbxFileKind::OtherFormat: return "not an Outlook Express folder file";
        case DbxFileKind::Unreadable: return "a file that cannot be read";
    }
    return "not an Outlook Express folder file";
}
