// Where a writer's bytes go: a small device interface, so that every writer can be driven by a
// device that fails (a disk that fills up after N bytes, a disk that reports an I/O error) as
// well as by a real file.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/write_failure.h"

namespace platform {

class OutputDevice {
public:
    virtual ~OutputDevice() = default;
    // Appends every byte at the device's end, or tells why not.
    virtual WriteFailure Write(std::string_view bytes) = 0;
    // Writes every byte at offset without moving the end that Write appends at.
    virtual WriteFailure WriteAt(std::string_view bytes, std::uint64_t offset) = 0;
    // Forces what was written to the disk.
    virtual WriteFailure Sync() = 0;
    // Ends the writing; the file itself is closed by whoever opened it.
    virtual WriteFailure Close() = 0;
};

// The device of a file open for writing. The descriptor stays its owner's: the device neither
// closes it nor outlives it.
std::unique_ptr<OutputDevice> FileDevice(int descriptor);

// What a job puts between its writers and their files: nothing in a conversion, a device that
// fails in a test. Wrap gets the device of every file the job writes and hands back the one
// the writer is to use.
class DeviceFilter {
public:
    virtual ~DeviceFilter() = default;
    virtual std::unique_ptr<OutputDevice> Wrap(std::unique_ptr<OutputDevice> file) const = 0;
};

// The device of descriptor as filter makes it (no filter: the file's own).
std::unique_ptr<OutputDevice> DeviceFor(int descriptor, const DeviceFilter* filter);

}  // namespace platform
