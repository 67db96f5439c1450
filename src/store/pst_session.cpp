#include "store/pst_session.h"

#include <cerrno>
#include <filesystem>

#include "platform/existing_file.h"
#include "platform/file_checks.h"
#include "platform/file_copy.h"
#include "platform/file_lock.h"
#include "platform/file_stream.h"
#include "platform/paths.h"
#include "store/mail_item.h"
#include "store/pst/messaging/checker.h"
#include "store/pst/messaging/extension.h"
#include "store/pst/messaging/store.h"

namespace store {

// One open store, shared by the objects reached from it; closed by log-off or when the last
// object goes away.
struct PstStoreHandle {
    // First member, so that it goes last: the lock is held until the store is closed or its
    // extended copy has replaced the original.
    std::unique_ptr<platform::FileLock> lock;
    std::unique_ptr<pst::messaging::Store> store;                 // a store this session creates
    std::unique_ptr<pst::messaging::StoreExtension> extension;    // or the working copy of one that exists
    // A new store is built under a hidden name and given its own once closed cleanly, so that
    // nothing half made (a failed or killed run) ever sits under a store's name.
    std::string build_path;
    std::string path;
    std::string display_name;
    std::string legacy_codepage;  // for the messages imported into this store
    bool open = true;

    ~PstStoreHandle() {
        try {
            Close();
        } catch (...) {
            // A destructor cannot report; Logoff is where failures surface.
        }
        RemoveBuild();
    }
    void Close() {
        if (!open) return;
        open = false;
        struct Unlock {
            PstStoreHandle& handle;
            ~Unlock() {
                handle.RemoveBuild();
                handle.lock.reset();
            }
        } unlock{*this};
        if (extension) {
            auto ext = std::move(extension);
            ext->Commit();
        } else if (store) {
            store->Close();  // written and forced to the disk
            store.reset();
            GiveTheBuildItsName();
        }
    }
    void GiveTheBuildItsName() {
        // Never over anything: with the lock held nobody of ours makes the name meanwhile, and
        // whatever else did keeps it.
        const int error = platform::MoveToFreeName(build_path, path);
        if (error != 0)
            throw pst::PstSystemError("cannot give the new store its name " + path,
                                      error == EEXIST ? platform::WriteFailure::kInTheWay : platform::WriteFailureOf(error));
        build_path.clear();
        bool opened = false;
        const std::filesystem::path folder = platform::FileSystemPath(path).parent_path();
        // The store is whole under its name; a folder that cannot be forced to the disk costs
        // only the name's durability after a power cut.
        (void)platform::SyncPath(folder.empty() ? "." : platform::Utf8PathText(folder), platform::SyncTarget::kFolder, opened);
    }
    void RemoveBuild() {
        store.reset();
        if (!build_path.empty()) platform::DeleteFile(build_path);
        build_path.clear();
    }
    pst::messaging::Store& Get() {
        if (open && extension) return extension->store();
        if (!open || !store) throw StoreFailure(FailureKind::kFailed, "the PST store was logged off");
        return *store;
    }
};

namespace {

// A failure of the engine becomes a COM-style error of the session.
template <typename F>
auto Guarded(const char* what, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const StoreFailure&) {
        throw;
    } catch (const pst::PstSystemError& e) {
        // A full disk is not a damaged store: the user frees space and runs again.
        throw StoreFailure(std::string(what) + ": " + e.what(), e.failure());
    } catch (const pst::PstError& e) {
        throw StoreFailure(FailureKind::kDamaged, std::string(what) + ": " + e.what());
    } catch (const std::exception& e) {
        throw StoreFailure(FailureKind::kFailed, std::string(what) + ": " + e.what());
    }
}

class PstStoreObject : public RDOStore {
public:
    explicit PstStoreObject(std::shared_ptr<PstStoreHandle> h) : handle_(std::move(h)) {}
    std::string DisplayName() override { return handle_->display_name; }
    std::shared_ptr<RDOFolder> RootFolder() override;

private:
    std::shared_ptr<PstStoreHandle> handle_;
};

// A message on its way into a PST folder.
class PstPreparedMail : public PreparedMail {
public:
    PstPreparedMail(std::shared_ptr<PstStoreHandle> handle, std::uint32_t folder, mapi::Message message)
        : handle_(std::move(handle)), folder_(folder), message_(std::move(message)) {
        prepared_ = Guarded("preparing a message for the PST store", [&] { return handle_->Get().Prepare(message_); });
    }
    // A message the folder holds already (by Message-ID, date and subject, or by content) is
    // not added a second time, whoever imports it.
    bool AddTo(const std::shared_ptr<PstStoreHandle>& handle, std::uint32_t folder) {
        if (added_) throw StoreFailure(FailureKind::kUnsupported, "the message was added already");
        if (handle != handle_ || folder != folder_)
            throw StoreFailure(FailureKind::kUnsupported, "the message was made ready for another folder");
        const auto outcome = Guarded("saving a message into the PST store", [&] {
            return handle_->Get().AddPreparedUnlessPresent(folder_, message_, std::move(prepared_));
        });
        added_ = true;
        return !outcome.already_there;
    }

private:
    std::shared_ptr<PstStoreHandle> handle_;
    std::uint32_t folder_;
    mapi::Message message_;
    pst::messaging::Store::Prepared prepared_;
    bool added_ = false;
};

class PstFolder;

class PstFolders : public RDOFolders {
public:
    PstFolders(std::shared_ptr<PstStoreHandle> h, std::uint32_t folder) : handle_(std::move(h)), folder_(folder) {}
    std::shared_ptr<RDOFolder> Add(const std::string& name, int folder_type) override;
    std::shared_ptr<RDOFolder> Find(const std::string& name) override;

private:
    std::shared_ptr<PstStoreHandle> handle_;
    std::uint32_t folder_;
};

class PstFolder : public RDOFolder {
public:
    PstFolder(std::shared_ptr<PstStoreHandle> h, std::uint32_t folder) : handle_(std::move(h)), folder_(folder) {}
    std::shared_ptr<PreparedMail> Prepare(mapi::Message message) override {
        return std::make_shared<PstPreparedMail>(handle_, folder_, std::move(message));
    }
    bool Add(PreparedMail& prepared) override {
        auto* ours = dynamic_cast<PstPreparedMail*>(&prepared);
        if (!ours) throw StoreFailure(FailureKind::kUnsupported, "the message was made ready for another store");
        return ours->AddTo(handle_, folder_);
    }
    std::shared_ptr<RDOFolders> Folders() override { return std::make_shared<PstFolders>(handle_, folder_); }

private:
    std::shared_ptr<PstStoreHandle> handle_;
    std::uint32_t folder_;
};

std::shared_ptr<RDOFolder> PstFolders::Add(const std::string& name, int folder_type) {
    if (folder_type != kOlFolderMail) throw StoreFailure(FailureKind::kUnsupported, "folder type " + std::to_string(folder_type) + " not supported");
    if (name.empty()) throw StoreFailure(FailureKind::kUnsupported, "a folder needs a name");
    auto nid = Guarded("adding a folder", [&] { return handle_->Get().AddFolder(folder_, name); });
    return std::make_shared<PstFolder>(handle_, nid);
}

std::shared_ptr<RDOFolder> PstFolders::Find(const std::string& name) {
    auto nid = Guarded("finding a folder", [&] { return handle_->Get().FindSubfolder(folder_, name); });
    return nid ? std::make_shared<PstFolder>(handle_, *nid) : nullptr;
}

std::shared_ptr<RDOFolder> PstStoreObject::RootFolder() {
    return std::make_shared<PstFolder>(handle_, Guarded("finding the top folder", [&] { return handle_->Get().ipm_subtree(); }));
}

}  // namespace

std::string PstStoreRefusal(const std::string& path) { return pst::messaging::ExtensionRefusal(path); }

std::string PstStoreLockPath(const std::string& path) {
    // Two names of one store (a link, a relative path) must meet at one lock.
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::weakly_canonical(platform::FileSystemPath(path), ec);
    return platform::NameBeside(ec ? path : platform::Utf8PathText(real), ".ombrik-lock");
}

void PstSession::SetStoreWait(std::function<void(const std::string& path)> waiting, std::function<bool()> give_up) {
    waiting_ = std::move(waiting);
    give_up_ = std::move(give_up);
}

PstSession::PstSession() = default;
PstSession::~PstSession() = default;

std::shared_ptr<RDOStore> PstSession::LogonPstStore(const std::string& path, int format) {
    if (format != kOlStoreUnicode) throw StoreFailure(FailureKind::kUnsupported, "only Unicode PST stores are supported");
    if (path.empty()) throw StoreFailure(FailureKind::kUnsupported, "no PST store path");
    const std::string lock_path = PstStoreLockPath(path);
    // Our own lock would be waited for in vain, and two working copies of one store would
    // replace each other.
    for (const auto& open : stores_)
        if (open->open && open->lock && open->lock->path() == lock_path)
            throw StoreFailure(FailureKind::kUnsupported, "the PST store " + path + " is open in this session already");
    auto handle = std::make_shared<PstStoreHandle>();
    try {
        handle->lock = platform::FileLock::Acquire(
            lock_path, [&] { if (waiting_) waiting_(path); }, give_up_);
    } catch (const std::runtime_error& e) {
        throw StoreFailure(FailureKind::kFailed, "the PST store " + path + " cannot be locked against other programs (" +
                                               e.what() + ")");
    }
    if (!handle->lock)
        throw StoreFailure(FailureKind::kCancelled, "another conversion is still adding to the PST store " + path +
                                                "; the wait for it was interrupted and nothing was written to the "
                                                "store. Run this conversion again when the other one has finished");
    handle->legacy_codepage = legacy_codepage_;
    std::error_code ec;
    if (std::filesystem::exists(platform::FileSystemPath(path), ec)) {
        // Never opened unless it is a plain file: a FIFO or a device would block the reader.
        const std::string not_readable = platform::ReadableFileRefusal(path);
        if (!not_readable.empty())
            throw StoreFailure(FailureKind::kNotFound, "the PST store " + path + " " + not_readable +
                                                  "; choose an Outlook data file (.pst) or let the export create a "
                                                  "new store");
        // The user's store is never written in place: a checked copy replaces it at log-off.
        const std::string refusal = PstStoreRefusal(path);
        if (!refusal.empty()) throw StoreFailure(FailureKind::kDamaged, refusal);
        handle->extension =
            Guarded("opening the PST store", [&] { return pst::messaging::StoreExtension::Begin(path, devices_, extension_observer_); });
    } else {
        const std::string name = platform::Utf8PathText(platform::FileSystemPath(path).stem());
        const std::filesystem::path folder = platform::FileSystemPath(path).parent_path();
        pst::messaging::StoreExtension::RemoveStaleCopies(platform::Utf8PathText(folder));
        handle->path = path;
        handle->build_path = pst::messaging::NewStoreBuildPath(path);
        handle->store = Guarded("creating the PST store", [&] {
            return pst::messaging::Store::Create(handle->build_path, name.empty() ? "Personal Folders" : name,
                                                 pst::ndb::CryptMethod::Permute, devices_);
        });
    }
    handle->display_name = Guarded("reading the store name", [&] { return handle->Get().display_name(); });
    stores_.push_back(handle);
    return std::make_shared<PstStoreObject>(handle);
}

void PstSession::Logoff() {
    auto stores = std::move(stores_);
    stores_.clear();
    for (auto& handle : stores) Guarded("closing the PST store", [&] { handle->Close(); });
}

}  // namespace store
