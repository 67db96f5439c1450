// The messages of one folder file into a folder of a PST store, newest slot first. The job
// opens the stores and finds or makes the folder (job/pst_job.h); this is the folder's export.
#pragma once

#include <memory>
#include <string>

#include "conversion/folder_export.h"
#include "store/session.h"

// The store folder the job chose for the folder file being exported.
class PstTargetFolder : public ExportTarget {
public:
    explicit PstTargetFolder(std::shared_ptr<store::RDOFolder> folder) : folder_(std::move(folder)) {}
    const std::shared_ptr<store::RDOFolder>& folder() const { return folder_; }

private:
    std::shared_ptr<store::RDOFolder> folder_;
};

// Imports the e-mails of the folder file into the PstTargetFolder of context.target. The
// destination folder is created; the folder name is not used: the store folder is the output.
void ExportFolderToPst(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                       const std::string& folder_name);
