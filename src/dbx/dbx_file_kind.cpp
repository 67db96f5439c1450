// Telling the files of an Outlook Express store apart by their header, and where the header
// leaves doubt, by what their index and text blocks hold.
#include "dbx/dbx_file_kind.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "dbx/dbx.h"
#include "dbx/dbx_format.h"
#include "dbx/dbx_internal.h"
#include "dbx/dbx_scan.h"
#include "platform/file_stream.h"
#include "platform/random_access_file.h"

namespace {

using dbx_format::LoadLe32;

// Every file of an Outlook Express 5/6 store starts with the signature; the 16-byte class id
// after it says which database the file is.
constexpr std::array<std::uint8_t, 4> kSignature = {0xCF, 0xAD, 0x12, 0xFE};
constexpr std::size_t kClassIdAt = 4;
constexpr std::size_t kClassIdSize = 16;
using ClassId = std::array<std::uint8_t, kClassIdSize>;
constexpr ClassId kMessageDatabase = {0xC5, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11,
                                      0x9A, 0x4E, 0x00, 0xC0, 0x4F, 0xA3, 0x09, 0xD4};
constexpr ClassId kFolderDatabase = {0xC6, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11,
                                     0x9A, 0x4E, 0x00, 0xC0, 0x4F, 0xA3, 0x09, 0xD4};
constexpr ClassId kPop3UidlDatabase = {0xC7, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11,
                                       0x9A, 0x4E, 0x00, 0xC0, 0x4F, 0xA3, 0x09, 0xD4};
constexpr ClassId kOfflineDatabase = {0x30, 0x9D, 0xFE, 0x26, 0x8F, 0x1A, 0xD2, 0x11,
                                      0xAA, 0xBF, 0x00, 0x60, 0x97, 0xD4, 0x74, 0xC4};

struct KnownClass {
    const ClassId* id;
    DbxFileKind kind;
};
constexpr std::array<KnownClass, 4> kKnownClasses = {{{&kMessageDatabase, DbxFileKind::MailFolder},
                                                     {&kFolderDatabase, DbxFileKind::FolderList},
                                                     {&kPop3UidlDatabase, DbxFileKind::Pop3Uidl},
                                                     {&kOfflineDatabase, DbxFileKind::OfflineActions}}};

// A signature or class id this many bits away from a known one is still taken for it: a few
// flipped bits are damage, a different word is another file.
constexpr int kNearBits = 8;

constexpr std::uint32_t kOe4Signature = 0x36464D4A;  // "JMF6"

// The header names the length of the file info that follows it. A message folder's info is
// 0x618 bytes long and starts with the word 1, then the kind of account the folder belongs to
// and the account's key; a folder list's is 0x108 bytes.
constexpr std::size_t kFileInfoLengthAt = 0x1C;
constexpr std::uint32_t kMessageFileInfoLength = 0x618;
constexpr std::uint32_t kFolderListFileInfoLength = 0x108;
constexpr std::size_t kFileInfoAt = 0x24BC;
constexpr std::size_t kSourceTypeAt = kFileInfoAt + 4;
constexpr std::size_t kAccountKeyAt = kFileInfoAt + 5;
constexpr std::uint8_t kSourceNews = 0x00;
constexpr std::uint8_t kLastSourceType = 0x03;  // local folders
constexpr char kLocalStoreKey[] = "LocalStore";

// Records looked at from the top of the index for texts that begin like a message.
constexpr std::size_t kRecordsLookedAt = 16;

int BitsApart(const std::uint8_t* bytes, const std::uint8_t* expected, std::size_t size) {
    int bits = 0;
    for (std::size_t i = 0; i < size; ++i) bits += std::popcount(static_cast<unsigned>(bytes[i] ^ expected[i]));
    return bits;
}

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

// The header fields of a message folder: the length of its file info, and the info itself.
bool HasMessageFolderFields(const std::uint8_t* head, std::size_t size) {
    return size > kSourceTypeAt && LoadLe32(head + kFileInfoLengthAt) == kMessageFileInfoLength &&
           LoadLe32(head + kFileInfoAt) == 1 && head[kSourceTypeAt] <= kLastSourceType;
}

bool HasFolderListFields(const std::uint8_t* head, std::size_t size) {
    return size > kFileInfoLengthAt + 4 && LoadLe32(head + kFileInfoLengthAt) == kFolderListFileInfoLength;
}

// A newsgroup's file info names a news account; the local folders' account key is LocalStore.
// One byte alone does not make a folder a newsgroup.
bool IsNewsFolder(const std::uint8_t* head, std::size_t size) {
    if (!HasMessageFolderFields(head, size) || head[kSourceTypeAt] != kSourceNews) return false;
    const std::uint8_t* key = head + kAccountKeyAt;
    const void* end = std::memchr(key, 0, size - kAccountKeyAt);
    if (end == nullptr || end == key) return false;
    const std::string_view name(reinterpret_cast<const char*>(key), static_cast<const std::uint8_t*>(end) - key);
    return name != kLocalStoreKey &&
           std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x20; });
}

DbxFileClass MessageFolder(const std::uint8_t* head, std::size_t size, bool certain) {
    return {IsNewsFolder(head, size) ? DbxFileKind::NewsFolder : DbxFileKind::MailFolder, certain};
}

// An Outlook Express file by its signature: which class id it has, or is nearest to, and whether
// its fields agree.
DbxFileClass ClassifyOutlookExpress(const std::uint8_t* head, std::size_t size, int signature_bits) {
    const bool mail_fields = HasMessageFolderFields(head, size);
    const bool list_fields = HasFolderListFields(head, size);
    if (size < kClassIdAt + kClassIdSize) {
        if (mail_fields) return MessageFolder(head, size, false);
        return {DbxFileKind::OtherOutlookExpress, false};
    }
    int best_bits = kClassIdSize * 8 + 1, second_bits = best_bits;
    DbxFileKind best = DbxFileKind::OtherOutlookExpress;
    for (const KnownClass& known : kKnownClasses) {
        const int bits = BitsApart(head + kClassIdAt, known.id->data(), kClassIdSize);
        if (bits < best_bits) {
            second_bits = best_bits;
            best_bits = bits;
            best = known.kind;
        } else if (bits < second_bits) {
            second_bits = bits;
        }
    }
    // An exact class id is certain unless the fields are those of another kind.
    const bool contradicted =
        (best != DbxFileKind::MailFolder && mail_fields) || (best != DbxFileKind::FolderList && list_fields);
    if (signature_bits == 0 && best_bits == 0 && !contradicted) {
        if (best == DbxFileKind::MailFolder) return MessageFolder(head, size, true);
        return {best, true};
    }
    // A damaged head, or one that contradicts itself: the fields decide (one flipped bit turns
    // one class id into another), else the nearest class id, when it is near and nearer than
    // any other.
    if (mail_fields) return MessageFolder(head, size, false);
    if (list_fields) return {DbxFileKind::FolderList, false};
    if (best_bits <= kNearBits && best_bits < second_bits) {
        if (best == DbxFileKind::MailFolder) return MessageFolder(head, size, false);
        return {best, false};
    }
    return {DbxFileKind::OtherOutlookExpress, false};
}

bool IsOutlookExpressKind(DbxFileKind kind) {
    switch (kind) {
        case DbxFileKind::MailFolder:
        case DbxFileKind::NewsFolder:
        case DbxFileKind::FolderList:
        case DbxFileKind::Pop3Uidl:
        case DbxFileKind::OfflineActions:
        case DbxFileKind::OtherOutlookExpress: return true;
        default: return false;
    }
}

// Do the first records the index reaches lead to texts that begin like a message?
bool IndexLeadsToMessages(DbxReader& reader) {
    const std::size_t slots = reader.item_offsets.size();
    for (std::size_t i = 0; i < std::min(slots, kRecordsLookedAt); ++i) {
        const auto record = static_cast<std::uint32_t>(reader.item_offsets[slots - 1 - i]);
        const std::int32_t text = dbx_internal::ReadTextOffset(reader, record);
        if (text > 0 && dbx_internal::TextBlockBeginsLikeMessage(reader, static_cast<std::uint32_t>(text))) return true;
    }
    return false;
}

// Read as a mail folder, does the file hold mail: texts its index leads to, or text blocks that
// hold messages? The stream stays open, for its owner.
bool ContentsLookLikeMail(std::FILE* stream) {
    DbxOpenOptions options(DbxCountCheck::TreeIsTruth);
    options.kind = DbxKind::Email;
    DbxReader* reader = dbx_open_stream_with(stream, options);
    if (reader == nullptr) return false;
    bool mail = IndexLeadsToMessages(*reader);
    if (!mail) {
        DbxScan* scan = dbx_scan(reader);
        mail = dbx_scan_stats(scan).found > 0;
        dbx_scan_free(scan);
    }
    reader->stream = nullptr;
    dbx_close(reader);
    return mail;
}

}  // namespace

DbxFileClass dbx_classify_bytes(const std::uint8_t* head, std::size_t size, std::uint64_t file_size) {
    if (file_size == 0 || size == 0) return {DbxFileKind::Empty, true};
    size = std::min<std::size_t>(size, kDbxKindProbeSize);
    if (size >= 4) {
        const int signature_bits = BitsApart(head, kSignature.data(), kSignature.size());
        // A damaged signature still counts when the class id after it is near a known one.
        if (signature_bits == 0 || (signature_bits <= 2 && size >= kClassIdAt + kClassIdSize)) {
            const DbxFileClass found = ClassifyOutlookExpress(head, size, signature_bits);
            if (signature_bits == 0 || found.kind != DbxFileKind::OtherOutlookExpress) return found;
        }
        if (LoadLe32(head) == kOe4Signature) return {DbxFileKind::OutlookExpress4, true};
    }
    if (LooksLikeText(head, size)) return {DbxFileKind::Text, true};
    return {DbxFileKind::OtherFormat, true};
}

DbxFileClass dbx_classify_file(const char* path) {
    if (path == nullptr) return {DbxFileKind::Unreadable, true};
    // Only a plain file is opened: a FIFO would block the caller.
    std::error_code error;
    if (!std::filesystem::is_regular_file(platform::FileSystemPath(path), error)) return {DbxFileKind::Unreadable, true};
    std::FILE* stream = platform::OpenFileStream(path, "rb");
    const DbxFileClass found = dbx_classify_stream(stream);
    if (stream != nullptr) std::fclose(stream);
    return found;
}

DbxFileClass dbx_classify_stream(std::FILE* stream) {
    if (stream == nullptr) return {DbxFileKind::Unreadable, true};
    platform::FileVersion version;
    const int fd = platform::DescriptorOf(stream);
    if (fd < 0 || platform::VersionOf(fd, version) != 0) return {DbxFileKind::Unreadable, true};
    std::vector<std::uint8_t> head(kDbxKindProbeSize);
    std::size_t got = 0;
    if (std::fseek(stream, 0, SEEK_SET) == 0) got = std::fread(head.data(), 1, head.size(), stream);
    const bool failed = std::ferror(stream) != 0;
    std::clearerr(stream);
    if (failed) return {DbxFileKind::Unreadable, true};
    const DbxFileClass by_header = dbx_classify_bytes(head.data(), got, version.size);
    if (!IsOutlookExpressKind(by_header.kind) || (dbx_kind_holds_mail(by_header.kind) && by_header.certain))
        return by_header;
    // Whatever the header says, a file that holds mail is a mail folder.
    const bool mail = ContentsLookLikeMail(stream);
    std::clearerr(stream);
    if (mail) return MessageFolder(head.data(), got, false);
    return by_header;
}

bool dbx_kind_holds_mail(DbxFileKind kind) { return kind == DbxFileKind::MailFolder || kind == DbxFileKind::NewsFolder; }

const char* dbx_kind_description(DbxFileKind kind) {
    switch (kind) {
        case DbxFileKind::MailFolder: return "an Outlook Express mail folder";
        case DbxFileKind::NewsFolder: return "an Outlook Express newsgroup folder";
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
