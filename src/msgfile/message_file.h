// The one write path of every file Ombrik writes whole into a destination folder: the .eml,
// .msg, .rtf and .html files of the messages (recovered ones included) and the MBOX files. The
// bytes go into a file beside the folder's names and get a name only once they are all there,
// so a failed write, a full disk or a killed run leaves nothing under a name and the next run
// fills the same names. A name is never taken from what holds it: a file there with the same
// bytes is the output already ("already there"), anything else keeps its name and the output
// takes the next free one, " (2)", " (3)", ... before the extension.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/existing_file.h"
#include "platform/output_device.h"
#include "platform/output_folder.h"
#include "platform/pending_file.h"
#include "platform/write_failure.h"

// The numbered names are tried no further than this: a folder with so many versions of one
// output is refused rather than searched without end.
inline constexpr int kMaxOutputVersions = 1000;

// The name with " (n)" before its extension ("Inbox (2).mbox", "Subject0 (2).eml"); n = 1 gives
// the name itself. A name that only starts with a dot takes the number at its end.
std::string NumberedFileName(const std::string& name, int n);

// Where a file went.
struct PlacedFile {
    std::string name;            // the name it has in its folder; empty when it failed
    bool already_there = false;  // a file of that name held the same bytes: nothing was added
    platform::WriteFailure failure = platform::WriteFailure::kNone;
    explicit operator bool() const { return failure == platform::WriteFailure::kNone; }
};

// Gives the finished file the first of name, "name (2)", ... that is free or holds the same
// bytes (compare tells what a taken name holds); with over_empty, an empty plain file at a name
// counts as free. Something other than a plain file at name itself (a link, a folder) is a
// failure, told by its kind. Ends the file in every case: what is not placed is removed.
PlacedFile PlaceUnderFreeName(platform::PendingFile& file, const std::string& name,
                              const std::function<platform::ExistingFile(const std::string&)>& compare,
                              bool over_empty = false);

// Writes a message's bytes (the text of an .eml, byte for byte: no line-end translation, no
// byte-order mark, zero bytes kept) as a file of folder named name, by the rules above, an empty
// plain file at a name counting as free (a run that a full disk stopped may have left one). No
// bytes give an empty file. filetime (a FILETIME, 0: none) becomes the file's time; devices is
// what the job writes its files through (none: the files themselves).
PlacedFile WriteMessageFile(const platform::OutputFolder& folder, const std::string& name, std::string_view bytes,
                            std::uint64_t filetime = 0, const platform::DeviceFilter* devices = nullptr);

// WriteMessageFile in two steps, for a file written ahead of its turn: the bytes go into a file
// of folder that has no name yet, with its time (touching nothing in the folder, so any thread
// may do it, in any order), and the file is named later, in order, by the same rules.
struct StagedMessageFile {
    platform::PendingFile file;
    platform::WriteFailure failure = platform::WriteFailure::kNone;  // of the writing; nothing to name then
};
void StageMessageFile(StagedMessageFile& staged, const platform::OutputFolder& folder, const std::string& name,
                      std::string_view bytes, std::uint64_t filetime = 0, const platform::DeviceFilter* devices = nullptr);
// The same with the name made only where the system needs one for a file not yet named.
void StageMessageFile(StagedMessageFile& staged, const platform::OutputFolder& folder,
                      const std::function<std::string()>& name, std::string_view bytes, std::uint64_t filetime = 0,
                      const platform::DeviceFilter* devices = nullptr);
// bytes: what was staged, to compare a taken name with.
PlacedFile PlaceMessageFile(StagedMessageFile& staged, const platform::OutputFolder& folder, const std::string& name,
                            std::string_view bytes);

// The same for bytes that write hands to the file's device in pieces (a message too large to be
// held whole as well as its parts): write returns the device's failure, or kNone. A taken name
// is compared with what the file got.
PlacedFile WriteMessageFile(const platform::OutputFolder& folder, const std::string& name,
                            const std::function<platform::WriteFailure(platform::OutputDevice&)>& write,
                            std::uint64_t filetime = 0, const platform::DeviceFilter* devices = nullptr);
