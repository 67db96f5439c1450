#pragma once

#include <string>

#include "conversion/folder_export.h"

// The session error text, shown when the messaging store component cannot be created.
extern const char* const kSessionErrorText;

// One .msg, .rtf or .html file per e-mail of the folder file (by the saving option), made by the
// messaging store component from each message's RFC 822 text.
void ExportFolderThroughStore(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                              const std::string& folder_name);
