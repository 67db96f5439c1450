// The folders a destination (or a PST store) gave to the folder files converted into it, kept
// from run to run, so that a folder file goes to the same folder whatever rows come with it or
// before it. A source is known by the digest of its bytes; a copy of it that grew or shrank
// since is known by the messages it shares with a folder (the key the PST duplicate check uses).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

class FolderPlaces {
public:
    // No memory: every folder by the rule of one job.
    FolderPlaces() = default;
    // The memory in the file at memory_path; none when it is missing or damaged (damaged()).
    explicit FolderPlaces(std::string memory_path);

    bool damaged() const { return damaged_; }
    const std::string& path() const { return path_; }

    // The folder of a source whose folder is base (numbered(n) its n-th name, numbered(1) base
    // itself; taken_in_job: a name this job gave to something else already). In this order: the
    // folder of base's family (base and its numbered names) remembered for the digest; a remembered folder of base's family, not given to
    // another source in this job, that holds messages of source_keys() (asked only then); the
    // first name nobody remembers when base's family is all other sources'; and with no memory
    // of the family, the first name this job has not given. An empty digest (the file could
    // not be read) is placed by the last rule and not remembered.
    std::string Place(const std::string& base, const std::string& source_digest,
                      const std::function<std::string(int)>& numbered,
                      const std::function<bool(const std::string&)>& taken_in_job,
                      const std::function<std::vector<std::uint64_t>()>& source_keys);

    // The same while the source's digest is still being computed (reading a large folder file
    // whole takes about as long as converting it): where nothing remembered of base's family and
    // no folder given in this job could make the digest matter, as on a first run into a
    // destination, the folder is chosen at once and the digest is taken in with the next call
    // that needs it (Place, RememberMessages, Save); otherwise it is waited for here. The folder
    // is the one the call with the digest in hand gives.
    std::string Place(const std::string& base, const std::shared_future<std::string>& source_digest,
                      const std::function<std::string(int)>& numbered,
                      const std::function<bool(const std::string&)>& taken_in_job,
                      const std::function<std::vector<std::uint64_t>()>& source_keys);

    // Whether Place would wait for a digest still being computed: false where the folder can be
    // chosen without it.
    bool DigestMatters(const std::string& base, const std::function<std::string(int)>& numbered,
                       const std::function<bool(const std::string&)>& taken_in_job);

    // Notes that the folder's output holds the messages of these keys (ShortKey of
    // WrittenMessages::KeyOf).
    void RememberMessages(const std::string& folder_name, const std::vector<std::uint64_t>& keys);

    // Writes the memory back when it changed; empty, or why not.
    std::string Save();

    static constexpr const char* kFileName = ".ombrik-folders";
    // A message is remembered by this many hexadecimal digits of its key: enough to tell the
    // messages of a folder apart, small enough for a memory of millions of messages.
    static constexpr std::size_t kShortKeyDigits = 16;
    // Those digits of a key as a number (kept as 8 bytes, where a set of strings costs about 100
    // a message); 0 for a key that does not start with them.
    static std::uint64_t ShortKey(const std::string& key);

private:
    struct Folder {
        std::string name;
        std::string base;
        std::set<std::string> sources;
        std::vector<std::uint64_t> keys;  // sorted, each once
    };
    bool Load(const std::string& path);
    Folder& FolderNamed(const std::string& name, const std::string& base);
    void Claim(const std::string& name, const std::string& base, const std::string& source_digest);
    // The first-run rule's folder when no digest could change it; none when one could.
    std::optional<std::string> PlaceWithoutDigest(const std::string& base, const std::function<std::string(int)>& numbered,
                                                  const std::function<bool(const std::string&)>& taken_in_job) const;
    // Makes the claim of a folder placed before its digest was known.
    void SettlePendingClaim();

    struct PendingClaim {
        std::string name;
        std::string base;
        std::shared_future<std::string> digest;
    };
    std::optional<PendingClaim> pending_claim_;

    std::string path_;
    bool damaged_ = false;
    bool changed_ = false;
    std::map<std::string, Folder> folders_;                 // by folded name
    std::map<std::string, std::string> folder_of_source_;   // folded base, digest -> folded folder name
    std::map<std::string, std::string> claimed_in_job_;     // folded folder name -> source digest
};
