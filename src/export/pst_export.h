// The messages of one folder file into a folder of a PST store, newest slot first. The job
// opens the stores and finds or makes the folder (job/pst_job.h); this is the folder's export.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "conversion/folder_export.h"
#include "store/session.h"

// The store folder the job chose for the folder file being exported, and the way to the one
// beneath it that takes the recovered messages (found or made only when there are any).
class PstTargetFolder : public ExportTarget {
public:
    using FolderMaker = std::function<std::shared_ptr<store::RDOFolder>()>;
    explicit PstTargetFolder(std::shared_ptr<store::RDOFolder> folder, FolderMaker recovered_folder = {},
                             std::string store_path = {}, std::string folder_path = {})
        : folder_(std::move(folder)),
          recovered_folder_(std::move(recovered_folder)),
          store_path_(std::move(store_path)),
          folder_path_(std::move(folder_path)) {}
    const std::shared_ptr<store::RDOFolder>& folder() const { return folder_; }
    std::shared_ptr<store::RDOFolder> RecoveredFolder() const {
        return recovered_folder_ ? recovered_folder_() : nullptr;
    }

    // For the manifest: the store's file and the folder's path in it ("\\\\Store\\Inbox.dbx").
    const std::string& store_path() const { return store_path_; }
    const std::string& folder_path() const { return folder_path_; }

private:
    std::shared_ptr<store::RDOFolder> folder_;
    FolderMaker recovered_folder_;
    std::string store_path_;
    std::string folder_path_;
};

// Imports the e-mails of the folder file into the PstTargetFolder of context.target. The
// destination folder is created; the folder name is not used: the store folder is the output.
void ExportFolderToPst(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                       const std::string& folder_name);
