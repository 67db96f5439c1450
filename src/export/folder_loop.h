// The one walk over a folder file that every form shares: open it (or tell the user it cannot
// be), visit the items from the highest slot down, step the progress, count what was written
// and what failed, stop at a message boundary when asked. What a form does with each e-mail is
// its sink's business.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "conversion/folder_export.h"
#include "dbx/dbx.h"
#include "export/attachment_files.h"
#include "platform/output_device.h"
#include "platform/write_failure.h"
#include "store/mapi/message.h"
#include "store/mapi/message_state.h"
#include "store/session.h"

struct StagedMessageFile;

inline const char* const kUnableToOpenDbx = "Unable to open DBX File";

// One e-mail taken out of the reader, so that its preparation can run on another thread while
// the reader goes on to the next slot.
struct FolderMessage {
    std::int32_t slot = 0;
    DbxText text;  // the whole chain the record points to, whatever bytes it holds
    DbxText subject;
    DbxText sender_address;
    std::uint64_t date = 0;
    bool text_complete = false;
    mapi::MessageState state;  // read, flagged, answered, ... as the folder file kept them
    std::uint64_t found_at = 0;  // a message only the scan found: the offset of its text's first block
};

// A message on its way through a sink: what the sink made of it ahead of the write.
struct PreparedMessage {
    FolderMessage message;
    std::string output;                 // the bytes of the output file, when made ahead
    // Or what writes them in pieces, laid out ahead, for a form whose file is not held whole.
    std::function<platform::WriteFailure(platform::OutputDevice&)> write_output;
    std::optional<mapi::Message> model;  // the message model, when the form stores one
    std::string failure;                // why the preparation failed; empty when it did not
    bool already_there = false;         // set by Write: the output held this message already
    std::shared_ptr<store::PreparedMail> item;  // made ready ahead for a store folder, when the form adds to one
    std::shared_ptr<StagedMessageFile> staged_file;  // the message's file written ahead, not yet named
    std::string planned_path;  // the path of its file (before any " (2)"), when the sink makes it ahead
    // Its key (WrittenMessages::KeyOf), made ahead when the run keeps keys and the preparation
    // did not fail.
    std::optional<std::string> key;
    // Set by Write for the manifest: the file the message went into (or the PST store) and the
    // folder inside a store; a form that names its file only at End leaves the path empty.
    std::string output_path;
    std::string output_folder;
};

// What one form does with the e-mails of one folder file.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Before the folder file is opened: folders and files the form needs. False ends the
    // folder here; the sink has counted or shown why.
    virtual bool Begin() { return true; }
    // True when Prepare does work worth a worker thread.
    virtual bool PreparesAhead() const { return false; }
    // Work that touches no output, the window or the tally: may run on any thread. Records a
    // failure in message.failure rather than throwing.
    virtual void Prepare(PreparedMessage& message) { (void)message; }
    // The status line while the message is written, and what its failures are counted against.
    virtual std::string StatusText(const FolderMessage& message) = 0;
    // The same for a message as Prepare left it, on the loop's thread just before its Write: a
    // sink that made the text ahead takes it from there.
    virtual std::string StatusTextOf(PreparedMessage& prepared) { return StatusText(prepared.message); }
    virtual std::string FailureSubject(const FolderMessage& message) = 0;
    // Writes one message, on the loop's thread, in slot order; returns why it failed, or "".
    virtual std::string Write(PreparedMessage& message) = 0;
    // After the last message, a stop or a failure. False when the output failed as a whole
    // (counted by the sink): the messages written into it are then not counted.
    virtual bool End() { return true; }
    // A failure that ends the folder also sets the progress bar back to 0.
    virtual bool ResetsProgressOnFailure() const { return false; }
    // True after End when the folder's whole output was found in place already, identical: its
    // messages count as already there, not as written.
    virtual bool OutputWasThere() const { return false; }
    // After End, for a form that writes one file for the whole folder (MBOX): that file's path
    // as placed, for the messages whose Write named none.
    virtual std::string FolderOutputPath() const { return {}; }
    // For a sink that sends messages on in batches after Write took them (an upload): how many of
    // those, whole in the folder file, did not arrive after all. Read after End; the sink counted
    // a failure for each, and the written count leaves them out.
    virtual std::size_t LostAfterWrite() const { return 0; }
    // The sink for the messages only a scan of the folder file finds (recover mode): the same
    // form, written apart from the live messages. None when the form keeps them nowhere.
    virtual std::unique_ptr<MessageSink> RecoveredSink() { return nullptr; }
};

// The sub-folder (EML, MSG, RTF, HTML, PST) that takes a folder's recovered messages, and what
// the MBOX file of a folder's recovered messages adds to the folder name.
inline const char* const kRecoveredFolderName = "Recovered";
inline const char* const kRecoveredMboxSuffix = " (recovered)";

// Runs the folder file at dbx_path through sink. Never throws: every failure is counted in the
// context's tally. attachments: where the messages' attachments are saved as files when the job
// asks for that (export/attachment_files.h); none for a form that keeps no files.
void RunFolderLoop(ExportContext& context, const std::string& dbx_path, MessageSink& sink,
                   const std::optional<AttachmentsPlace>& attachments = std::nullopt);

// Whether the loop would convert the file at dbx_path: for a job that makes a place for the
// file's messages (a store, a store folder) before the loop runs. The files of a store that hold
// no mail (the folder list, the offline actions, ...) are passed over with a note; a file that is
// no folder file, cannot be opened or has a damaged index (unless recovering) is a failure, told
// as the loop tells it. Nothing is written for either.
bool FolderFileOpens(ExportContext& context, const std::string& dbx_path);

// The short keys (FolderPlaces::ShortKey of WrittenMessages::KeyOf) of the messages the folder
// file's index reaches, read without a word to anyone: none when it cannot be opened.
std::vector<std::uint64_t> FolderFileMessageKeys(const std::string& dbx_path);

// A message only the scan found, as the folder loop hands it to a sink: numbered at slot, its
// subject (encoded words decoded; 8-bit text read in codepage when the message names no charset),
// sender and date taken from its own header.
FolderMessage FoundFolderMessage(std::int32_t slot, std::string text, bool partial, const std::string& codepage);

// The address of a From header's value: the part in angle brackets, else the value trimmed.
DbxText AddressOfFromHeader(const DbxText& from);

// The number of threads that prepare messages a setting asks for (0: the machine's cores); the
// writer is one of them.
unsigned WorkerThreadCount(unsigned threads_setting);
