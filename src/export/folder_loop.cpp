#include "export/folder_loop.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "conversion/conversion_window.h"
#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "platform/file_checks.h"
#include "store/com_error.h"

namespace {

// Messages read ahead of the writer per worker thread: enough that a worker rarely waits for
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

// dbx_open on the file at path, when it is a plain file we may read; otherwise nullptr with
// dbx_errno 1, without opening anything (a FIFO would block the whole job).
DbxReader* OpenFolderFile(const std::string& path) {
    if (!platform::ReadableFileRefusal(path).empty()) {
        dbx_errno = 1;
        return nullptr;
    }
    return dbx_open(path.c_str());
}

// An open folder file and the one item held from it; both are released whichever way the
// folder ends.
class FolderReader {
public:
    explicit FolderReader(const std::string& dbx_path) : reader_(OpenFolderFile(dbx_path)) {}
    ~FolderReader() {
        dbx_free(item_);
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

private:
    DbxReader* reader_;
    DbxItem* item_ = nullptr;
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
    // A record without the flags word kept no state (a stored message always has at least the
    // downloaded bit); its priority may still be there.
    message.state.known = email.state_flags != 0;
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
    std::size_t text_size = 0;
    PreparedMessage prepared;
    bool ready = false;  // guarded by the workers' mutex
};

// What an entry was counted at when it was read; its text may have been moved on since.
std::size_t TextSize(const SlotEntry& entry) { return entry.text_size; }

// Worker threads that prepare messages; the writer takes them back in the order given.
class PrepareWorkers {
public:
    PrepareWorkers(unsigned count, MessageSink& sink) : sink_(sink) {
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

    void Submit(SlotEntry* entry) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(entry);
        }
        work_ready_.notify_one();
    }
    void MarkReady(SlotEntry* entry) {
        std::lock_guard<std::mutex> lock(mutex_);
        entry->ready = true;
    }
    void WaitFor(const SlotEntry& entry) {
        std::unique_lock<std::mutex> lock(mutex_);
        awaited_ = &entry;
        entry_done_.wait(lock, [&] { return entry.ready; });
        awaited_ = nullptr;
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
    void PrepareGuarded(PreparedMessage& message) {
        try {
            sink_.Prepare(message);
        } catch (const std::exception& error) {
            message.failure = store::DescribeFailure(error);
        }
    }

    MessageSink& sink_;
    std::mutex mutex_;
    std::condition_variable work_ready_, entry_done_;
    std::deque<SlotEntry*> queue_;
    const SlotEntry* awaited_ = nullptr;  // the entry the writer waits for, if it waits
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// The walk itself; the writer's side of it is the same with or without worker threads, so the
// window, the files and the tally see exactly the same sequence either way.
class FolderWalk {
public:
    FolderWalk(ExportContext& context, const std::string& dbx_path, MessageSink& sink)
        : window_(context.window), tally_(context.tally), settings_(context.settings), dbx_path_(dbx_path), sink_(sink) {}

    // True when every slot was visited.
    bool Run(FolderReader& folder) {
        item_count_ = folder.item_count();
        const unsigned workers = sink_.PreparesAhead() ? WorkerThreadCount(settings_.threads) : 1;
        return workers <= 1 ? RunInline(folder) : RunWithWorkers(folder, workers);
    }
    std::size_t written() const { return written_; }

private:
    bool RunInline(FolderReader& folder) {
        for (std::int32_t slot = item_count_ - 1; slot >= 0; --slot) {
            if (!StartItem()) return false;
            if (!folder.Fetch(slot)) return FetchFailed(slot, dbx_errno);
            if (DbxEmail* email = folder.email()) {
                PreparedMessage prepared;
                prepared.message = TakeMessage(slot, *email);
                try {
                    sink_.Prepare(prepared);
                } catch (const std::exception& error) {
                    prepared.failure = store::DescribeFailure(error);
                }
                WriteMessage(prepared);
            }
        }
        return true;
    }

    bool RunWithWorkers(FolderReader& folder, unsigned worker_count) {
        const std::size_t in_flight_limit = kMessagesInFlightPerWorker * worker_count;
        std::deque<std::unique_ptr<SlotEntry>> in_flight;
        PrepareWorkers workers(worker_count, sink_);
        std::int32_t next_slot = item_count_ - 1;
        std::size_t text_bytes = 0;
        bool reading = true;
        for (;;) {
            while (reading && in_flight.size() < in_flight_limit && (in_flight.empty() || text_bytes < kTextBytesInFlight) &&
                   !window_.StopRequested()) {
                if (next_slot < 0) {
                    reading = false;
                    break;
                }
                auto entry = std::make_unique<SlotEntry>();
                entry->slot = next_slot;
                if (!folder.Fetch(next_slot)) {
                    entry->kind = SlotEntry::Kind::kFetchFailed;
                    entry->fetch_error = dbx_errno;
                    reading = false;
                } else if (DbxEmail* email = folder.email()) {
                    entry->kind = SlotEntry::Kind::kEmail;
                    entry->prepared.message = TakeMessage(next_slot, *email);
                    entry->text_size = entry->prepared.message.text ? entry->prepared.message.text->size() : 0;
                }
                --next_slot;
                text_bytes += TextSize(*entry);
                SlotEntry* raw = entry.get();
                in_flight.push_back(std::move(entry));
                if (raw->kind == SlotEntry::Kind::kEmail)
                    workers.Submit(raw);
                else
                    workers.MarkReady(raw);
            }
            // Nothing read ahead while slots remain: the exit request stopped the reading.
            if (in_flight.empty()) return next_slot < 0;
            // On a stop the workers may still hold entries behind this one: `workers` is
            // declared after `in_flight`, so its threads are joined before the entries go.
            SlotEntry& entry = *in_flight.front();
            workers.WaitFor(entry);
            if (!StartItem()) return false;
            if (entry.kind == SlotEntry::Kind::kFetchFailed) return FetchFailed(entry.slot, entry.fetch_error);
            if (entry.kind == SlotEntry::Kind::kEmail) WriteMessage(entry.prepared);
            text_bytes -= TextSize(entry);
            in_flight.pop_front();
        }
    }

    // Before each item: the exit request, the job's progress and the bar. False: stop here.
    bool StartItem() {
        if (window_.StopRequested()) return false;
        ++position_;
        window_.ShowJobProgress(dbx_path_, position_, static_cast<std::size_t>(item_count_));
        window_.SetProgress(progress_.Next());
        return true;
    }

    bool FetchFailed(std::int32_t slot, int error) {
        dbx_errno = error;
        dbx_perror("dbx_get");
        tally_.CountFailure(dbx_path_, "message " + std::to_string(slot) + ": " + DbxErrorText());
        return false;
    }

    void WriteMessage(PreparedMessage& prepared) {
        const FolderMessage& message = prepared.message;
        window_.SetStatusText(sink_.StatusText(message));
        std::string failure = prepared.failure;
        if (failure.empty()) {
            try {
                failure = sink_.Write(prepared);
            } catch (const std::exception& error) {
                // One failed message does not cost the rest of the folder.
                failure = store::DescribeFailure(error);
            }
        }
        if (!failure.empty())
            tally_.CountFailure(sink_.FailureSubject(message), failure);
        else if (prepared.already_there)
            tally_.CountAlreadyThere();
        else if (!message.text_complete)
            tally_.CountFailure(sink_.FailureSubject(message), "message text damaged in the folder file");
        else
            ++written_;
    }

    ConversionWindow& window_;
    JobTally& tally_;
    const JobSettings& settings_;
    const std::string& dbx_path_;
    MessageSink& sink_;
    std::int32_t item_count_ = 0;
    std::size_t position_ = 0;
    ProgressCounter progress_;
    std::size_t written_ = 0;
};

void CountWritten(JobTally& tally, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) tally.CountMessage();
}

// Ends the sink after a failure; what it wrote is counted when its output survived.
void EndAfterFailure(MessageSink& sink, JobTally& tally, std::size_t written) {
    try {
        if (sink.End()) CountWritten(tally, written);
    } catch (const std::exception& error) {
        tally.CountFailure("output", error.what());
    }
}

}  // namespace

std::string DbxErrorText() { return dbx_errno >= 0 && dbx_errno < 9 ? dbx_errors[dbx_errno] : "unknown error"; }

unsigned WorkerThreadCount(unsigned threads_setting) {
    if (threads_setting != 0) return threads_setting;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

void RunFolderLoop(ExportContext& context, const std::string& dbx_path, MessageSink& sink) {
    ConversionWindow& window = context.window;
    JobTally& tally = context.tally;
    FolderWalk walk(context, dbx_path, sink);
    try {
        if (!sink.Begin()) return;
        FolderReader folder(dbx_path);
        if (!folder.is_open()) {
            const std::string reason = DbxErrorText();
            tally.CountFailure(dbx_path, reason);
            window.ShowMessage(std::string(kUnableToOpenDbx) + "\n" + dbx_path + ": " + reason, kMessageTitle,
                               msgbox::kJobMessage);
            EndAfterFailure(sink, tally, 0);
            return;
        }
        tally.CountFolder();
        const bool completed = walk.Run(folder);
        if (!sink.End()) return;
        CountWritten(tally, walk.written());
        if (completed) window.SetProgress(0);
    } catch (const std::exception& error) {
        tally.CountFailure(dbx_path, error.what());
        if (sink.ResetsProgressOnFailure()) window.SetProgress(0);
        EndAfterFailure(sink, tally, walk.written());
    }
}
