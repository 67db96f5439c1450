// The upload into one mailbox: what is there already is left alone, the rest goes in batches,
// each written down in the journal before and after, so that no message arrives twice whatever
// breaks and whenever.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "imap/imap_session.h"
#include "imap/upload_journal.h"
#include "imap/upload_message.h"

namespace imap {

class AccountUpload;

enum class Offered {
    kQueued,        // goes up with the next batch
    kAlreadyThere,  // the journal or the server holds it already
    kTooBig,        // larger than the server takes (APPENDLIMIT): not sent
    kStopped,       // the upload has stopped: not sent
};

// A message that was queued and did not reach the server.
struct NotUploaded {
    std::int32_t slot = 0;
    bool complete = true;
    std::string why;   // for a message the server refused
    bool stopped = false;  // not sent because the upload stopped (the stop itself says why)
};

// Messages per APPEND, and bytes: few enough that a batch lost with the connection costs little
// to check again, many enough that the server stores them in one go.
inline constexpr std::size_t kBatchMessages = 50;
inline constexpr std::size_t kBatchBytes = 4u << 20;

class FolderUpload {
public:
    // Opens the mailbox (made beforehand) and its journal in journal_folder, settles what an
    // earlier run left pending, and when the journal knows nothing of the folder reads once what
    // it holds. Throws Failure or std::runtime_error when the folder cannot be worked on.
    FolderUpload(AccountUpload& account, std::string mailbox, const std::string& journal_folder);

    Offered Offer(UploadMessage message);
    // Uploads what is queued; a failure that stops the upload is kept in the account.
    void Flush();
    // The queued messages that did not reach the server since the last call.
    std::vector<NotUploaded> TakeNotUploaded();

    std::size_t uploaded() const { return uploaded_; }
    const std::string& mailbox() const { return mailbox_; }

private:
    SelectedMailbox Select(Session& session);
    void ReadServerIndex(std::uint32_t exists);
    void SettlePending();
    // The UID of the message on the server that is this one (its Message-ID and size, or without
    // one its size and bytes), not yet claimed by another; nullopt when there is none.
    std::optional<std::uint32_t> LookUp(Session& session, const std::string& message_id, std::uint64_t size,
                                        const std::string& digest);
    std::optional<std::uint32_t> MatchInIndex(const UploadMessage& message);
    void SendAll(const std::vector<UploadMessage*>& batch);
    void Send(std::vector<UploadMessage*> batch);
    void Settle(const std::vector<UploadMessage*>& batch, const AppendOutcome& outcome);
    void Drop(const std::vector<UploadMessage*>& batch, const std::string& why, bool stopped = false);
    void StopWith(const std::string& why);

    AccountUpload& account_;
    std::string mailbox_;
    std::unique_ptr<UploadJournal> journal_;
    std::uint32_t uid_validity_ = 0;
    bool keywords_allowed_ = false;
    std::unordered_set<std::uint32_t> claimed_;  // server messages known to be one of ours
    // What the folder held when the journal knew nothing of it.
    std::unordered_multimap<std::string, std::pair<std::uint32_t, std::uint64_t>> index_by_id_;
    std::unordered_multimap<std::uint64_t, std::uint32_t> index_by_size_;  // messages without a Message-ID
    bool index_read_ = false;
    std::vector<UploadMessage> queue_;
    std::unordered_set<std::string> queued_digests_;
    std::size_t queued_bytes_ = 0;
    std::vector<JournalRecord> found_;  // matched in the index, not yet written down
    std::vector<NotUploaded> not_uploaded_;
    std::size_t uploaded_ = 0;
    bool remade_mailbox_ = false;
};

}  // namespace imap
