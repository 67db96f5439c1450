#include "imap/folder_upload.h"

#include <algorithm>

#include "imap/account_upload.h"
#include "imap/imap_failure.h"
#include "imap/imap_session.h"

namespace imap {

namespace {

// Sequence numbers per FETCH while reading what a folder holds.
constexpr std::uint32_t kIndexChunk = 1000;
// Messages of one size, without a Message-ID, whose bytes are compared at most.
constexpr std::size_t kMaxBodyComparisons = 8;

JournalRecord Pending(const UploadMessage& message) {
    JournalRecord record;
    record.kind = JournalRecord::Kind::kPending;
    record.digest = message.digest;
    record.size = message.bytes.size();
    record.message_id = message.message_id;
    return record;
}

JournalRecord Done(const std::string& digest, std::uint32_t uid) {
    JournalRecord record;
    record.kind = JournalRecord::Kind::kDone;
    record.digest = digest;
    record.uid = uid;
    return record;
}

JournalRecord Dropped(const std::string& digest) {
    JournalRecord record;
    record.kind = JournalRecord::Kind::kDropped;
    record.digest = digest;
    return record;
}

}  // namespace

FolderUpload::FolderUpload(AccountUpload& account, std::string mailbox, const std::string& journal_folder)
    : account_(account), mailbox_(std::move(mailbox)) {
    SelectedMailbox selected;
    account_.Retrying([&](Session& session) { selected = Select(session); });
    const UploadHooks& hooks = account_.hooks();
    try {
        journal_ = std::make_unique<UploadJournal>(
            JournalPath(journal_folder, account_.account_text(), mailbox_), account_.account_text(), mailbox_,
            [&] {
                if (hooks.status) hooks.status("Waiting for another upload into " + mailbox_ + " to finish ...");
            },
            [&] { return hooks.stop_requested && hooks.stop_requested(); });
    } catch (const std::runtime_error& error) {
        throw Failure(Failure::Kind::kJournal, error.what());
    }
    if (journal_->uid_validity() != uid_validity_) {
        // First upload into this folder, or the folder was made anew since: what the journal
        // said of it no longer holds, and the server says what is there.
        journal_->StartOver(uid_validity_);
        if (selected.exists != 0) ReadServerIndex(selected.exists);
    }
    for (std::uint32_t uid : journal_->DoneUids()) claimed_.insert(uid);
    SettlePending();
}

SelectedMailbox FolderUpload::Select(Session& session) {
    const SelectedMailbox selected = session.Select(mailbox_);
    if (uid_validity_ != 0 && selected.uid_validity != uid_validity_)
        throw Failure(Failure::Kind::kRefused, "the folder " + mailbox_ + " was deleted and made anew on the server while the upload ran");
    uid_validity_ = selected.uid_validity;
    keywords_allowed_ = selected.keywords_allowed;
    return selected;
}

void FolderUpload::ReadServerIndex(std::uint32_t exists) {
    if (account_.hooks().status) account_.hooks().status("Reading what " + mailbox_ + " holds on the server ...");
    for (std::uint32_t first = 1; first <= exists; first += kIndexChunk) {
        const std::uint32_t last = std::min(exists, first + kIndexChunk - 1);
        std::vector<ServerMessage> messages;
        account_.Retrying([&](Session& session) { messages = session.FetchIndex(first, last); },
                          [&](Session& session) { Select(session); });
        for (ServerMessage& message : messages) {
            if (message.message_id.empty())
                index_by_size_.emplace(message.size, message.uid);
            else
                index_by_id_.emplace(std::move(message.message_id), std::make_pair(message.uid, message.size));
        }
    }
    index_read_ = true;
}

std::optional<std::uint32_t> FolderUpload::LookUp(Session& session, const std::string& message_id, std::uint64_t size,
                                                  const std::string& digest) {
    if (!message_id.empty()) {
        for (const ServerMessage& found : session.FetchByUid(session.SearchMessageId(message_id)))
            if (found.size == size && found.message_id == message_id && claimed_.count(found.uid) == 0) return found.uid;
        return std::nullopt;
    }
    std::size_t compared = 0;
    for (std::uint32_t uid : session.SearchSize(size)) {
        if (claimed_.count(uid) != 0) continue;
        if (++compared > kMaxBodyComparisons) break;
        const std::optional<std::string> bytes = session.FetchMessage(uid);
        if (bytes && MessageDigest(*bytes) == digest) return uid;
    }
    return std::nullopt;
}

void FolderUpload::SettlePending() {
    const std::vector<JournalRecord> pending = journal_->Pending();
    if (pending.empty()) return;
    if (account_.hooks().status)
        account_.hooks().status("Checking on the server " + std::to_string(pending.size()) + " messages an earlier upload left unfinished ...");
    std::vector<JournalRecord> settled;
    for (const JournalRecord& record : pending) {
        std::optional<std::uint32_t> uid;
        account_.Retrying([&](Session& session) { uid = LookUp(session, record.message_id, record.size, record.digest); },
                          [&](Session& session) { Select(session); });
        if (uid) claimed_.insert(*uid);
        settled.push_back(uid ? Done(record.digest, *uid) : Dropped(record.digest));
    }
    journal_->Write(settled);
}

std::optional<std::uint32_t> FolderUpload::MatchInIndex(const UploadMessage& message) {
    if (!message.message_id.empty()) {
        auto [begin, end] = index_by_id_.equal_range(message.message_id);
        for (auto at = begin; at != end; ++at)
            if (at->second.second == message.bytes.size() && claimed_.count(at->second.first) == 0) return at->second.first;
        return std::nullopt;
    }
    std::optional<std::uint32_t> match;
    auto [begin, end] = index_by_size_.equal_range(message.bytes.size());
    std::size_t compared = 0;
    for (auto at = begin; at != end && !match && compared < kMaxBodyComparisons; ++at) {
        if (claimed_.count(at->second) != 0) continue;
        ++compared;
        const std::uint32_t uid = at->second;
        account_.Retrying(
            [&](Session& session) {
                const std::optional<std::string> bytes = session.FetchMessage(uid);
                if (bytes && MessageDigest(*bytes) == message.digest) match = uid;
            },
            [&](Session& session) { Select(session); });
    }
    return match;
}

Offered FolderUpload::Offer(UploadMessage message) {
    if (account_.stopped()) return Offered::kStopped;
    try {
        const std::optional<JournalRecord> record = journal_->Find(message.digest);
        if ((record && record->kind == JournalRecord::Kind::kDone) || queued_digests_.count(message.digest) != 0)
            return Offered::kAlreadyThere;
        if (index_read_) {
            if (const std::optional<std::uint32_t> uid = MatchInIndex(message)) {
                // Written with the next batch's records: lost in a crash, it is only found again.
                claimed_.insert(*uid);
                found_.push_back(Done(message.digest, *uid));
                if (found_.size() >= kBatchMessages) {
                    journal_->Write(found_);
                    found_.clear();
                }
                return Offered::kAlreadyThere;
            }
        }
    } catch (const std::exception& error) {
        StopWith(error.what());
        return Offered::kStopped;
    }
    const std::uint64_t limit = account_.session().append_limit();
    if (limit != 0 && message.bytes.size() > limit) return Offered::kTooBig;
    message.flags = ImapFlags(message.state, keywords_allowed_);
    queued_bytes_ += message.bytes.size();
    queued_digests_.insert(message.digest);
    queue_.push_back(std::move(message));
    if (queue_.size() >= kBatchMessages || queued_bytes_ >= kBatchBytes) Flush();
    return Offered::kQueued;
}

void FolderUpload::Flush() {
    bool fate_unknown = false;
    try {
        if (!found_.empty()) journal_->Write(found_);
        found_.clear();
        if (!queue_.empty() && !account_.stopped()) {
            std::vector<UploadMessage*> batch;
            std::vector<JournalRecord> pending;
            for (UploadMessage& message : queue_) {
                batch.push_back(&message);
                pending.push_back(Pending(message));
            }
            journal_->Write(pending);
            SendAll(batch);
        }
    } catch (const std::exception& error) {
        // What was under way may or may not have arrived: its records stay pending, and the
        // next run asks the server. Nothing more is sent in this run.
        StopWith(error.what());
        fate_unknown = true;
    }
    // What is still queued did not go (the upload stopped before it).
    std::vector<JournalRecord> unsent;
    for (const UploadMessage& message : queue_) {
        if (queued_digests_.count(message.digest) == 0) continue;
        not_uploaded_.push_back({message.slot, message.complete, {}, true});
        unsent.push_back(Dropped(message.digest));
    }
    if (!fate_unknown && !unsent.empty()) {
        try {
            journal_->Write(unsent);
        } catch (const std::exception& error) {
            StopWith(error.what());  // pending records are checked on the server by the next run
        }
    }
    queue_.clear();
    queued_digests_.clear();
    queued_bytes_ = 0;
}

void FolderUpload::SendAll(const std::vector<UploadMessage*>& batch) {
    if (account_.session().batches_appends()) {
        Send(batch);
        return;
    }
    for (UploadMessage* message : batch) {
        if (account_.stopped()) return;
        Send({message});
    }
}

void FolderUpload::Send(std::vector<UploadMessage*> batch) {
    AppendOutcome outcome;
    account_.Retrying(
        [&](Session& session) {
            if (batch.empty()) return;
            outcome = session.Append(mailbox_, std::vector<const UploadMessage*>(batch.begin(), batch.end()));
        },
        [&](Session& session) {
            // The batch may have arrived before the connection broke: what is on the server now
            // is settled, and only the rest is sent again.
            Select(session);
            std::vector<JournalRecord> found;
            std::vector<UploadMessage*> rest;
            for (UploadMessage* message : batch) {
                const std::optional<std::uint32_t> uid = LookUp(session, message->message_id, message->bytes.size(), message->digest);
                if (uid) {
                    claimed_.insert(*uid);
                    found.push_back(Done(message->digest, *uid));
                    queued_digests_.erase(message->digest);
                    ++uploaded_;
                    account_.CountUploaded(1);
                } else {
                    rest.push_back(message);
                }
            }
            journal_->Write(found);
            batch = std::move(rest);
        });
    if (!batch.empty()) Settle(batch, outcome);
}

void FolderUpload::Settle(const std::vector<UploadMessage*>& batch, const AppendOutcome& outcome) {
    using Result = AppendOutcome::Result;
    switch (outcome.result) {
        case Result::kAppended: {
            std::vector<JournalRecord> done;
            for (std::size_t i = 0; i < batch.size(); ++i) {
                const std::uint32_t uid = outcome.uids.size() == batch.size() ? outcome.uids[i] : 0;
                if (uid != 0) claimed_.insert(uid);
                done.push_back(Done(batch[i]->digest, uid));
                queued_digests_.erase(batch[i]->digest);
            }
            journal_->Write(done);
            uploaded_ += batch.size();
            account_.CountUploaded(batch.size());
            return;
        }
        case Result::kOverQuota:
            Drop(batch, {}, true);
            StopWith("the server took no more messages: the account is full or a limit of the provider was reached (" +
                     outcome.server_text + ")");
            return;
        case Result::kNoMailbox:
            if (!remade_mailbox_) {
                remade_mailbox_ = true;
                account_.Retrying([&](Session& session) { session.Create(mailbox_); });
                Send(batch);
                return;
            }
            [[fallthrough]];
        case Result::kTooBig:
        case Result::kRefused:
            if (batch.size() > 1) {
                // One message spoilt the batch: each goes alone, so that only that one is lost.
                for (UploadMessage* message : batch) {
                    if (account_.stopped()) return;
                    Send({message});
                }
                return;
            }
            Drop(batch, outcome.result == Result::kTooBig
                            ? "too big for the server (" + std::to_string(batch.front()->bytes.size()) + " bytes)"
                            : "refused by the server (" + outcome.server_text + ")");
            return;
    }
}

void FolderUpload::Drop(const std::vector<UploadMessage*>& batch, const std::string& why, bool stopped) {
    std::vector<JournalRecord> dropped;
    for (const UploadMessage* message : batch) {
        dropped.push_back(Dropped(message->digest));
        queued_digests_.erase(message->digest);
        not_uploaded_.push_back({message->slot, message->complete, why, stopped});
    }
    journal_->Write(dropped);
}

void FolderUpload::StopWith(const std::string& why) { account_.Stop(why); }

std::vector<NotUploaded> FolderUpload::TakeNotUploaded() {
    std::vector<NotUploaded> taken;
    taken.swap(not_uploaded_);
    return taken;
}

}  // namespace imap
