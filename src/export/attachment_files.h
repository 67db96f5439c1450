// The attachments of each message saved as files beside the chosen form, one folder per message
// that has any: <destination>/<folder's output>.attachments/<message's name>/<attachment>. The
// files go by the one write path of message files, so a re-run finds them in place and writes
// nothing twice, and a name taken by other bytes gets " (2)".
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "conversion/folder_export.h"
#include "platform/output_folder.h"
#include "platform/write_failure.h"
#include "store/mime/mime_import.h"

struct FolderMessage;

// Where one folder's attachments go.
struct AttachmentsPlace {
    std::string destination;
    std::vector<std::string> parents;   // the folders below the destination, as named there
    std::string folder_name;            // of the folder's output, beside which "<it>.attachments" goes
    bool named_by_output_file = false;  // the messages' own files (EML, MSG, RTF, HTML) name their folders
};

inline const char* const kAttachmentsSuffix = ".attachments";

// The place for the form of the job: beside the folder of message files (EML, MSG, RTF, HTML,
// Maildir), the MBOX file, or, for PST, in the destination under the folder's name. None for an
// upload, which writes no files.
std::optional<AttachmentsPlace> AttachmentsPlaceFor(const ExportContext& context, const std::string& destination_path,
                                                    const std::string& folder_name);

// The attachments of one message, read from its text before its sink takes the text on.
struct MessageAttachments {
    std::vector<mime::AttachedFile> files;
    std::string eml_name;   // the message's name as an EML run gives it, without ".eml"
    std::uint64_t date = 0;  // FILETIME of the message, for the files' times
};

struct SavedAttachment {
    std::string path;  // as placed, with any " (2)"
    std::uint64_t size = 0;
    std::string sha256;          // of its bytes, when asked for
    bool already_there = false;  // the same bytes were in place: nothing was written
};

// The saver of one folder's attachments (its recovered messages' go to "Recovered" inside).
// Folders are made only for a message with at least one attachment.
class AttachmentFiles {
public:
    AttachmentFiles(ExportContext& context, AttachmentsPlace place, bool recovered);
    // The message's attachments (none when it has none or is no MIME message).
    MessageAttachments Find(const FolderMessage& message) const;
    // Saves them once the message's sink wrote it (output_path: its file, for a form whose
    // files name the folders). A failure is counted in the tally against the file it concerns.
    // digests: the SHA-256 of each is wanted.
    std::vector<SavedAttachment> Save(const MessageAttachments& found, const std::string& output_path, bool digests);

private:
    platform::WriteFailure OpenRoot();

    ExportContext& context_;
    AttachmentsPlace place_;
    bool recovered_;
    std::string root_path_;
    std::unique_ptr<platform::OutputFolder> root_;  // opened at the first attachment
    platform::WriteFailure root_failure_ = platform::WriteFailure::kNone;
};
