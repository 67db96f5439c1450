#include "store/pst/messaging/extension.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/file_checks.h"
#include "platform/file_copy.h"
#include "platform/file_owner.h"
#include "platform/file_stream.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/random_access_file.h"
#include "store/pst/messaging/checker.h"
#include "store/pst/ndb/format.h"

namespace pst::messaging {

namespace {

namespace fs = std::filesystem;

constexpr const char* kCopyPrefix = ".ombrik-extend-";
constexpr const char* kNewStorePrefix = ".ombrik-new-";
constexpr const char* kCopySuffix = ".pst.tmp";

constexpr std::uint64_t kUnicodeCryptOffset = 513;  // bCryptMethod of a Unicode header


std::string FindingKey(const CheckFinding& f) { return f.code + ": " + f.detail; }

struct FileHead {
    bool pst = false;
    bool ost = false;
    std::uint16_t wVer = 0;
    std::uint8_t bCryptMethod = 0;
};

FileHead ReadFileHead(const std::string& path) {
    FileHead head;
    platform::RandomAccessFile file;
    if (int err = file.Open(path, platform::RandomAccessFile::Access::kRead))
        throw PstSystemError("cannot open " + path, err);
    std::uint8_t buf[12] = {};
    const std::int64_t n = file.ReadAt(buf, sizeof buf, 0);
    if (n == static_cast<std::int64_t>(sizeof buf) && std::memcmp(buf, "!BDN", 4) == 0 && std::memcmp(buf + 8, "SO", 2) == 0) {
        head.ost = true;
    } else if (n == static_cast<std::int64_t>(sizeof buf) && std::memcmp(buf, "!BDN", 4) == 0) {
        head.pst = true;
        head.wVer = static_cast<std::uint16_t>(buf[10] | (buf[11] << 8));
        std::uint8_t crypt = 0;
        if (head.wVer >= 23 && file.ReadAt(&crypt, 1, kUnicodeCryptOffset) == 1) head.bCryptMethod = crypt;
    }
    return head;
}

void SyncPath(const std::string& path, platform::SyncTarget target) {
    bool opened = false;
    if (int err = platform::SyncPath(path, target, opened))
        throw PstSystemError(opened ? "cannot flush " + path + " to disk" : "cannot open " + path, err);
}

// Copies src into a new file dst (which must not exist), reporting a full disk as it happens.
void CopyFileContents(const std::string& src, const std::string& dst) {
    platform::RandomAccessFile in;
    if (int err = in.Open(src, platform::RandomAccessFile::Access::kRead))
        throw PstSystemError("cannot open " + src, err);
    const int out_fd = platform::OpenOutputDescriptor(dst, platform::OutputMode::kCreateNew, true, true);
    if (out_fd < 0) throw PstSystemError("cannot create the working copy " + dst, -out_fd);
    platform::RandomAccessFile out(out_fd);
    int err = platform::CopyFileBytes(in, out);
    in.Close();
    if (int close_err = out.Close(); close_err != 0 && err == 0) err = close_err;
    if (err != 0) throw PstSystemError("cannot write the working copy " + dst, err);
}

// ".ombrik-extend-<pid>-<n>.pst.tmp" beside path: short whatever path's name, so that it always
// fits where path does.
std::string NewPathBeside(const std::string& path, const char* prefix) {
    static std::atomic<unsigned> counter{0};
    fs::path dir = platform::FileSystemPath(path).parent_path();
    std::string name = std::string(prefix) + std::to_string(platform::CurrentProcessId()) + "-" +
                       std::to_string(counter++) + kCopySuffix;
    return platform::Utf8PathText(dir.empty() ? fs::path(name) : dir / name);
}

std::string NewCopyPath(const std::string& path) { return NewPathBeside(path, kCopyPrefix); }

}  // namespace

namespace {

std::uint64_t FindingHash(const CheckFinding& f) { return std::hash<std::string>{}(FindingKey(f)); }

// The refusal text (empty when none) and, once the file got that far, the fingerprints of every
// finding the checker made, sorted.
std::string RefusalAndFindings(const std::string& path, std::vector<std::uint64_t>* findings_out) {
    const std::string what = "the PST store " + path;
    FileHead head;
    try {
        head = ReadFileHead(path);
    } catch (const PstError& e) {
        return what + " cannot be read (" + e.what() + ")";
    }
    if (head.ost)
        return "the store " + path + " is an offline store (OST): Outlook's local copy of a mail server account, "
                                     "kept for that account alone, which cannot be extended; choose a .pst file or "
                                     "let the export create a new store (to keep its mail in a .pst, export it in "
                                     "Outlook with File, Open & Export, Import/Export)";
    if (!head.pst) return what + " is not a PST file; choose an Outlook data file (.pst) or let the export create a new store";
    if (head.wVer == 14 || head.wVer == 15)
        return what + " is in the old ANSI format of Outlook 97-2002, which cannot be extended; convert it to a "
                      "Unicode store in Outlook, or let the export create a new store";
    if (head.wVer >= 36)
        return what + " uses 4 KB pages, a layout that cannot be extended yet; choose a store with the usual "
                      "512-byte pages, or let the export create a new store";
    if (head.wVer < 23) return what + " has an unknown format version " + std::to_string(head.wVer) + " and is left alone";
    if (head.bCryptMethod == 0x02)
        return what + " uses the \"high\" encoding, which cannot be extended yet; set it to \"compressible\" "
                      "in Outlook (export to a new data file), or let the export create a new store";
    if (head.bCryptMethod == 0x10)
        return what + " is protected by Windows Information Protection, which only Outlook on a machine of its "
                      "organisation can open; choose another store, or let the export create a new store";
    if (head.bCryptMethod > 1)
        return what + " uses an unknown encoding (" + std::to_string(head.bCryptMethod) +
               ") and is left alone; choose another store, or let the export create a new store";
    try {
        auto store = Store::Open(path, false);
        if (store->password_crc() != 0)
            return what + " is protected by a password, which we do not bypass; remove the password in Outlook "
                          "(Data File Settings, Change Password) or let the export create a new store";
    } catch (const std::exception& e) {
        return what + " is damaged (" + e.what() +
               "); repair it with Outlook's Inbox Repair Tool (scanpst.exe) or let the export create a new store";
    }
    std::optional<CheckFinding> damage;
    std::vector<std::uint64_t> findings;
    CheckPstFile(path, [&](const CheckFinding& f) {
        if (!damage && !IsMinorInconsistency(f.code)) damage = f;
        findings.push_back(FindingHash(f));
    });
    if (damage)
        return what + " is damaged (" + damage->code + ": " + damage->detail +
               "); repair it with Outlook's Inbox Repair Tool (scanpst.exe) or let the export create a new store";
    std::sort(findings.begin(), findings.end());
    if (findings_out) *findings_out = std::move(findings);
    return {};
}

}  // namespace

std::string ExtensionRefusal(const std::string& path) { return RefusalAndFindings(path, nullptr); }

std::string NewStoreBuildPath(const std::string& path) { return NewPathBeside(path, kNewStorePrefix); }

std::unique_ptr<StoreExtension> StoreExtension::Begin(const std::string& path, const platform::DeviceFilter* devices,
                                                      ExtensionObserver observer) {
    // The symbolic link's target is what gets checked, copied and replaced.
    std::error_code ec;
    const fs::path real = fs::canonical(platform::FileSystemPath(path), ec);
    const std::string target = ec ? path : platform::Utf8PathText(real);
    std::vector<std::uint64_t> findings;
    const std::string refusal = RefusalAndFindings(target, &findings);
    if (!refusal.empty()) throw PstError(refusal);
    // The owner's read-only mark is respected even by a user who could write anyway.
    if (!platform::WritableFile(path))
        throw PstError("the PST store " + path +
                       " is read-only; allow writing to it, or let the export create a new store");
    std::unique_ptr<StoreExtension> ext(new StoreExtension());
    ext->path_ = target;
    ext->observer_ = std::move(observer);
    ext->known_findings_ = std::move(findings);
    if (const auto original = platform::OwnerAndModeOf(ext->path_)) {
        ext->original_mode_ = original->mode;
        ext->original_uid_ = original->uid;
        ext->original_gid_ = original->gid;
    }
    RemoveStaleCopies(platform::Utf8PathText(platform::FileSystemPath(ext->path_).parent_path()));
    ext->copy_path_ = NewCopyPath(ext->path_);
    try {
        CopyFileContents(ext->path_, ext->copy_path_);
        ext->Step(ExtensionStep::kCopied);
        ext->store_ = Store::Open(ext->copy_path_, true, devices);
        ext->store_->database().ReserveSubnodeIndices();
    } catch (...) {
        ext->Discard();
        throw;
    }
    return ext;
}

StoreExtension::~StoreExtension() { Discard(); }

void StoreExtension::Discard() noexcept {
    if (done_) return;
    done_ = true;
    store_.reset();
    if (!copy_path_.empty()) platform::DeleteFile(copy_path_);
}

void StoreExtension::Commit() {
    if (done_) throw PstError("the store extension has ended already");
    try {
        store_->Close();
        store_.reset();
        Step(ExtensionStep::kClosed);
        // Every finding is looked at, not only the first thousand a report keeps.
        std::optional<CheckFinding> added;
        CheckPstFile(copy_path_, [&](const CheckFinding& f) {
            if (!added && !std::binary_search(known_findings_.begin(), known_findings_.end(), FindingHash(f))) added = f;
        });
        if (added)
            throw PstError("the extended store failed its check (" + FindingKey(*added) + "); " + path_ +
                           " was left as it was");
        Step(ExtensionStep::kChecked);
        // The replacement keeps the owner and mode of the original where we may set them.
        if (original_uid_ >= 0) {
            const int err = platform::SetOwner(copy_path_, original_uid_, original_gid_);
            if (err != 0 && err != EPERM) throw PstSystemError("cannot set the owner of " + copy_path_, err);
        }
        if (int err = platform::SetMode(copy_path_, original_mode_))
            throw PstSystemError("cannot set the mode of " + copy_path_, err);
        SyncPath(copy_path_, platform::SyncTarget::kFile);
        Step(ExtensionStep::kSynced);
        if (const int err = platform::RenameReplacing(copy_path_, path_)) throw PstSystemError("cannot replace " + path_, err);
        done_ = true;
        Step(ExtensionStep::kRenamed);
        fs::path dir = platform::FileSystemPath(path_).parent_path();
        SyncPath(dir.empty() ? "." : platform::Utf8PathText(dir), platform::SyncTarget::kFolder);
    } catch (...) {
        Discard();
        throw;
    }
}

void StoreExtension::RemoveStaleCopies(const std::string& directory) {
    std::error_code ec;
    const fs::path dir = directory.empty() ? fs::path(".") : platform::FileSystemPath(directory);
    const std::string suffix = kCopySuffix;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = platform::Utf8PathText(it->path().filename());
        const std::string prefix = name.rfind(kNewStorePrefix, 0) == 0 ? kNewStorePrefix : kCopyPrefix;
        if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        const std::size_t dash = middle.find('-');
        if (dash == std::string::npos || dash == 0 || middle.find_first_not_of("0123456789-") != std::string::npos) continue;
        long pid = std::strtol(middle.substr(0, dash).c_str(), nullptr, 10);
        if (pid <= 0 || pid == platform::CurrentProcessId() || platform::ProcessRunning(pid)) continue;
        if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
        fs::remove(it->path(), ec);
    }
}

}  // namespace pst::messaging
