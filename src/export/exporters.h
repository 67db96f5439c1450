// The folder exporter of each saving option.
#pragma once

#include <string>

#include "conversion/folder_export.h"

// The exporter registered for a saving option, or an empty function when none exists. "pst"
// needs a PstTargetFolder in its context (export/pst_export.h), "imap" an ImapTarget
// (export/imap_export.h).
FolderExporter FindFolderExporter(const std::string& saving_option);
