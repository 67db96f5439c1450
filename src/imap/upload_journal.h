// What an upload has put into one folder of one account, kept on the user's disk so that no
// message is ever uploaded twice: before each APPEND the messages are written down as pending,
// after it as done with the UID the server gave them, and each time forced to the disk. A run
// after a crash finds the pending ones and asks the server whether they arrived.
//
// The journal is a text file of one record per line, only ever appended to:
//   ombrik upload journal 1            first line
//   account imaps://anna@host:993      the account and the folder, for the reader
//   mailbox Outlook Express.Inbox
//   uidvalidity 1796699749             the server's folder; a new value voids what came before
//   pending <digest> <size> <Message-ID or ->
//   done <digest> <uid>                (uid 0: the server did not say)
//   dropped <digest>                   refused by the server: not there
// A line cut short by a crash (no line end) is not read.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file_lock.h"
#include "platform/random_access_file.h"

namespace imap {

struct JournalRecord {
    enum class Kind { kPending, kDone, kDropped };
    Kind kind = Kind::kPending;
    std::string digest;
    std::uint32_t uid = 0;        // done
    std::uint64_t size = 0;       // pending
    std::string message_id;       // pending; empty when the message has none
};

// A message's digest as a key, in 32 bytes rather than 64 letters: a journal of a big folder is
// held in memory whole.
struct DigestKey {
    std::array<std::uint64_t, 4> words{};
    bool operator==(const DigestKey&) const = default;
};
struct DigestKeyHash {
    std::size_t operator()(const DigestKey& key) const { return static_cast<std::size_t>(key.words[0]); }
};

// What a journal's text says: whether it is one, the folder's UIDVALIDITY, and the last record
// of each message since the last UIDVALIDITY line.
struct JournalState {
    bool is_journal = false;
    std::uint32_t uid_validity = 0;

    // The last record of the message with this digest.
    std::optional<JournalRecord> Find(const std::string& digest) const;
    std::size_t size() const { return entries.size(); }
    void Set(const JournalRecord& record);
    void Clear();
    std::vector<JournalRecord> Pending() const;
    std::vector<std::uint32_t> DoneUids() const;

private:
    struct Entry {
        JournalRecord::Kind kind = JournalRecord::Kind::kPending;
        std::uint32_t uid = 0;
    };
    std::unordered_map<DigestKey, Entry, DigestKeyHash> entries;
    std::unordered_map<DigestKey, JournalRecord, DigestKeyHash> pending;  // what the pending ones need
};

JournalState ReadJournalText(std::string_view text);
std::string JournalStartText(const std::string& account, const std::string& mailbox);
std::string UidValidityLine(std::uint32_t uid_validity);
std::string RecordLine(const JournalRecord& record);

// The journal's file for a folder of an account, inside folder: a sub-folder per account and a
// file per folder, named by digests so that any name fits any file system.
std::string JournalPath(const std::string& folder, const std::string& account, const std::string& mailbox);

class UploadJournal {
public:
    // Opens the journal at path (made, with its folder, when missing), holding its lock so that
    // two uploads into one folder take turns: while another holds it, waiting() is called and
    // the open retries until give_up() says true. Throws std::runtime_error with the reason
    // when the journal cannot be read or made, or the wait was given up.
    UploadJournal(const std::string& path, const std::string& account, const std::string& mailbox,
                  const std::function<void()>& waiting, const std::function<bool()>& give_up);

    // 0 when the journal knows nothing of the folder yet.
    std::uint32_t uid_validity() const { return state_.uid_validity; }
    // The server's folder is not the one the journal knew (deleted and made again): what the
    // journal says of it no longer holds.
    void StartOver(std::uint32_t uid_validity);
    // The last record of the message with this digest.
    std::optional<JournalRecord> Find(const std::string& digest) const { return state_.Find(digest); }
    std::vector<JournalRecord> Pending() const { return state_.Pending(); }
    // The UIDs the done records name: messages of the folder that are known to be ours.
    std::vector<std::uint32_t> DoneUids() const { return state_.DoneUids(); }
    // Appends the records and forces them to the disk. Throws std::runtime_error when that fails:
    // without its record, an upload could not promise to leave nothing twice.
    void Write(const std::vector<JournalRecord>& records);
    const std::string& path() const { return path_; }

private:
    void Append(const std::string& text);

    std::string path_;
    std::unique_ptr<platform::FileLock> lock_;
    platform::RandomAccessFile file_;
    std::uint64_t size_ = 0;
    JournalState state_;
};

}  // namespace imap
