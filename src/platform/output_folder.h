// A folder a conversion writes into, held open: the folders below it are entered without ever
// following a link, and files are made and looked at relative to it. A link planted at the name
// of a folder that Ombrik makes or enters cannot send the output anywhere else, even when it is
// planted while the conversion runs.
#pragma once

#include <string>
#include <string_view>

#include "platform/existing_file.h"
#include "platform/paths.h"
#include "platform/write_failure.h"

namespace platform {

class OutputFolder {
public:
    OutputFolder() = default;
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;
    OutputFolder(OutputFolder&& other) noexcept;
    OutputFolder& operator=(OutputFolder&& other) noexcept;

    // Opens the folder at path. Its last component must be the folder itself, not a link to
    // one; the folders above it are the user's choice and are taken as they are.
    WriteFailure Open(const std::string& path);
    // Opens the folder name inside this one into child, making it when missing; a link, a file
    // or a name that is no single component ("", ".", "..", "a/b") is refused.
    WriteFailure OpenChild(const std::string& name, OutputFolder& child) const;
    // Makes an empty file name here unless something is there already, which is left as it is.
    WriteFailure MakeEmptyFileUnlessThere(const std::string& name) const;
    // What is at name here (no link followed), compared with bytes as CompareWithExisting does.
    ExistingFile Compare(const std::string& name, std::string_view bytes) const;
    // Removes the hidden temporary files that writers of processes that no longer run left here
    // (".Inbox.mbox.1234.part"): a killed conversion's unfinished files.
    void RemoveStaleTemporaries() const;

    bool is_open() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    std::string PathOf(const std::string& name) const;
    int descriptor() const { return fd_; }

private:
    int fd_ = -1;
    std::string path_;
};

// A hidden temporary name for name in the same folder, unique to this process and kept within
// kNameLimit however long name is: ".Inbox.mbox.1234.part"; attempt > 0 gives another one.
std::string TemporaryNameFor(const std::string& name, int attempt = 0);

}  // namespace platform
