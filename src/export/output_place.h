// Where an output goes: the folders of a destination, entered without ever following a link,
// and the place of each file in them by the one write path of msgfile/ (never replacing a file
// of an earlier run: identical content is left as it is, different content takes the next free
// name).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/folder_export.h"
#include "msgfile/message_file.h"
#include "platform/output_folder.h"
#include "platform/write_failure.h"

struct FolderMessage;

// The path with " (n)" inserted before the extension of its last component ("Inbox (2).mbox",
// "Subject0 (2).eml"); n = 1 gives the path itself.
std::string NumberedOutputPath(const std::string& path, int n);

// Opens the destination folder for output: the folder itself, not a link planted at its name.
platform::WriteFailure OpenDestination(const std::string& destination_path, platform::OutputFolder& folder);

// Opens (making what is missing) the folder below the destination that a form of one file per
// message writes a folder file's messages into: destination/folder_name, or for a folder of a
// whole store its place in the tree (context.tree_path).
platform::WriteFailure OpenFolderOutput(const ExportContext& context, const std::string& destination_path,
                                        const std::string& folder_name, platform::OutputFolder& folder);

// Opens the folder that the MBOX file of a tree path goes into, in Thunderbird's layout: every
// parent is an MBOX file (left as it is when there, else made empty) beside its ".sbd" folder.
platform::WriteFailure OpenMboxFolder(const std::string& destination_path, const std::vector<std::string>& tree_path,
                                      platform::OutputFolder& folder);

// The output of a form of one file per message (EML, MSG, RTF, HTML) for one folder file: the
// folder, opened by Begin, and the message files written into it by the one write path.
class MessageFileOutput {
public:
    // The folder of the folder file's own messages; suffix replaces ".eml" in the file names.
    MessageFileOutput(ExportContext& context, std::string destination, std::string folder_name, std::string suffix);
    // The folder of its recovered messages, inside that of live.
    MessageFileOutput(ExportContext& context, const MessageFileOutput& live);

    // Opens the folder. A failure is counted once, against the folder; every message then fails
    // with its reason.
    void Begin();
    // The path of a message's file (before any " (2)"): shown in the status line and named by
    // its failures. Made once per message.
    const std::string& PathOf(const FolderMessage& message);
    // The same path made on any thread, for a message prepared ahead; UsePath hands it back to
    // the writer, so that PathOf does not make it again.
    std::string MakePath(const FolderMessage& message) const;
    void UsePath(const FolderMessage& message, std::string path);
    // Writes the message's bytes; "" or why it failed. already_there: an identical file was in
    // place, nothing was written.
    std::string Write(const FolderMessage& message, std::string_view bytes, bool& already_there);
    // Whether a message's file may be written ahead, on a worker (Stage), and only named by
    // Write: not when the job writes through a device filter (a test's failing disk), which is
    // to see the files one after the other, in the messages' order.
    bool StagesAhead() const { return context_.devices == nullptr; }
    // Writes the message's bytes into a file of the folder that has no name yet; any thread.
    // path: the message's (MakePath), a hint for a temporary name where the system needs one.
    std::shared_ptr<StagedMessageFile> Stage(const FolderMessage& message, std::string_view bytes,
                                             const std::string& path) const;
    // Write for a message staged ahead: names its file (staged may be none: then as Write).
    std::string Place(const FolderMessage& message, std::string_view bytes, StagedMessageFile* staged,
                      bool& already_there);
    // The same for bytes that write hands to the file in pieces.
    std::string Write(const FolderMessage& message,
                      const std::function<platform::WriteFailure(platform::OutputDevice&)>& write, bool& already_there);
    // After a Write that succeeded: the path the file has (with any " (2)").
    const std::string& PlacedPath() const { return placed_path_; }
    ExportContext& context() const { return context_; }

private:
    ExportContext& context_;
    std::string destination_;  // empty for the recovered messages' folder
    std::string folder_name_;
    std::string suffix_;
    std::string directory_;
    std::shared_ptr<platform::OutputFolder> folder_;
    std::shared_ptr<const platform::OutputFolder> parent_;  // the live folder, for the recovered one
    platform::WriteFailure folder_failure_ = platform::WriteFailure::kNone;
    std::string path_;
    std::int32_t path_slot_ = -1;
    std::string placed_path_;
};
