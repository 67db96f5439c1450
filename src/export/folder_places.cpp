#include "export/folder_places.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

#include "export/destination_memory.h"

namespace {

constexpr const char* kFirstLine = "ombrik folder places 1";
constexpr std::size_t kMaxLines = 10000000;
constexpr std::size_t kKeysPerLine = 1000;
constexpr int kMaxNumbered = 1000;

std::string Folded(const std::string& name) {
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    return key;
}

// A name in a line of the memory: the tab and line break that part its fields are written as
// %09 and %0A (and % itself as %25).
std::string Escaped(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == '%')
            out += "%25";
        else if (c == '\t')
            out += "%09";
        else if (c == '\n')
            out += "%0A";
        else if (c == '\r')
            out += "%0D";
        else
            out += c;
    }
    return out;
}

bool Unescaped(const std::string& text, std::string& name) {
    name.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            name += text[i];
            continue;
        }
        const std::string code = text.substr(i + 1, 2);
        if (code == "25")
            name += '%';
        else if (code == "09")
            name += '\t';
        else if (code == "0A")
            name += '\n';
        else if (code == "0D")
            name += '\r';
        else
            return false;
        i += 2;
    }
    return !name.empty();
}

bool IsShortKey(std::string_view key) {
    if (key.size() != FolderPlaces::kShortKeyDigits) return false;
    return std::all_of(key.begin(), key.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::uint64_t ShortKeyValue(std::string_view digits) {
    std::uint64_t value = 0;
    for (char c : digits) value = value << 4 | static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    return value;
}

// The key as the memory writes it: 16 lowercase hexadecimal digits, which sort as the numbers do.
void AppendShortKey(std::string& line, std::uint64_t key) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int shift = 60; shift >= 0; shift -= 4) line += kDigits[(key >> shift) & 15];
}

// Adds keys to the sorted set held in sorted; true when one was new.
bool MergeKeys(std::vector<std::uint64_t>& sorted, std::vector<std::uint64_t> keys) {
    if (keys.empty()) return false;
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    const std::size_t before = sorted.size();
    const auto middle = static_cast<std::ptrdiff_t>(before);
    sorted.insert(sorted.end(), keys.begin(), keys.end());
    std::inplace_merge(sorted.begin(), sorted.begin() + middle, sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    return sorted.size() != before;
}

// A source is remembered per name: the same bytes added under another file name are another
// folder's business.
std::string SourceKey(const std::string& base, const std::string& digest) { return Folded(base) + "\n" + digest; }

bool SplitAtTab(const std::string& text, std::string& left, std::string& right) {
    const std::size_t tab = text.find('\t');
    if (tab == std::string::npos) return false;
    left = text.substr(0, tab);
    right = text.substr(tab + 1);
    return true;
}

}  // namespace

FolderPlaces::FolderPlaces(std::string memory_path) : path_(std::move(memory_path)) {
    if (!Load(path_)) {
        damaged_ = true;
        folders_.clear();
        folder_of_source_.clear();
    }
}

bool FolderPlaces::Load(const std::string& path) {
    bool damaged = false;
    const auto entries = ReadDestinationMemory(path, kFirstLine, kMaxLines, &damaged);
    if (damaged) return false;
    for (const auto& [kind, value] : entries) {
        std::string left, right, name;
        if (!SplitAtTab(value, left, right)) return false;
        if (kind == "folder") {
            std::string base;
            if (!Unescaped(left, name) || !Unescaped(right, base)) return false;
            if (!folders_.emplace(Folded(name), Folder{name, base, {}, {}}).second) return false;
        } else if (kind == "source") {
            if (!IsSha256Text(left) || !Unescaped(right, name)) return false;
            const auto folder = folders_.find(Folded(name));
            if (folder == folders_.end()) return false;
            folder->second.sources.insert(left);
            folder_of_source_[SourceKey(folder->second.base, left)] = folder->first;
        } else if (kind == "keys") {
            if (!Unescaped(left, name)) return false;
            const auto folder = folders_.find(Folded(name));
            if (folder == folders_.end()) return false;
            std::vector<std::uint64_t> keys;
            const std::string_view line = right;
            for (std::size_t at = 0; at <= line.size();) {
                std::size_t end = line.find(' ', at);
                if (end == std::string::npos) end = line.size();
                const std::string_view key = line.substr(at, end - at);
                if (!IsShortKey(key)) return false;
                keys.push_back(ShortKeyValue(key));
                at = end + 1;
            }
            MergeKeys(folder->second.keys, std::move(keys));
        } else {
            return false;
        }
    }
    return true;
}

FolderPlaces::Folder& FolderPlaces::FolderNamed(const std::string& name, const std::string& base) {
    auto [at, added] = folders_.emplace(Folded(name), Folder{name, base, {}, {}});
    if (added) changed_ = true;
    return at->second;
}

void FolderPlaces::Claim(const std::string& name, const std::string& base, const std::string& source_digest) {
    claimed_in_job_.emplace(Folded(name), source_digest);
    if (source_digest.empty()) return;
    Folder& folder = FolderNamed(name, base);
    const std::string folded = Folded(name);
    if (folder.sources.insert(source_digest).second) changed_ = true;
    // A source has one folder of a name: one placed anew (its old folder's memory was lost) moves.
    const std::string source_key = SourceKey(base, source_digest);
    const auto before = folder_of_source_.find(source_key);
    if (before != folder_of_source_.end() && before->second != folded) {
        folders_[before->second].sources.erase(source_digest);
        changed_ = true;
    }
    folder_of_source_[source_key] = folded;
}

std::optional<std::string> FolderPlaces::PlaceWithoutDigest(const std::string& base,
                                                           const std::function<std::string(int)>& numbered,
                                                           const std::function<bool(const std::string&)>& taken_in_job) const {
    // A remembered folder of the family is looked up by the digest, and a folder this job gave is
    // another source's or this one's by its digest; with neither, the digest decides nothing.
    for (const auto& [folded, folder] : folders_)
        if (Folded(folder.base) == Folded(base)) return std::nullopt;
    for (int n = 1; n <= kMaxNumbered; ++n) {
        const std::string name = numbered(n);
        const std::string folded = Folded(name);
        if (claimed_in_job_.count(folded) != 0) return std::nullopt;
        if (!taken_in_job(name) && (n == 1 || folders_.count(folded) == 0)) return name;
    }
    return std::nullopt;
}

void FolderPlaces::SettlePendingClaim() {
    if (!pending_claim_) return;
    const PendingClaim pending = std::move(*pending_claim_);
    pending_claim_.reset();
    Claim(pending.name, pending.base, pending.digest.get());
}

bool FolderPlaces::DigestMatters(const std::string& base, const std::function<std::string(int)>& numbered,
                                 const std::function<bool(const std::string&)>& taken_in_job) {
    SettlePendingClaim();
    return !PlaceWithoutDigest(base, numbered, taken_in_job);
}

std::string FolderPlaces::Place(const std::string& base, const std::shared_future<std::string>& source_digest,
                                const std::function<std::string(int)>& numbered,
                                const std::function<bool(const std::string&)>& taken_in_job,
                                const std::function<std::vector<std::uint64_t>()>& source_keys) {
    SettlePendingClaim();
    if (std::optional<std::string> name = PlaceWithoutDigest(base, numbered, taken_in_job)) {
        pending_claim_ = PendingClaim{*name, base, source_digest};
        return *name;
    }
    return Place(base, source_digest.get(), numbered, taken_in_job, source_keys);
}

std::string FolderPlaces::Place(const std::string& base, const std::string& source_digest,
                                const std::function<std::string(int)>& numbered,
                                const std::function<bool(const std::string&)>& taken_in_job,
                                const std::function<std::vector<std::uint64_t>()>& source_keys) {
    SettlePendingClaim();
    const auto claim = [&](const std::string& name) {
        Claim(name, base, source_digest);
        return name;
    };
    const auto claimed_by_other = [&](const std::string& folded) {
        const auto found = claimed_in_job_.find(folded);
        return found != claimed_in_job_.end() && (source_digest.empty() || found->second != source_digest);
    };
    if (!source_digest.empty()) {
        const auto remembered = folder_of_source_.find(SourceKey(base, source_digest));
        if (remembered != folder_of_source_.end()) return claim(folders_[remembered->second].name);
    }
    std::vector<const Folder*> family;
    if (!source_digest.empty())
        for (const auto& [folded, folder] : folders_)
            if (Folded(folder.base) == Folded(base)) family.push_back(&folder);
    if (family.empty()) {
        // No memory of the name: the rule of one job.
        for (int n = 1; n <= kMaxNumbered; ++n) {
            const std::string name = numbered(n);
            const std::string folded = Folded(name);
            if (!taken_in_job(name) && !claimed_by_other(folded) && (n == 1 || folders_.count(folded) == 0))
                return claim(name);
        }
        return claim(numbered(kMaxNumbered));
    }
    // A grown or shrunk copy of a folder converted before: the one it shares the most with.
    const std::vector<std::uint64_t> keys = source_keys();
    const Folder* best = nullptr;
    std::size_t best_shared = 0;
    for (const Folder* folder : family) {
        if (claimed_by_other(Folded(folder->name))) continue;
        const std::size_t shared = static_cast<std::size_t>(
            std::count_if(keys.begin(), keys.end(), [&](std::uint64_t key) {
                return std::binary_search(folder->keys.begin(), folder->keys.end(), key);
            }));
        if (shared > best_shared) {
            best = folder;
            best_shared = shared;
        }
    }
    if (best != nullptr) return claim(best->name);
    // Every folder of the name is another source's: the next name nobody has.
    for (int n = 1; n <= kMaxNumbered; ++n) {
        const std::string name = numbered(n);
        const std::string folded = Folded(name);
        if (folders_.count(folded) == 0 && !taken_in_job(name) && claimed_in_job_.count(folded) == 0) return claim(name);
    }
    return claim(numbered(kMaxNumbered));
}

std::uint64_t FolderPlaces::ShortKey(const std::string& key) {
    const std::string_view digits = std::string_view(key).substr(0, kShortKeyDigits);
    return IsShortKey(digits) ? ShortKeyValue(digits) : 0;
}

void FolderPlaces::RememberMessages(const std::string& folder_name, const std::vector<std::uint64_t>& keys) {
    SettlePendingClaim();
    const auto folder = folders_.find(Folded(folder_name));
    if (folder == folders_.end()) return;  // a source that could not be read is not remembered
    if (MergeKeys(folder->second.keys, keys)) changed_ = true;
}

std::string FolderPlaces::Save() {
    SettlePendingClaim();
    if (!changed_ || path_.empty()) return {};
    DestinationMemoryWriter writer(path_, kFirstLine);
    for (const auto& [folded, folder] : folders_) writer.Add("folder", Escaped(folder.name) + "\t" + Escaped(folder.base));
    std::string line;
    for (const auto& [folded, folder] : folders_) {
        const std::string name = Escaped(folder.name);
        for (const std::string& source : folder.sources) writer.Add("source", source + "\t" + name);
        // A folder's keys go out a line at a time: only one line's text is ever held.
        for (std::size_t first = 0; first < folder.keys.size(); first += kKeysPerLine) {
            line = name;
            line += '\t';
            const std::size_t end = std::min(folder.keys.size(), first + kKeysPerLine);
            for (std::size_t k = first; k < end; ++k) {
                if (k != first) line += ' ';
                AppendShortKey(line, folder.keys[k]);
            }
            writer.Add("keys", line);
        }
    }
    const std::string failure = writer.Finish();
    if (failure.empty()) changed_ = false;
    return failure;
}
