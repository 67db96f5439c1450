// The signature shared by every folder exporter (EML, MBOX, MSG/RTF/HTML, PST).
#pragma once

#include <functional>
#include <cstdint>
#include <string>
#include <vector>

class ConversionWindow;
class JobTally;
class MessageManifest;
class SourceDigests;
class WrittenMessages;
struct JobSettings;
namespace platform {
class DeviceFilter;
}

// A destination the job opened for the folder exports of one form (a folder of a PST store);
// each form that needs one defines its own.
class ExportTarget {
public:
    virtual ~ExportTarget() = default;
};

// Everything one folder export needs besides its three texts.
struct ExportContext {
    ConversionWindow& window;
    const JobSettings& settings;
    JobTally& tally;
    ExportTarget* target = nullptr;
    // For a folder of a whole store: the output names of its parents and itself, top down
    // (the exporters nest their output by it); empty for a folder file added alone.
    std::vector<std::string> tree_path;
    // What the job writes its files through: nullptr for the files themselves (a test puts a
    // device that fails in between).
    const platform::DeviceFilter* devices = nullptr;
    // Where each message that reaches the output is recorded (export/message_manifest.h);
    // nullptr when the run keeps no manifest.
    MessageManifest* manifest = nullptr;
    // The destination's messages by the folder file that wrote them (export/written_messages.h),
    // when messages of other folder files are left out; nullptr otherwise.
    WrittenMessages* written = nullptr;
    // The job's digests of its folder files (export/source_digests.h); nullptr: each use reads
    // the file for its own.
    SourceDigests* digests = nullptr;
    // Where the keys (WrittenMessages::KeyOf) of the messages that reached the folder's output
    // go, for the destination's memory of which folder holds what, each as the number its first
    // 16 hexadecimal digits make (8 bytes a message, not a string); nullptr when none is kept.
    std::vector<std::uint64_t>* folder_keys = nullptr;
};

using FolderExporter = std::function<void(ExportContext& context, const std::string& dbx_path,
                                          const std::string& destination_path,
                                          const std::string& folder_name)>;
