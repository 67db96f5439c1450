#pragma once

#include <string>

#include "conversion/folder_export.h"

// One .eml file per e-mail of the folder file, in a folder of its own under the destination.
void ExportFolderToEml(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                       const std::string& folder_name);
