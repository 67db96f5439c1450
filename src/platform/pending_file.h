// A file written beside its name and given the name only once it is whole, never replacing
// anything: a failed write, a full disk or a killed process leaves nothing under the name.
// Where the system makes nameless files (Linux), the file has no name at all until it is
// placed, so nothing is left behind however the program ends; elsewhere it has a hidden
// temporary name (TemporaryNameFor), which a later run removes if this one was killed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/existing_file.h"
#include "platform/output_device.h"
#include "platform/output_folder.h"
#include "platform/write_failure.h"

namespace platform {

class PendingFile {
public:
    PendingFile() = default;
    ~PendingFile();  // a file not placed is removed
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // A new file in folder, meant for name; its device goes through filter (none: the file
    // itself). read_back lets CompareWith read the file.
    WriteFailure Begin(const OutputFolder& folder, const std::string& name, const DeviceFilter* filter = nullptr,
                       bool read_back = false);
    // The same with the name made only when it is needed: a nameless file needs none, and
    // making a message's name costs about as much as writing a small message.
    WriteFailure Begin(const OutputFolder& folder, const std::function<std::string()>& name,
                       const DeviceFilter* filter = nullptr, bool read_back = false);
    OutputDevice& device() { return *device_; }

    // The file's modification (and access) time as a FILETIME (100 ns ticks since 1601 UTC),
    // so that a file manager sorts messages by when they arrived; false when it was not set.
    bool SetTime(std::uint64_t filetime);

    // Gives the file the name in its folder when nothing is there. taken: something is (a file,
    // a link, a folder), and nothing was replaced.
    WriteFailure Place(const std::string& name, bool& taken);
    // The same where what holds the name is an empty plain file: nothing of anyone's is lost by
    // putting the file in its place. taken: something else is there.
    WriteFailure PlaceOverEmptyFile(const std::string& name, bool& taken);
    // The same where a plain file of anyone's may hold the name and is to be replaced in one
    // step (a small state file written whole again): a reader sees the old file or the new one.
    // A link or a folder at name is refused, never replaced.
    WriteFailure PlaceReplacingFile(const std::string& name);
    // What is at name in the folder compared with this file's bytes (needs read_back).
    ExistingFile CompareWith(const std::string& name) const;

    // Ends the writing once the file is placed; when the device or the close fails, the name
    // just given is removed again and the failure returned.
    WriteFailure Finish();
    // Closes and removes a file not placed.
    void Abandon();

    bool is_open() const { return fd_ >= 0; }

private:
    WriteFailure Link(const std::string& name, bool& taken);
    WriteFailure RenameOnto(const std::string& name);

    int fd_ = -1;
    int folder_fd_ = -1;  // the folder's descriptor, which the folder keeps open
    std::string temporary_name_;  // empty for a nameless file
    std::string placed_name_;
    std::unique_ptr<OutputDevice> device_;
};

}  // namespace platform
