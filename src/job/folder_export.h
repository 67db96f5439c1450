// The signature shared by every folder exporter (EML, MBOX, MSG/RTF/HTML).
#pragma once

#include <functional>
#include <string>

class ConversionWindow;
class JobTally;
struct JobSettings;

// Everything one folder export needs besides its three texts.
struct ExportContext {
    ConversionWindow& window;
    const JobSettings& settings;
    JobTally& tally;
};

using FolderExporter = std::function<void(ExportContext& context, const std::string& dbx_path,
                                          const std::string& destination_path,
                                          const std::string& folder_name)>;
