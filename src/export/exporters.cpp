#include "export/exporters.h"

#include "export/eml_export.h"
#include "export/imap_export.h"
#include "export/maildir_export.h"
#include "export/mbox_export.h"
#include "export/pst_export.h"
#include "export/store_export.h"

FolderExporter FindFolderExporter(const std::string& saving_option) {
    if (saving_option == "eml") return ExportFolderToEml;
    if (saving_option == "mbox") return ExportFolderToMbox;
    if (saving_option == "msg" || saving_option == "rtf" || saving_option == "html") return ExportFolderThroughStore;
    if (saving_option == "pst") return ExportFolderToPst;
    if (saving_option == "maildir") return ExportFolderToMaildir;
    if (saving_option == "imap") return ExportFolderToImap;
    return {};
}
