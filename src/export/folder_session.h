// What every folder exporter shares: the open reader with its current item, the progress step,
// and the texts shown when a folder file fails.
#pragma once

#include <memory>
#include <string>

#include "dbx/dbx.h"
#include "job/conversion_window.h"
#include "job/job_tally.h"

inline const char* const kUnableToOpenDbx = "Unable to open DBX File";

// The progress bar position before each item: 1, 2, ..., 98, 1, 2, ... — it shows activity,
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
DbxReader* OpenFolderFile(const std::string& path);

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
    DbxReader* reader() const { return reader_; }
    std::int32_t item_count() const { return reader_->item_count; }
    bool is_email_folder() const { return reader_->kind == DbxKind::Email; }

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

// The reader's current error message, for failure summaries.
inline std::string DbxErrorText() {
    return dbx_errno >= 0 && dbx_errno < 9 ? dbx_errors[dbx_errno] : "unknown error";
}

// A folder file that cannot be opened: counted, and told with the job's message box.
inline void ReportUnopenedFolder(ConversionWindow& window, JobTally& tally, const std::string& dbx_path) {
    tally.CountFailure(dbx_path, DbxErrorText());
    window.ShowMessage(kUnableToOpenDbx, kMessageTitle, msgbox::kJobMessage);
}

// Walks the e-mails of an open folder file from the highest slot down (the folder's own order),
// moving the progress bar one step before each item, and calls visit(slot, email) for each
// e-mail. Returns true when every slot was visited; false when the user asked to stop or a
// fetch failed (printed with the "dbx_get" prefix and counted as a failure).
template <typename Visit>
bool ForEachEmail(FolderReader& folder, ConversionWindow& window, JobTally& tally, const std::string& dbx_path,
                  Visit&& visit) {
    ProgressCounter progress;
    for (std::int32_t slot = folder.item_count() - 1; slot >= 0; --slot) {
        if (window.StopRequested()) return false;
        window.SetProgress(progress.Next());
        if (!folder.Fetch(slot)) {
            dbx_perror("dbx_get");
            tally.CountFailure(dbx_path, "message " + std::to_string(slot) + ": " + DbxErrorText());
            return false;
        }
        if (DbxEmail* email = folder.email()) visit(slot, *email);
    }
    return true;
}

// "The message text" part of a message, up to its first zero byte.
std::string_view MessageTextView(const DbxText& text);
