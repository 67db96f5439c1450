// Adding folders and messages to a store that exists, without ever writing into it: the work
// goes into a private copy beside it, which is checked and then renamed over the original. A
// failure, a full disk or a killed process at any moment leaves the original as it was.
#pragma once

#include <functional>
#include <cstdint>
#include <memory>
#include <vector>
#include <string>

#include "store/pst/messaging/store.h"

namespace pst::messaging {

// A hidden name beside path under which a new store is built, to be given path's name only once
// it is closed; a later run removes it if this one is killed (RemoveStaleCopies).
std::string NewStoreBuildPath(const std::string& path);

// Why the store at path cannot be extended safely, with what the user can do about it; empty
// when it can. Reads the file only.
std::string ExtensionRefusal(const std::string& path);

class StoreExtension {
public:
    // Refuses (PstError with the refusal text) or copies the store and opens the copy, which is
    // written through devices (none: the file itself).
    static std::unique_ptr<StoreExtension> Begin(const std::string& path, const platform::DeviceFilter* devices = nullptr);
    // Removes the copy unless Commit succeeded.
    ~StoreExtension();
    StoreExtension(const StoreExtension&) = delete;
    StoreExtension& operator=(const StoreExtension&) = delete;

    Store& store() { return *store_; }
    const std::string& copy_path() const { return copy_path_; }
    // Writes the copy, checks that it gained no structural fault, makes it durable and puts it
    // in place of the original. On failure the original stays and the copy is removed.
    void Commit();

    // Called at each step of the swap ("copied", "closed", "checked", "synced", "renamed"), to fail
    // or stop a test there.
    static void SetStepHookForTesting(std::function<void(const std::string&)> hook);

    // Copies and new stores left unfinished by a run that was killed: ours by their name, their
    // process gone.
    static void RemoveStaleCopies(const std::string& directory);

private:
    StoreExtension() = default;
    void Discard() noexcept;

    std::string path_;
    std::string copy_path_;
    unsigned original_mode_ = 0600;
    long original_uid_ = -1, original_gid_ = -1;
    std::vector<std::uint64_t> known_findings_;  // fingerprints of what the original already had, sorted
    std::unique_ptr<Store> store_;
    bool done_ = false;
};

}  // namespace pst::messaging
