#include "imap/upload_journal.h"

#include <cerrno>
#include <stdexcept>

#include "imap/upload_message.h"
#include "platform/output_file.h"
#include "platform/paths.h"

namespace imap {

namespace {

constexpr std::string_view kFirstLine = "ombrik upload journal 1";
// Far beyond the records of any folder (about 150 bytes a message); a bigger file is not ours.
constexpr std::uint64_t kMaxJournalSize = 1ull << 30;
constexpr std::size_t kMaxLineLength = 4096;

bool IsDigest(std::string_view text) {
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
    if (text.empty() || text.size() > 20) return false;
    std::uint64_t parsed = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const std::uint64_t next = parsed * 10 + static_cast<std::uint64_t>(c - '0');
        if (next < parsed) return false;
        parsed = next;
    }
    if (parsed > static_cast<std::uint64_t>(static_cast<Number>(~Number(0)))) return false;
    value = static_cast<Number>(parsed);
    return true;
}

// The words of a line, split at single blanks; the last one takes the rest of the line.
std::vector<std::string_view> Words(std::string_view line, std::size_t count) {
    std::vector<std::string_view> words;
    while (words.size() + 1 < count) {
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos) break;
        words.push_back(line.substr(0, blank));
        line.remove_prefix(blank + 1);
    }
    words.push_back(line);
    return words;
}

// A Message-ID as one word of a record: blanks, line ends and "%" written as %XX.
std::string EscapedWord(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    if (text == "-") return "%2D";  // "-" alone stands for no Message-ID
    std::string word;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == '%' || byte == 0x7F) {
            word += '%';
            word += kHex[byte >> 4];
            word += kHex[byte & 0xF];
        } else {
            word += c;
        }
    }
    return word;
}

std::string UnescapedWord(std::string_view word) {
    const auto hex = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
    std::string text;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] == '%' && i + 2 < word.size() && hex(word[i + 1]) >= 0 && hex(word[i + 2]) >= 0) {
            text += static_cast<char>(hex(word[i + 1]) * 16 + hex(word[i + 2]));
            i += 2;
        } else {
            text += word[i];
        }
    }
    return text;
}

void ReadRecord(std::string_view line, JournalState& state) {
    const std::vector<std::string_view> words = Words(line, 4);
    JournalRecord record;
    if (words[0] == "uidvalidity" && words.size() == 2) {
        std::uint32_t uid_validity = 0;
        if (!ParseNumber(words[1], uid_validity)) return;
        state.uid_validity = uid_validity;
        state.Clear();
        return;
    }
    if (words.size() < 2 || !IsDigest(words[1])) return;
    record.digest = std::string(words[1]);
    if (words[0] == "pending" && words.size() == 4) {
        record.kind = JournalRecord::Kind::kPending;
        if (!ParseNumber(words[2], record.size)) return;
        if (words[3] != "-") record.message_id = UnescapedWord(words[3]);
    } else if (words[0] == "done" && words.size() == 3) {
        record.kind = JournalRecord::Kind::kDone;
        if (!ParseNumber(words[2], record.uid)) return;
    } else if (words[0] == "dropped" && words.size() == 2) {
        record.kind = JournalRecord::Kind::kDropped;
    } else {
        return;
    }
    // Records of a folder the journal does not know the UIDVALIDITY of yet belong to no folder.
    if (state.uid_validity == 0) return;
    // Once done, a message stays done: a later pending record is a resend the crash cut short
    // and is decided by the server.
    const std::optional<JournalRecord> known = state.Find(record.digest);
    if (known && known->kind == JournalRecord::Kind::kDone && record.kind != JournalRecord::Kind::kDone) return;
    state.Set(record);
}

std::optional<DigestKey> KeyOf(std::string_view digest) {
    if (!IsDigest(digest)) return std::nullopt;
    DigestKey key;
    for (std::size_t i = 0; i < 64; ++i) {
        const char c = digest[i];
        const std::uint64_t nibble = static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
        key.words[i / 16] = (key.words[i / 16] << 4) | nibble;
    }
    return key;
}


std::string SafeForFileName(std::string_view text) {
    std::string name;
    for (char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '@' ||
                           c == '.' || c == '-' || c == '_';
        name += plain ? c : '_';
        if (name.size() >= 80) break;
    }
    return name;
}

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

}  // namespace

std::optional<JournalRecord> JournalState::Find(const std::string& digest) const {
    const std::optional<DigestKey> key = KeyOf(digest);
    if (!key) return std::nullopt;
    const auto found = entries.find(*key);
    if (found == entries.end()) return std::nullopt;
    if (found->second.kind == JournalRecord::Kind::kPending) return pending.at(*key);
    JournalRecord record;
    record.kind = found->second.kind;
    record.digest = digest;
    record.uid = found->second.uid;
    return record;
}

void JournalState::Set(const JournalRecord& record) {
    const std::optional<DigestKey> key = KeyOf(record.digest);
    if (!key) return;
    entries[*key] = Entry{record.kind, record.uid};
    if (record.kind == JournalRecord::Kind::kPending)
        pending[*key] = record;
    else
        pending.erase(*key);
}

void JournalState::Clear() {
    entries.clear();
    pending.clear();
}

std::vector<JournalRecord> JournalState::Pending() const {
    std::vector<JournalRecord> records;
    for (const auto& [key, record] : pending) records.push_back(record);
    return records;
}

std::vector<std::uint32_t> JournalState::DoneUids() const {
    std::vector<std::uint32_t> uids;
    for (const auto& [key, entry] : entries)
        if (entry.kind == JournalRecord::Kind::kDone && entry.uid != 0) uids.push_back(entry.uid);
    return uids;
}

JournalState ReadJournalText(std::string_view text) {
    JournalState state;
    std::size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) break;  // cut short by a crash
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (first) {
            if (line != kFirstLine) return state;
            state.is_journal = true;
            first = false;
            continue;
        }
        if (line.size() <= kMaxLineLength) ReadRecord(line, state);
    }
    return state;
}

std::string JournalStartText(const std::string& account, const std::string& mailbox) {
    return std::string(kFirstLine) + "\naccount " + OneLine(account) + "\nmailbox " + OneLine(mailbox) + "\n";
}

std::string UidValidityLine(std::uint32_t uid_validity) { return "uidvalidity " + std::to_string(uid_validity) + "\n"; }

std::string RecordLine(const JournalRecord& record) {
    switch (record.kind) {
        case JournalRecord::Kind::kPending:
            return "pending " + record.digest + " " + std::to_string(record.size) + " " +
                   (record.message_id.empty() ? "-" : EscapedWord(record.message_id)) + "\n";
        case JournalRecord::Kind::kDone: return "done " + record.digest + " " + std::to_string(record.uid) + "\n";
        case JournalRecord::Kind::kDropped: return "dropped " + record.digest + "\n";
    }
    return {};
}

std::string JournalPath(const std::string& folder, const std::string& account, const std::string& mailbox) {
    const std::string account_folder = SafeForFileName(account) + "-" + MessageDigest(account).substr(0, 12);
    return platform::JoinPath(platform::JoinPath(folder, account_folder), MessageDigest(mailbox).substr(0, 32) + ".journal");
}

UploadJournal::UploadJournal(const std::string& path, const std::string& account, const std::string& mailbox,
                             const std::function<void()>& waiting, const std::function<bool()>& give_up)
    : path_(path) {
    const std::string folder = path.substr(0, path.find_last_of(platform::kPathSeparator));
    if (!platform::IsDirectory(folder) && !platform::CreateDirectory(folder))
        throw std::runtime_error("the upload journal's folder " + folder + " cannot be made");
    lock_ = platform::FileLock::Acquire(path + ".lock", waiting, give_up);
    if (!lock_) throw std::runtime_error("stopped while another upload into the same folder was running");
    int error = file_.Open(path, platform::RandomAccessFile::Access::kReadWrite);
    bool made = false;
    if (error == ENOENT) {
        const int fd = platform::OpenOutputDescriptor(path, platform::OutputMode::kCreateNew, true, true);
        if (fd < 0) throw std::runtime_error("the upload journal " + path + " cannot be made: " + platform::ErrorText(-fd));
        file_ = platform::RandomAccessFile(fd);
        error = 0;
        made = true;
    }
    if (error != 0) throw std::runtime_error("the upload journal " + path + " cannot be opened: " + platform::ErrorText(error));
    if (const int size_error = file_.Size(size_); size_error != 0)
        throw std::runtime_error("the upload journal " + path + " cannot be read: " + platform::ErrorText(size_error));
    if (size_ > kMaxJournalSize) throw std::runtime_error("the upload journal " + path + " is too big to be one");
    std::string text(static_cast<std::size_t>(size_), '\0');
    const std::int64_t read = file_.ReadAt(text.data(), text.size(), 0);
    if (read < 0) throw std::runtime_error("the upload journal " + path + " cannot be read: " + platform::ErrorText(static_cast<int>(-read)));
    text.resize(static_cast<std::size_t>(read));
    state_ = ReadJournalText(text);
    if (!state_.is_journal) {
        // Empty (made now, or by a run that died at once), or not ours: begin it afresh, so
        // that what follows is read. The server is asked what it holds.
        if (!made && size_ != 0) throw std::runtime_error(path + " is not an upload journal; move it away to upload");
        Append(JournalStartText(account, mailbox));
        state_ = JournalState();
        state_.is_journal = true;
    } else if (!text.empty() && text.back() != '\n') {
        // A record cut short by a crash: ended here, so the next one starts on a line of its own.
        Append("\n");
    }
}

void UploadJournal::StartOver(std::uint32_t uid_validity) {
    Append(UidValidityLine(uid_validity));
    state_.uid_validity = uid_validity;
    state_.Clear();
}

void UploadJournal::Write(const std::vector<JournalRecord>& records) {
    std::string text;
    for (const JournalRecord& record : records) text += RecordLine(record);
    Append(text);
    for (const JournalRecord& record : records) state_.Set(record);
}

void UploadJournal::Append(const std::string& text) {
    if (text.empty()) return;
    int error = file_.WriteAt(text.data(), text.size(), size_);
    if (error == 0) error = file_.Sync();
    if (error != 0) throw std::runtime_error("the upload journal " + path_ + " cannot be written: " + platform::ErrorText(error));
    size_ += text.size();
}

}  // namespace imap
