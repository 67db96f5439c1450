// The destination's memory of the messages written into it and from which source, for runs
// that leave out a message another source wrote already (--skip-duplicates): two backups of
// one mailbox give each message once. A message is known as the PST duplicate check knows it:
// by its Message-ID, Date and Subject, or without a Message-ID by the digest of its bytes.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class WrittenMessages {
public:
    // The memory of destination_path; empty when it has none (a line that is not two digests is
    // passed over).
    explicit WrittenMessages(std::string destination_path);

    // The key of a message's text by the rule above.
    static std::string KeyOf(std::string_view text);
    // The digest of the folder file at path, read once per path.
    std::string SourceDigest(const std::string& path);

    // True when a source other than source_digest wrote the message of this key.
    bool WrittenByAnother(const std::string& key, const std::string& source_digest) const;
    // Notes that source_digest wrote it (the first source to write a message keeps it).
    void Remember(const std::string& key, const std::string& source_digest);
    // Writes the memory back when it changed; empty, or why not.
    std::string Save();

    static constexpr const char* kFileName = ".ombrik-messages";
    static constexpr std::size_t kMaxEntries = 50000000;

private:
    // A key's 64 digits held in place, and each source's digest once: a memory of a million
    // messages holds about 100 MB less than as pairs of strings.
    using Digits = std::array<char, 64>;
    static bool ToDigits(std::string_view text, Digits& digits);
    std::uint32_t SourceIndex(const Digits& source);

    mutable std::mutex mutex_;
    std::string destination_path_;
    std::map<Digits, std::uint32_t> written_;  // message key -> its source in sources_
    std::vector<Digits> sources_;
    std::map<std::string, std::string> source_digests_;
    bool changed_ = false;
};
