// The record of a run that proves what came out of what: one entry per message that reached the
// output (written, found there already, or written as far as its damaged text goes), with the
// source file, where in it the message was, its own facts and digest, and where it went. The
// sinks hand each written message's facts to one recorder through the folder loop; the job
// writes the record into the destination at the end, as CSV for people and spreadsheets and as
// JSON Lines for programs.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct FolderMessage;

struct ManifestEntry {
    std::string source;            // the folder file's path
    std::string source_sha256;     // filled when the manifest is written
    std::int32_t slot = 0;         // the message's slot (recovered: numbered after the slots)
    bool recovered = false;        // found only by the scan, not through the index
    std::uint64_t offset = 0;      // recovered: the file offset of its text's first block
    std::string date, from, to, subject, message_id;  // from its header, decoded as UTF-8
    std::uint64_t size = 0;        // of the stored text
    std::string sha256;            // of the stored text
    std::string state;             // what Outlook Express knew of it: "read flagged priority=1"
    std::string outcome;           // "written", "already there" or "damaged" (written as far as it goes)
    std::string output;            // the file it is in: message file, MBOX file, PST store
    std::string output_folder;     // the folder inside a PST store; empty for the other forms
    std::string output_sha256;     // of the output file as the run left it; filled when written
};

inline const char* const kOutcomeWritten = "written";
inline const char* const kOutcomeAlreadyThere = "already there";
inline const char* const kOutcomeDamaged = "damaged";
// The row of an attachment saved as a file, after its message's row: the message's facts, the
// attachment's size and digest, its file as output.
inline const char* const kOutcomeAttachmentWritten = "attachment written";
inline const char* const kOutcomeAttachmentThere = "attachment already there";

// The facts of a message as its folder file holds it; the outcome and output are left blank.
// codepage: the job's, for 8-bit header text that names no charset.
ManifestEntry DescribeMessage(const std::string& source, const FolderMessage& message, bool recovered,
                              const std::string& codepage);

// "read flagged replied forwarded draft priority=5" as far as each holds; "unread" for a message
// known never opened; empty when the folder file kept no state.
std::string StateWords(const FolderMessage& message);

// What the run was: the program, its choices and when it ran (UTC, ISO 8601).
struct ManifestHeader {
    std::string program = "ombrik";
    std::string version;
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> sources;  // the folder files of the run, in list order
    std::string started, ended;
};

// The entries of one run, taken from any thread.
class MessageManifest {
public:
    void Add(ManifestEntry entry);
    // A folder file the run converted (named once however often it comes).
    void AddSource(const std::string& path);
    std::vector<std::string> sources() const;
    // Moves every entry and source of other to the end of this one (a PST store's, once the
    // store is closed).
    void Take(MessageManifest& other);
    // Drops every entry (a PST store that could not be closed holds none of them); the sources
    // stay.
    void Clear();
    std::size_t size() const;
    std::vector<ManifestEntry> entries() const;

private:
    mutable std::mutex mutex_;
    std::vector<ManifestEntry> entries_;
    std::vector<std::string> sources_;
};

// The digest of a source file as the job already has it.
using SourceDigestOf = std::function<std::string(const std::string& path)>;

// Reads the digest of every source and output file once (a file named by many entries is read
// once) and fills them in; a source's from source_digest where one is given.
void FillFileDigests(std::vector<ManifestEntry>& entries, const SourceDigestOf& source_digest = {});

// The two forms of the record. CSV: the header as lines starting with "#", then a line of column
// names and one line per entry; a field a spreadsheet would take for a formula (starting with =,
// +, - or @) is preceded by a "'" there. JSON Lines: the header as the first object, then one
// object per entry, every text as it is (invalid UTF-8 as U+FFFD).
std::string ManifestCsv(const ManifestHeader& header, const std::vector<ManifestEntry>& entries);
std::string ManifestJsonLines(const ManifestHeader& header, const std::vector<ManifestEntry>& entries);

// The time now as "2026-12-08T06:47:13Z".
std::string UtcTimestamp();

// Writes "ombrik-manifest-<started>.csv" and ".jsonl" into the destination folder by the one
// write path of message files (never over an earlier run's: a name taken gets " (2)"). Returns
// the paths written, or sets failure to why not.
std::vector<std::string> WriteManifestFiles(const std::string& destination_path, ManifestHeader header,
                                            const MessageManifest& manifest, std::string& failure,
                                            const SourceDigestOf& source_digest = {});
