// Item records: fetching one by slot, decoding its property entries, releasing it.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dbx/dbx.h"
#include "dbx/dbx_format.h"
#include "dbx/dbx_internal.h"

namespace {

using dbx_format::LoadLe24;
using dbx_format::LoadLe32;
using dbx_format::RecordHeader;

enum class FieldForm { Direct, String, Word32, Word64, Byte };

// Where a property tag goes in a record, and in which form its data is stored.
template <typename Record>
struct FieldTarget {
    FieldForm form;
    DbxText Record::*text = nullptr;
    std::uint32_t Record::*word = nullptr;
    std::int32_t Record::*signed_word = nullptr;
    std::uint64_t Record::*wide = nullptr;
};

using EmailTarget = FieldTarget<DbxEmail>;
using ListTarget = FieldTarget<DbxListEntry>;

bool FindEmailTarget(std::uint8_t tag, EmailTarget& target) {
    switch (tag) {
        case 0x01: target = {FieldForm::Byte, nullptr, &DbxEmail::tag01_value}; return true;
        case 0x04: target = {FieldForm::Word32, nullptr, nullptr, &DbxEmail::text_offset}; return true;
        case 0x05: target = {FieldForm::String, &DbxEmail::tag05_text}; return true;
        case 0x07: target = {FieldForm::String, &DbxEmail::tag07_text}; return true;
        case 0x08: target = {FieldForm::String, &DbxEmail::subject}; return true;
        case 0x0A: target = {FieldForm::String, &DbxEmail::tag0a_text}; return true;
        case 0x0C: target = {FieldForm::String, &DbxEmail::tag0c_text}; return true;
        case 0x0D: target = {FieldForm::String, &DbxEmail::tag0d_text}; return true;
        case 0x0E: target = {FieldForm::String, &DbxEmail::sender_address}; return true;
        case 0x12: target = {FieldForm::Word64, nullptr, nullptr, nullptr, &DbxEmail::date}; return true;
        case 0x13: target = {FieldForm::String, &DbxEmail::tag13_text}; return true;
        case 0x14: target = {FieldForm::String, &DbxEmail::tag14_text}; return true;
        case 0x1A: target = {FieldForm::String, &DbxEmail::tag1a_text}; return true;
        case 0x1B: target = {FieldForm::String, &DbxEmail::tag1b_text}; return true;
        case 0x80: target = {FieldForm::Direct, nullptr, &DbxEmail::tag00_value}; return true;
        case 0x81: target = {FieldForm::Direct, nullptr, &DbxEmail::tag01_value}; return true;
        case 0x84: target = {FieldForm::Direct, nullptr, nullptr, &DbxEmail::text_offset}; return true;
        default: return false;
    }
}

bool FindListTarget(std::uint8_t tag, ListTarget& target) {
    switch (tag) {
        case 0x02: target = {FieldForm::String, &DbxListEntry::tag02_text}; return true;
        case 0x03: target = {FieldForm::String, &DbxListEntry::tag03_text}; return true;
        case 0x80: target = {FieldForm::Direct, nullptr, &DbxListEntry::tag80_value}; return true;
        case 0x81: target = {FieldForm::Direct, nullptr, &DbxListEntry::tag81_value}; return true;
        default: return false;
    }
}

template <typename Record>
void StoreWord(Record& record, const FieldTarget<Record>& target, std::uint32_t value) {
    if (target.word != nullptr) record.*target.word = value;
    if (target.signed_word != nullptr) record.*target.signed_word = static_cast<std::int32_t>(value);
}

// Applies one property entry. Data of an indirect entry must lie wholly inside the body;
// false, and the field is left as it was, when it does not.
template <typename Record>
bool ApplyProperty(Record& record, const FieldTarget<Record>& target, std::uint32_t value,
                   const std::vector<std::uint8_t>& body, std::size_t data_area) {
    if (target.form == FieldForm::Direct) {
        StoreWord(record, target, value);
        return true;
    }
    const std::size_t at = data_area + value;  // value is 24-bit: no overflow
    if (at >= body.size()) return false;
    const std::uint8_t* data = body.data() + at;
    const std::size_t room = body.size() - at;
    switch (target.form) {
        case FieldForm::String: {
            const void* end = std::memchr(data, 0, room);
            if (end == nullptr) return false;
            record.*target.text = std::string(reinterpret_cast<const char*>(data),
                                              static_cast<const std::uint8_t*>(end) - data);
            return true;
        }
        case FieldForm::Word32:
            if (room < 4) return false;
            StoreWord(record, target, LoadLe32(data));
            return true;
        case FieldForm::Word64:
            if (room < 8) return false;
            record.*target.wide = std::uint64_t{LoadLe32(data)} | (std::uint64_t{LoadLe32(data + 4)} << 32);
            return true;
        case FieldForm::Byte:
            StoreWord(record, target, std::uint32_t{*data});
            return true;
        case FieldForm::Direct: break;
    }
    return false;
}

// Decodes the property entries in order, up to the end of the body. An entry whose data does
// not fit the body is damaged on its own: it is skipped, and the entries after it (the text
// offset among them) still count.
template <typename Record, typename FindTarget>
void ApplyProperties(Record& record, const std::vector<std::uint8_t>& body, std::size_t entry_count,
                     FindTarget find_target) {
    const std::size_t data_area = entry_count * 4;
    for (std::size_t j = 0; j < entry_count; ++j) {
        if (4 * j + 4 > body.size()) return;
        const std::uint8_t* entry = body.data() + 4 * j;
        FieldTarget<Record> target{FieldForm::Direct};
        if (!find_target(entry[0], target)) continue;
        ApplyProperty(record, target, LoadLe24(entry + 1), body, data_area);
    }
}

// A number property in whichever form it is stored: the 24-bit value itself (direct form), or
// up to four bytes at its data offset, zero-extended when the body ends sooner. Nothing when
// its data lies outside the body.
std::optional<std::uint32_t> NumberProperty(const std::uint8_t* entry, const std::vector<std::uint8_t>& body,
                                            std::size_t data_area) {
    const std::uint32_t value = LoadLe24(entry + 1);
    if ((entry[0] & dbx_format::kDirectTagBit) != 0) return value;
    const std::size_t at = data_area + value;
    if (at >= body.size()) return std::nullopt;
    std::uint32_t number = 0;
    const std::size_t width = std::min<std::size_t>(4, body.size() - at);
    for (std::size_t i = 0; i < width; ++i) number |= std::uint32_t{body[at + i]} << (8 * i);
    return number;
}

DbxText StringProperty(const std::uint8_t* entry, const std::vector<std::uint8_t>& body, std::size_t data_area) {
    if ((entry[0] & dbx_format::kDirectTagBit) != 0) return std::nullopt;
    const std::size_t at = data_area + LoadLe24(entry + 1);
    if (at >= body.size()) return std::nullopt;
    const void* end = std::memchr(body.data() + at, 0, body.size() - at);
    if (end == nullptr) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(body.data() + at),
                       static_cast<const std::uint8_t*>(end) - (body.data() + at));
}

// Calls visit(tag without the form bit, entry) for every property entry inside the body.
template <typename Visit>
void ForEachEntry(const std::vector<std::uint8_t>& body, std::size_t entry_count, Visit visit) {
    for (std::size_t j = 0; j < entry_count && 4 * j + 4 <= body.size(); ++j) {
        const std::uint8_t* entry = body.data() + 4 * j;
        visit(static_cast<std::uint8_t>(entry[0] & ~dbx_format::kDirectTagBit), entry);
    }
}

// The message state, read apart from the fields above so that a damaged state property
// never changes what they hold.
void ReadMessageState(DbxEmail& email, const std::vector<std::uint8_t>& body, std::size_t entry_count) {
    const std::size_t data_area = entry_count * 4;
    ForEachEntry(body, entry_count, [&](std::uint8_t tag, const std::uint8_t* entry) {
        if (tag != 0x01 && tag != 0x10) return;
        const auto number = NumberProperty(entry, body, data_area);
        if (!number) return;
        if (tag == 0x01) {
            email.state_flags = *number;
            email.state_stored = true;
        } else {
            email.priority = *number;
        }
    });
    const std::uint32_t f = email.state_flags;
    email.read = (f & kDbxMessageRead) != 0;
    email.flagged = (f & kDbxMessageFlagged) != 0;
    email.replied = (f & kDbxMessageReplied) != 0;
    email.forwarded = (f & kDbxMessageForwarded) != 0;
    email.draft = (f & kDbxMessageDraft) != 0;
    email.has_attachment = (f & kDbxMessageHasAttachment) != 0;
    email.signed_message = (f & kDbxMessageSigned) != 0;
    email.watched = (f & kDbxMessageWatched) != 0;
    email.ignored = (f & kDbxMessageIgnored) != 0;
    email.body_downloaded = (f & kDbxMessageBodyDownloaded) != 0;
}

// The record as a folder of the folder list, in a pass of its own for the same reason.
void ReadFolderProperties(DbxListEntry& entry, const std::vector<std::uint8_t>& body, std::size_t entry_count) {
    const std::size_t data_area = entry_count * 4;
    ForEachEntry(body, entry_count, [&](std::uint8_t tag, const std::uint8_t* raw) {
        if (tag == 0x05) {
            if (auto text = StringProperty(raw, body, data_area)) entry.account_key = std::move(text);
            return;
        }
        const auto number = NumberProperty(raw, body, data_area);
        if (!number) return;
        switch (tag) {
            case 0x00: entry.folder_id = number; break;
            case 0x01: entry.parent_id = number; break;
            case 0x06: entry.folder_flags = *number; break;
            case 0x07: entry.message_count = number; break;
            case 0x08: entry.unread_count = number; break;
            case 0x09: entry.special_folder = *number; break;
            case 0x0A: entry.store_type = number; break;
            default: break;
        }
    });
}

// Reads the record header and body at offset; false when either is not wholly in the file.
bool ReadRecordBody(DbxReader& reader, std::uint32_t offset, std::vector<std::uint8_t>& body,
                    std::size_t& entry_count) {
    std::array<std::uint8_t, sizeof(RecordHeader)> raw{};
    if (!dbx_internal::ReadAt(reader, offset, raw.data(), raw.size())) return false;
    const RecordHeader header = RecordHeader::Decode(raw.data());
    const std::uint64_t body_at = std::uint64_t{offset} + sizeof(RecordHeader);
    if (header.body_size < 0 || body_at + std::uint64_t(header.body_size) > std::uint64_t(reader.file_size)) {
        return false;
    }
    body.resize(std::size_t(header.body_size));
    if (!dbx_internal::ReadAt(reader, body_at, body.data(), body.size())) return false;
    entry_count = header.entry_count;
    return true;
}

// The record's fields without its text; fields read before any damage stay.
void ReadEmailFields(DbxReader& reader, std::uint32_t offset, DbxEmail& email) {
    std::size_t entry_count = 0;
    std::vector<std::uint8_t> body;
    if (!ReadRecordBody(reader, offset, body, entry_count)) return;
    email.text_offset = -1;
    ApplyProperties(email, body, entry_count, FindEmailTarget);
    ReadMessageState(email, body, entry_count);
}

// A damaged record still yields an item, with the fields read before the damage.
DbxEmail* ReadEmail(DbxReader& reader, std::uint32_t offset) {
    auto* email = new DbxEmail;
    email->kind = DbxKind::Email;
    ReadEmailFields(reader, offset, *email);
    if (email->text_offset != -1)
        dbx_internal::AssembleTextChain(reader, *email, static_cast<std::uint32_t>(email->text_offset),
                                        reader.claim_text_blocks);
    return email;
}

DbxListEntry* ReadListEntry(DbxReader& reader, std::uint32_t offset) {
    auto* entry = new DbxListEntry;
    entry->kind = DbxKind::List;
    std::vector<std::uint8_t> body;
    std::size_t entry_count = 0;
    if (ReadRecordBody(reader, offset, body, entry_count)) {
        ApplyProperties(*entry, body, entry_count, FindListTarget);
        ReadFolderProperties(*entry, body, entry_count);
    }
    return entry;
}

}  // namespace

namespace dbx_internal {

std::int32_t ReadTextOffset(DbxReader& reader, std::uint32_t record_offset) {
    DbxEmail email;
    ReadEmailFields(reader, record_offset, email);
    return email.text_offset;
}

}  // namespace dbx_internal

DbxItem* dbx_get(DbxReader* reader, std::int32_t slot) {
    if (reader == nullptr || reader->stream == nullptr) {
        dbx_errno = 1;
        return nullptr;
    }
    if (slot < 0 || slot >= reader->item_count || std::size_t(slot) >= reader->item_offsets.size()) {
        dbx_errno = 6;
        return nullptr;
    }
    const auto offset = static_cast<std::uint32_t>(reader->item_offsets[std::size_t(slot)]);
    DbxItem* item = nullptr;
    if (reader->kind == DbxKind::Email) {
        item = ReadEmail(*reader, offset);
    } else {
        item = ReadListEntry(*reader, offset);
    }
    item->index = slot;
    dbx_errno = 0;
    return item;
}

int dbx_free(DbxItem* item) {
    if (item == nullptr) return 1;
    if (item->kind != DbxKind::Email && item->kind != DbxKind::List) {
        std::printf("Aaarghhh. Cannot free an unknown type!\n");
        return 0;
    }
    delete item;
    return 0;
}
