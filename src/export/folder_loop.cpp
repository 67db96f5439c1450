#include "export/folder_loop.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "conversion/conversion_window.h"
#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "dbx/dbx_failure.h"
#include "dbx/dbx_file_kind.h"
#include "dbx/dbx_scan.h"
#include "export/folder_places.h"
#include "export/message_manifest.h"
#include "export/output_naming.h"
#include "export/source_digests.h"
#include "export/written_messages.h"
#include "platform/file_checks.h"
#include "platform/file_stream.h"
#include "platform/paths.h"
#include "store/store_failure.h"
#include "store/mime/mime_import.h"

namespace {

// Messages read ahead of the writer per preparing thread: enough that a worker rarely waits for
// the writer to take the oldest one, few enough that memory stays small.
constexpr std::size_t kMessagesInFlightPerWorker = 8;
// And at most this much message text in flight, however large the messages (one is always let
// through): a folder of big messages costs no more memory than one of small ones.
constexpr std::size_t kTextBytesInFlight = 16u << 20;

// The progress bar position before each item: 1, 2, ..., 98, 1, 2, ... It shows activity,
// not a fraction of the folder.
class ProgressCounter {
public:
    int Next() {
        if (++position_ == 99) position_ = 1;
        return position_;
    }

private:
    int position_ = 0;
};

// The folder file at path, when it is a plain file we may read; otherwise nullptr, without
// opening anything (a FIFO would block the whole job). It is opened once: told apart from other
// files and then read through the same stream.
std::FILE* OpenFolderStream(const std::string& path) {
    if (!platform::ReadableFileRefusal(path).empty()) return nullptr;
    return platform::OpenFileStream(path, "rb");
}

// The stream read as a mail folder (the reader takes it), or nullptr with dbx_errno set. The
// index is the truth and the header's count a hint, as a count can be wrong in a file whose
// index is whole; each text block goes to the first record that reaches it, so that a chain
// shared by many records is written once.
DbxReader* OpenFolderFile(std::FILE* stream) {
    if (stream == nullptr) {
        dbx_errno = 1;
        return nullptr;
    }
    DbxOpenOptions options(DbxCountCheck::TreeIsTruth);
    options.kind = DbxKind::Email;
    options.claim_text_blocks = true;
    DbxReader* reader = dbx_open_stream_with(stream, options);
    if (reader == nullptr) std::fclose(stream);
    return reader;
}

// The file's name for a note or a reason: its last component, or the path as given when that
// has none.
std::string FileNameOf(const std::string& path) {
    const std::string name = platform::LastPathComponent(path);
    return name.empty() ? path : name;
}

// An open folder file and the one item held from it; both are released whichever way the
// folder ends.
class FolderReader {
public:
    explicit FolderReader(std::FILE* stream) : reader_(OpenFolderFile(stream)) {}
    ~FolderReader() {
        JoinScan();
        dbx_free(item_);
        dbx_scan_free(scan_);
        if (reader_ != nullptr) dbx_close(reader_);
    }
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;

    bool is_open() const { return reader_ != nullptr; }
    std::int32_t item_count() const { return reader_->item_count; }

    // Releases the previous item and fetches slot; false (with dbx_errno set) when the fetch failed.
    bool Fetch(std::int32_t slot) {
        dbx_free(item_);
        item_ = dbx_get(reader_, slot);
        return dbx_errno == 0 && item_ != nullptr;
    }
    DbxEmail* email() const { return dynamic_cast<DbxEmail*>(item_); }
    const DbxReader& reader() const { return *reader_; }
    // A read came back short: the file shrank or failed under the reader. Costs no system call.
    bool CutShort() const { return reader_->cut_short; }
    // CutShort, or the file's size or time changed since the open.
    bool Changed() const { return dbx_file_changed(reader_); }

    // Starts the one pass over the whole file for the message texts the index does not reach.
    // With apart, and a file read by positioned reads, it runs on a thread of its own with a
    // read window of its own, beside the walk over the slots: the scan costs about as much as
    // a whole export of a folder of large messages, and the machine has a core to spare for it.
    // A digest feed, when given, gets every byte the scan reads and is finished as the scan ends,
    // on the scan's thread: the walk may be waiting for it.
    void StartScan(bool apart, std::unique_ptr<DigestFeed> feed = nullptr) {
        if (scan_ != nullptr || scan_thread_.joinable()) return;
        feed_ = std::move(feed);
        if (apart && dbx_scan_can_read_apart(reader_)) {
            try {
                scan_thread_ = std::thread([this] {
                    apart_scan_ = dbx_scan_apart(reader_, false, BytesSeen());
                    FinishFeed(dbx_scan_cut_short(apart_scan_));
                    scan_done_.store(true, std::memory_order_release);
                });
                return;
            } catch (const std::system_error&) {
                // No thread to be had: the scan runs here.
            }
        }
        Scan();
    }
    // The scan once it has finished; nullptr while it still runs, or when none was started.
    DbxScan* FinishedScan() {
        if (scan_thread_.joinable() && scan_done_.load(std::memory_order_acquire)) JoinScan();
        return scan_thread_.joinable() ? nullptr : scan_;
    }
    // The scan, waited for when it runs apart; freed before the reader it reads through.
    DbxScan* Scan() {
        JoinScan();
        if (scan_ == nullptr) {
            scan_ = dbx_scan(reader_, false, BytesSeen());
            FinishFeed(reader_->cut_short);
        }
        return scan_;
    }

private:
    DbxBytesSeen BytesSeen() {
        if (!feed_) return {};
        return [feed = feed_.get()](const char* data, std::size_t size) { feed->Update(data, size); };
    }
    // Whole when every byte of the file as opened came through; else the feed reads the file.
    void FinishFeed(bool cut_short) {
        if (!feed_) return;
        feed_->Finish(!cut_short && reader_->file_size >= 0 && feed_->fed() == static_cast<std::uint64_t>(reader_->file_size));
        feed_.reset();
    }

    // The reads of a scan apart count as the reader's own: a file that came back short to the
    // scan is a file that changed under the conversion.
    void JoinScan() {
        if (!scan_thread_.joinable()) return;
        scan_thread_.join();
        scan_ = apart_scan_;
        if (dbx_scan_cut_short(scan_)) reader_->cut_short = true;
    }

    DbxReader* reader_;
    DbxItem* item_ = nullptr;
    DbxScan* scan_ = nullptr;
    std::thread scan_thread_;
    DbxScan* apart_scan_ = nullptr;  // written by the scan's thread, read after scan_done_
    std::atomic<bool> scan_done_{false};
    std::unique_ptr<DigestFeed> feed_;  // used by the scan's thread while it runs
};

// The fields a sink uses, moved out of the item the reader releases at the next fetch.
FolderMessage TakeMessage(std::int32_t slot, DbxEmail& email) {
    FolderMessage message;
    message.slot = slot;
    message.text = std::move(email.message_text);
    message.subject = std::move(email.subject);
    message.sender_address = std::move(email.sender_address);
    message.date = email.date;
    message.text_complete = email.text_complete;
    // A record without the flags word kept no state; its priority may still be there. A flags
    // word of 0 is a message never opened.
    message.state.known = email.state_stored;
    message.state.received_time = email.date;
    message.state.read = email.read;
    message.state.flagged = email.flagged;
    message.state.replied = email.replied;
    message.state.forwarded = email.forwarded;
    message.state.draft = email.draft;
    message.state.priority = email.priority;
    return message;
}

// One slot as the reader left it, waiting for its turn at the writer.
struct SlotEntry {
    enum class Kind { kEmail, kOther, kFetchFailed } kind = Kind::kOther;
    std::int32_t slot = 0;
    int fetch_error = 0;
    bool file_cut_short = false;  // the fetch found the file shorter than at the open
    std::size_t text_size = 0;
    PreparedMessage prepared;
    bool ready = false;  // guarded by the workers' mutex
};

// The keys of the messages that reached an output, until its End: whole for the destination's
// written messages, only when it keeps them, and short for its memory of folders, so that a
// folder of many messages costs 8 bytes a message here.
struct MessageKeys {
    std::vector<std::string> whole;
    std::vector<std::uint64_t> short_keys;
    void clear() {
        whole.clear();
        short_keys.clear();
    }
};

// The sink's preparation of a message, and with keys its key, where the walk keeps them: both
// are work on the message alone, done on whichever thread prepares it rather than on the writer.
void PrepareMessage(MessageSink& sink, PreparedMessage& message, bool keys) {
    try {
        sink.Prepare(message);
        if (keys && message.failure.empty())
            message.key = WrittenMessages::KeyOf(message.message.text ? std::string_view(*message.message.text)
                                                                      : std::string_view());
    } catch (const std::exception& error) {
        message.failure = store::DescribeFailure(error);
    }
}

// What an entry was counted at when it was read; its text may have been moved on since.
std::size_t TextSize(const SlotEntry& entry) { return entry.text_size; }

// Worker threads that prepare messages; the writer takes them back in the order given and
// prepares the oldest waiting one itself rather than wait idle.
class PrepareWorkers {
public:
    PrepareWorkers(unsigned count, MessageSink& sink, bool keys) : sink_(sink), keys_(keys) {
        for (unsigned i = 0; i < count; ++i) threads_.emplace_back([this] { Run(); });
    }
    ~PrepareWorkers() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        work_ready_.notify_all();
        for (auto& thread : threads_) thread.join();
    }
    PrepareWorkers(const PrepareWorkers&) = delete;
    PrepareWorkers& operator=(const PrepareWorkers&) = delete;

    // Hands over the messages of one read-ahead at once. A worker woken for each message as it
    // is read would prepare it before the next is read and sleep again: a sleep, a wake-up and
    // (on a busy core) a switch away from the writer per message, which cost more than a small
    // message's preparation.
    void Submit(std::vector<SlotEntry*>& entries) {
        if (entries.empty()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.insert(queue_.end(), entries.begin(), entries.end());
        }
        if (entries.size() > 1 && threads_.size() > 1)
            work_ready_.notify_all();
        else
            work_ready_.notify_one();
        entries.clear();
    }
    void MarkReady(SlotEntry* entry) {
        std::lock_guard<std::mutex> lock(mutex_);
        entry->ready = true;
    }
    // The writer's wait: rather than sleep while entry is being prepared, it prepares the
    // oldest message no worker has taken yet, so the writer's core is never idle while there is
    // work (and a sleep and a wake-up per message, which cost as much as a small message's
    // preparation, are rare).
    void WaitFor(const SlotEntry& entry) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!entry.ready) {
            if (queue_.empty()) {
                awaited_ = &entry;
                entry_done_.wait(lock, [&] { return entry.ready; });
                awaited_ = nullptr;
                continue;
            }
            SlotEntry* oldest = queue_.front();
            queue_.pop_front();
            lock.unlock();
            PrepareGuarded(oldest->prepared);
            lock.lock();
            oldest->ready = true;
        }
    }

private:
    void Run() {
        for (;;) {
            SlotEntry* entry = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                work_ready_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
                if (stopping_) return;
                entry = queue_.front();
                queue_.pop_front();
            }
            PrepareGuarded(entry->prepared);
            bool awaited;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                entry->ready = true;
                awaited = awaited_ == entry;
            }
            // Only the writer waits, and only for the oldest entry: waking it for any other
            // would cost a context switch per message for nothing.
            if (awaited) entry_done_.notify_one();
        }
    }
    void PrepareGuarded(PreparedMessage& message) { PrepareMessage(sink_, message, keys_); }

    MessageSink& sink_;
    const bool keys_;
    std::mutex mutex_;
    std::condition_variable work_ready_, entry_done_;
    std::deque<SlotEntry*> queue_;
    const SlotEntry* awaited_ = nullptr;  // the entry the writer waits for, if it waits
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// What Write took that reached the output: all of it, but for what a batching sink lost after.
std::size_t Delivered(const MessageSink& sink, std::size_t written) {
    return written - std::min(written, sink.LostAfterWrite());
}

// The walk itself; the writer's side of it is the same with or without worker threads, so the
// window, the files and the tally see exactly the same sequence either way.
class FolderWalk {
public:
    FolderWalk(ExportContext& context, const std::string& dbx_path, MessageSink& sink,
               const std::optional<AttachmentsPlace>& attachments)
        : context_(context),
          window_(context.window),
          tally_(context.tally),
          settings_(context.settings),
          manifest_(context.manifest),
          written_messages_(context.written),
          folder_keys_(context.folder_keys),
          dbx_path_(dbx_path),
          sink_(sink),
          attachments_place_(context.settings.extract_attachments ? attachments : std::nullopt) {
        if (attachments_place_) live_attachments_.emplace(context, *attachments_place_, false);
    }

    // True when every slot was visited.
    bool Run(FolderReader& folder) {
        folder_ = &folder;
        item_count_ = folder.item_count();
        message_count_ = static_cast<std::size_t>(item_count_);
        const unsigned workers = sink_.PreparesAhead() ? WorkerThreadCount(settings_.threads) : 1;
        return workers <= 1 ? RunInline(folder) : RunWithWorkers(folder, workers);
    }
    std::size_t written() const { return written_; }
    // After the walk: a file that changed while it was read (grew, changed in place, or shrank
    // after its last read) is counted as a failure too, once.
    void CheckUnchanged(const FolderReader& folder) {
        if (!file_failed_ && folder.Changed()) FileCutShort();
    }
    bool file_failed() const { return file_failed_; }
    // After End said the output survived: the live messages that reached it go into the manifest.
    void RecordWritten(const MessageSink& sink) { Record(sink, entries_, keys_); }

    // After the slots: each message the scan found goes through the sink's recovered sink, in
    // file order, numbered on from the last slot, with the live messages' rules for the status
    // line, failures and the exit request. True when every found message was visited.
    bool Recover(DbxScan* scan, MessageSink& live_sink) {
        std::unique_ptr<MessageSink> sink = live_sink.RecoveredSink();
        if (!sink) return true;
        std::size_t written = 0;
        std::vector<ManifestEntry> entries;
        MessageKeys keys;
        std::optional<AttachmentFiles> attachments;
        if (attachments_place_) attachments.emplace(context_, *attachments_place_, true);
        try {
            if (!sink->Begin()) return true;
            bool completed = true;
            std::int32_t slot = item_count_;
            DbxFoundMessage found;
            // dbx_scan_next ends after the chains it found, each given once.
            while (dbx_scan_next(scan, found)) {
                if (found.fragment) continue;  // no header to name, date or tell it by
                if (!StartItem()) {
                    completed = false;
                    break;
                }
                PreparedMessage prepared;
                prepared.message = FoundFolderMessage(slot++, std::move(found.text), found.partial, settings_.codepage);
                prepared.message.found_at = found.head_offset;
                PrepareMessage(*sink, prepared, KeepsKeys());
                WriteMessage(*sink, prepared, written, entries, keys, true, attachments ? &*attachments : nullptr);
            }
            if (sink->End()) {
                CountRecovered(*sink, Delivered(*sink, written));
                Record(*sink, entries, keys);
            }
            return completed;
        } catch (const std::exception& error) {
            tally_.CountFailure(dbx_path_, error.what());
            if (sink->ResetsProgressOnFailure()) window_.SetProgress(0);
            try {
                if (sink->End()) {
                    CountRecovered(*sink, Delivered(*sink, written));
                    Record(*sink, entries, keys);
                }
            } catch (const std::exception& end_error) {
                tally_.CountFailure("output", end_error.what());
            }
            return false;
        }
    }

private:
    // A recovered message is written and recovered: the summary's written count stays the
    // number of messages in the output, and the recovered count says how many of them only the
    // scan found.
    // A recovered MBOX found in place already, identical, counts as already there.
    void CountRecovered(const MessageSink& sink, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            if (sink.OutputWasThere()) {
                tally_.CountAlreadyThere();
                continue;
            }
            tally_.CountMessage();
            tally_.CountRecovered();
        }
    }

    bool RunInline(FolderReader& folder) {
        for (std::int32_t slot = item_count_ - 1; slot >= 0; --slot) {
            if (!StartItem()) return false;
            if (!folder.Fetch(slot)) {
                if (folder.CutShort()) return FileCutShort();
                if (!FetchFailed(slot, dbx_errno)) return false;
                continue;
            }
            if (DbxEmail* email = folder.email()) {
                PreparedMessage prepared;
                prepared.message = TakeMessage(slot, *email);
                PrepareMessage(sink_, prepared, KeepsKeys());
                WriteMessage(sink_, prepared, written_, entries_, keys_, false, LiveAttachments());
            }
            if (folder.CutShort()) return FileCutShort();
        }
        return true;
    }

    // thread_count threads prepare: the writer, while it waits, and thread_count - 1 workers.
    bool RunWithWorkers(FolderReader& folder, unsigned thread_count) {
        const std::size_t in_flight_limit = kMessagesInFlightPerWorker * thread_count;
        std::deque<std::unique_ptr<SlotEntry>> in_flight;
        PrepareWorkers workers(thread_count - 1, sink_, KeepsKeys());
        std::vector<SlotEntry*> read_ahead;
        read_ahead.reserve(in_flight_limit);
        std::int32_t next_slot = item_count_ - 1;
        std::size_t text_bytes = 0;
        bool reading = true;
        for (;;) {
            // Read ahead in batches, once half the messages in flight are written: a worker that
            // ran out of work is then woken once for several messages, not once for each.
            const bool refill = in_flight.size() <= in_flight_limit / 2;
            while (refill && reading && in_flight.size() < in_flight_limit &&
                   (in_flight.empty() || text_bytes < kTextBytesInFlight) && !window_.StopRequested()) {
                if (next_slot < 0) {
                    reading = false;
                    break;
                }
                auto entry = std::make_unique<SlotEntry>();
                entry->slot = next_slot;
                if (!folder.Fetch(next_slot)) {
                    entry->kind = SlotEntry::Kind::kFetchFailed;
                    entry->fetch_error = dbx_errno;
                    reading = settings_.recover;
                } else if (DbxEmail* email = folder.email()) {
                    entry->kind = SlotEntry::Kind::kEmail;
                    entry->prepared.message = TakeMessage(next_slot, *email);
                    entry->text_size = entry->prepared.message.text ? entry->prepared.message.text->size() : 0;
                }
                if (folder.CutShort()) {
                    entry->file_cut_short = true;
                    reading = false;
                }
                --next_slot;
                text_bytes += TextSize(*entry);
                SlotEntry* raw = entry.get();
                in_flight.push_back(std::move(entry));
                if (raw->kind == SlotEntry::Kind::kEmail)
                    read_ahead.push_back(raw);
                else
                    workers.MarkReady(raw);
            }
            workers.Submit(read_ahead);
            // Nothing read ahead while slots remain: the exit request stopped the reading.
            if (in_flight.empty()) return next_slot < 0;
            // On a stop the workers may still hold entries behind this one: `workers` is
            // declared after `in_flight`, so its threads are joined before the entries go.
            SlotEntry& entry = *in_flight.front();
            workers.WaitFor(entry);
            if (!StartItem()) return false;
            if (entry.kind == SlotEntry::Kind::kFetchFailed && !entry.file_cut_short &&
                !FetchFailed(entry.slot, entry.fetch_error))
                return false;
            if (entry.kind == SlotEntry::Kind::kEmail)
                WriteMessage(sink_, entry.prepared, written_, entries_, keys_, false, LiveAttachments());
            if (entry.file_cut_short) return FileCutShort();
            text_bytes -= TextSize(entry);
            in_flight.pop_front();
        }
    }

    // Before each item: the exit request, the job's progress and the bar. False: stop here.
    bool StartItem() {
        if (window_.StopRequested()) return false;
        ++position_;
        CountFound();
        window_.ShowJobProgress(dbx_path_, position_, message_count_);
        window_.SetProgress(progress_.Next());
        return true;
    }

    // The "n of N" counts the messages recovery adds after the slots once the scan has found
    // them: from the start when it ran before the walk, from when it ends when it runs beside.
    void CountFound() {
        if (found_counted_ || folder_ == nullptr) return;
        if (DbxScan* scan = folder_->FinishedScan()) {
            message_count_ += dbx_scan_stats(scan).found;
            found_counted_ = true;
        }
    }

    // The folder file shrank or failed under the reader: what is left of it cannot be trusted,
    // so the folder ends here, with the file counted as a failure once. Returns false.
    bool FileCutShort() {
        if (!file_failed_) tally_.CountFailure(dbx_path_, dbx_failure_words(static_cast<int>(DbxFailure::DataUnreadable)));
        file_failed_ = true;
        return false;
    }

    // Counts the failed fetch; true when the walk goes on. A record that cannot be read ends the
    // folder, except in recover mode, where it costs only itself: the scan then finds its text,
    // which no readable record claims.
    bool FetchFailed(std::int32_t slot, int error) {
        dbx_errno = error;
        dbx_perror("dbx_get");
        tally_.CountFailure(dbx_path_, "message " + std::to_string(slot) + ": " + dbx_failure_words(error));
        return settings_.recover;
    }

    // entries, keys: where the message's manifest entry and its key among the destination's
    // written messages wait for the sink's End, when the run keeps them.
    // attachments: where the message's attachments are saved, when the job saves them.
    void WriteMessage(MessageSink& sink, PreparedMessage& prepared, std::size_t& written,
                      std::vector<ManifestEntry>& entries, MessageKeys& keys, bool recovered,
                      AttachmentFiles* attachments) {
        const FolderMessage& message = prepared.message;
        window_.SetStatusText(sink.StatusTextOf(prepared));
        // Made by the preparation, before the write, which may take the text on.
        std::string key;
        if (KeepsKeys() && prepared.failure.empty())
            key = prepared.key ? std::move(*prepared.key)
                               : WrittenMessages::KeyOf(message.text ? std::string_view(*message.text) : std::string_view());
        if (written_messages_ != nullptr && prepared.failure.empty()) {
            if (source_digest_.empty())
                source_digest_ = context_.digests != nullptr ? context_.digests->Now(dbx_path_)
                                                             : written_messages_->SourceDigest(dbx_path_);
            if (written_messages_->WrittenByAnother(key, source_digest_)) {
                tally_.CountDuplicate();
                return;
            }
        }
        std::optional<ManifestEntry> entry;
        if (manifest_ != nullptr && prepared.failure.empty())
            entry = DescribeMessage(dbx_path_, message, recovered, settings_.codepage);
        // Read before the write, which may take the text on; saved only once the message is in
        // its output (written, found there, or written as far as it goes).
        MessageAttachments found;
        if (attachments != nullptr && prepared.failure.empty()) found = attachments->Find(message);
        std::string failure = prepared.failure;
        if (failure.empty()) {
            try {
                failure = sink.Write(prepared);
            } catch (const std::exception& error) {
                // One failed message does not cost the rest of the folder.
                failure = store::DescribeFailure(error);
            }
        }
        // A damaged message is a failure on every run: that what could be read of it is in
        // place already from an earlier run makes it no more whole.
        if (!failure.empty())
            tally_.CountFailure(sink.FailureSubject(message), failure);
        else if (!message.text_complete)
            tally_.CountFailure(sink.FailureSubject(message), "message text damaged in the folder file");
        else if (prepared.already_there)
            tally_.CountAlreadyThere();
        else
            ++written;
        if (!failure.empty()) return;
        if (!key.empty()) {
            if (folder_keys_ != nullptr) keys.short_keys.push_back(FolderPlaces::ShortKey(key));
            if (written_messages_ != nullptr) keys.whole.push_back(std::move(key));
        }
        const std::vector<SavedAttachment> saved =
            attachments != nullptr ? attachments->Save(found, prepared.output_path, entry.has_value())
                                   : std::vector<SavedAttachment>();
        if (!entry) return;
        entry->outcome = !message.text_complete ? kOutcomeDamaged : prepared.already_there ? kOutcomeAlreadyThere : kOutcomeWritten;
        entry->output = std::move(prepared.output_path);
        entry->output_folder = std::move(prepared.output_folder);
        entries.push_back(*entry);
        for (const SavedAttachment& attachment : saved) {
            ManifestEntry row = *entry;
            row.outcome = attachment.already_there ? kOutcomeAttachmentThere : kOutcomeAttachmentWritten;
            row.size = attachment.size;
            row.sha256 = attachment.sha256;
            row.output = attachment.path;
            row.output_folder.clear();
            entries.push_back(std::move(row));
        }
    }

    // Whether the messages' keys are wanted: for the destination's written messages or its
    // memory of folders.
    bool KeepsKeys() const { return written_messages_ != nullptr || folder_keys_ != nullptr; }

    AttachmentFiles* LiveAttachments() { return live_attachments_ ? &*live_attachments_ : nullptr; }

    // The entries of messages whose output survived the sink's End, with the folder's file for
    // a form that names it only then.
    // A message counts as written by this folder file only once its output survived too.
    void Record(const MessageSink& sink, std::vector<ManifestEntry>& entries, MessageKeys& keys) {
        if (written_messages_ != nullptr)
            for (const std::string& key : keys.whole) written_messages_->Remember(key, source_digest_);
        if (folder_keys_ != nullptr)
            folder_keys_->insert(folder_keys_->end(), keys.short_keys.begin(), keys.short_keys.end());
        keys.clear();
        if (manifest_ == nullptr) return;
        const std::string folder_output = sink.FolderOutputPath();
        for (ManifestEntry& entry : entries) {
            if (entry.output.empty()) entry.output = folder_output;
            if (sink.OutputWasThere() && entry.outcome == kOutcomeWritten) entry.outcome = kOutcomeAlreadyThere;
            manifest_->Add(std::move(entry));
        }
        entries.clear();
    }

    ExportContext& context_;
    ConversionWindow& window_;
    JobTally& tally_;
    const JobSettings& settings_;
    MessageManifest* manifest_;
    WrittenMessages* written_messages_;
    std::vector<std::uint64_t>* folder_keys_;
    std::string source_digest_;  // of the folder file, when the destination's written messages are looked at
    const std::string& dbx_path_;
    MessageSink& sink_;
    std::optional<AttachmentsPlace> attachments_place_;  // when the job saves attachments
    std::optional<AttachmentFiles> live_attachments_;
    FolderReader* folder_ = nullptr;  // while the walk and its recovery run
    bool found_counted_ = false;
    std::int32_t item_count_ = 0;
    std::size_t message_count_ = 0;
    std::size_t position_ = 0;
    ProgressCounter progress_;
    std::size_t written_ = 0;
    std::vector<ManifestEntry> entries_;  // the live messages written, until the sink's End
    MessageKeys keys_;                    // and their keys
    bool file_failed_ = false;
};

// The messages of an output that survived: written, or already there when the sink found the
// same output in place.
void CountWritten(const MessageSink& sink, JobTally& tally, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (sink.OutputWasThere())
            tally.CountAlreadyThere();
        else
            tally.CountMessage();
    }
}

// Ends the sink after a failure; what it wrote is counted when its output survived.
void EndAfterFailure(MessageSink& sink, JobTally& tally, FolderWalk& walk) {
    try {
        if (sink.End()) {
            CountWritten(sink, tally, Delivered(sink, walk.written()));
            walk.RecordWritten(sink);
        }
    } catch (const std::exception& error) {
        tally.CountFailure("output", error.what());
    }
}

// "12 more messages can be recovered from Inbox.dbx: convert again with Recover".
void NoteRecoverable(JobTally& tally, const std::string& dbx_path, std::size_t count) {
    if (count == 0) return;
    tally.AddNote(std::to_string(count) + (count == 1 ? " more message" : " more messages") +
                      " can be recovered from " + FileNameOf(dbx_path),
                  "convert again with Recover");
}

// A folder file refused for its damaged index: what a recover run would write, every message the
// index still reaches and every one only the scan finds.
void NoteRecoverableFromRefusedFile(JobTally& tally, const std::string& dbx_path, FolderReader& folder) {
    const std::size_t reached = static_cast<std::size_t>(std::max<std::int32_t>(folder.item_count(), 0));
    NoteRecoverable(tally, dbx_path, reached + dbx_scan_stats(folder.Scan()).found);
}

// Every run converts what a miscounted index reaches, and a recover run what a damaged one still
// reaches; the user learns that the index and the header's count disagree.
void NoteIndexState(JobTally& tally, const std::string& dbx_path, const DbxReader& reader) {
    if (!reader.index_damaged && reader.header_item_count == reader.item_count) return;
    tally.AddNote(dbx_path, std::string(reader.index_damaged ? "the index is damaged; " : "") + "the header counts " +
                                std::to_string(reader.header_item_count) +
                                (reader.header_item_count == 1 ? " message" : " messages") + ", the index reaches " +
                                std::to_string(reader.item_count));
}

// Why the folder file at path could not be opened, in words: the system's reason when it is not
// a plain file we may read, else the reader's.
std::string OpenFailureReason(const std::string& path, int code) {
    const std::string refusal = platform::ReadableFileRefusal(path);
    return refusal.empty() ? std::string(dbx_failure_words(code)) : refusal;
}

// Tells the user a folder file could not be opened, in the message box and in the summary alike.
void ReportUnopenable(ExportContext& context, const std::string& dbx_path, const std::string& reason) {
    context.tally.CountFailure(dbx_path, reason);
    context.window.ShowMessage(std::string(kUnableToOpenDbx) + "\n" + dbx_path + ": " + reason, kMessageTitle,
                               msgbox::kJobMessage);
}

// Whether the file at dbx_path holds messages to convert, told by its kind; a file that holds
// none is passed over with a note, one that is no folder file is told as one that cannot be
// opened. A file whose header leaves its kind in doubt has been read for mail already: it holds
// messages when its index or its text blocks do.
bool HoldsMessages(ExportContext& context, const std::string& dbx_path, const DbxFileClass& file) {
    switch (file.kind) {
        case DbxFileKind::MailFolder:
        case DbxFileKind::NewsFolder:
        case DbxFileKind::Unreadable:  // the open says why, in the system's words
            return true;
        case DbxFileKind::FolderList:
        case DbxFileKind::Pop3Uidl:
        case DbxFileKind::OfflineActions:
        case DbxFileKind::OtherOutlookExpress:
            context.tally.AddNote(dbx_path, std::string(dbx_kind_description(file.kind)) + "; passed over");
            return false;
        case DbxFileKind::OutlookExpress4:
            ReportUnopenable(context, dbx_path, "is not an Outlook Express folder file of versions 5 or 6 (" +
                                                    std::string(dbx_kind_description(file.kind)) + ")");
            return false;
        case DbxFileKind::Empty:
        case DbxFileKind::Text:
        case DbxFileKind::OtherFormat:
            break;
    }
    const char* what = file.kind == DbxFileKind::Empty ? " (it is empty)"
                       : file.kind == DbxFileKind::Text ? " (it is text)"
                                                         : "";
    ReportUnopenable(context, dbx_path, FileNameOf(dbx_path) + " is not an Outlook Express folder file" + what);
    return false;
}

// The folder file opened for conversion, or nullptr when there is nothing to convert, the reason
// told: a file that holds no mail is passed over with a note; one that cannot be opened, or
// whose index is damaged (unless recovering), is counted as a failure and shown.
std::unique_ptr<FolderReader> OpenForConversion(ExportContext& context, const std::string& dbx_path) {
    std::FILE* stream = OpenFolderStream(dbx_path);
    if (!HoldsMessages(context, dbx_path, dbx_classify_stream(stream))) {
        if (stream != nullptr) std::fclose(stream);
        return nullptr;
    }
    auto folder = std::make_unique<FolderReader>(stream);
    if (!folder->is_open()) {
        ReportUnopenable(context, dbx_path, OpenFailureReason(dbx_path, dbx_errno));
        return nullptr;
    }
    const DbxReader& reader = folder->reader();
    if (reader.index_damaged && !context.settings.recover) {
        ReportUnopenable(context, dbx_path, dbx_failure_words(static_cast<int>(reader.index_failure)));
        NoteRecoverableFromRefusedFile(context.tally, dbx_path, *folder);
        return nullptr;
    }
    return folder;
}

}  // namespace

FolderMessage FoundFolderMessage(std::int32_t slot, std::string text, bool partial, const std::string& codepage) {
    FolderMessage message;
    message.slot = slot;
    message.subject = dbx_header_value(text, "Subject");
    // Outlook Express stores a subject decoded in its record; the header may hold encoded words,
    // decoded here the way the store reads them (UTF-8, which the naming takes as it is).
    if (message.subject && message.subject->find("=?") != std::string::npos)
        message.subject = mime::DecodeHeaderText(*message.subject, MessageCodepage(message.subject, text, codepage));
    message.sender_address = AddressOfFromHeader(dbx_header_value(text, "From"));
    if (const DbxText date = dbx_header_value(text, "Date")) message.date = dbx_parse_date(*date);
    message.text = std::move(text);
    message.text_complete = !partial;
    return message;
}

DbxText AddressOfFromHeader(const DbxText& from) {
    if (!from) return std::nullopt;
    const std::string& value = *from;
    const std::size_t open = value.rfind('<');
    if (open != std::string::npos) {
        const std::size_t close = value.find('>', open);
        if (close != std::string::npos) return value.substr(open + 1, close - open - 1);
    }
    const std::size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos) return std::nullopt;
    const std::size_t last = value.find_last_not_of(" \t");
    return value.substr(first, last - first + 1);
}


unsigned WorkerThreadCount(unsigned threads_setting) {
    if (threads_setting != 0) return threads_setting;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

bool FolderFileOpens(ExportContext& context, const std::string& dbx_path) {
    return OpenForConversion(context, dbx_path) != nullptr;
}

std::vector<std::uint64_t> FolderFileMessageKeys(const std::string& dbx_path) {
    std::vector<std::uint64_t> keys;
    FolderReader folder(OpenFolderStream(dbx_path));
    if (!folder.is_open()) return keys;
    for (std::int32_t slot = folder.item_count() - 1; slot >= 0 && !folder.CutShort(); --slot) {
        if (!folder.Fetch(slot)) continue;
        if (const DbxEmail* email = folder.email(); email != nullptr && email->message_text)
            keys.push_back(FolderPlaces::ShortKey(WrittenMessages::KeyOf(*email->message_text)));
    }
    return keys;
}

void RunFolderLoop(ExportContext& context, const std::string& dbx_path, MessageSink& sink,
                   const std::optional<AttachmentsPlace>& attachments) {
    ConversionWindow& window = context.window;
    JobTally& tally = context.tally;
    const bool recover = context.settings.recover;
    FolderWalk walk(context, dbx_path, sink, attachments);
    if (context.manifest != nullptr) context.manifest->AddSource(dbx_path);
    try {
        const std::unique_ptr<FolderReader> opened = OpenForConversion(context, dbx_path);
        if (!opened) return;
        FolderReader& folder = *opened;
        if (!sink.Begin()) return;
        tally.CountFolder();
        // The scan runs beside the walk when more than one thread may work (the found messages
        // are written after the live ones either way), else before it.
        if (recover)
            folder.StartScan(WorkerThreadCount(context.settings.threads) > 1,
                             context.digests != nullptr ? context.digests->TakeFeed(dbx_path) : nullptr);
        NoteIndexState(tally, dbx_path, folder.reader());
        bool completed = walk.Run(folder);
        DbxScan* scan = recover ? folder.Scan() : nullptr;
        walk.CheckUnchanged(folder);
        if (!sink.End()) return;
        CountWritten(sink, tally, Delivered(sink, walk.written()));
        walk.RecordWritten(sink);
        if (completed && !walk.file_failed() && scan != nullptr && dbx_scan_stats(scan).found != 0)
            completed = walk.Recover(scan, sink);
        if (completed) window.SetProgress(0);
    } catch (const std::exception& error) {
        tally.CountFailure(dbx_path, error.what());
        if (sink.ResetsProgressOnFailure()) window.SetProgress(0);
        EndAfterFailure(sink, tally, walk);
    }
}
