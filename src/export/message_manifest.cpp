#include "export/message_manifest.h"

#include <algorithm>
#include <ctime>
#include <map>

#include "dbx/dbx_scan.h"
#include "export/content_digest.h"
#include "export/folder_loop.h"
#include "export/json_text.h"
#include "export/output_naming.h"
#include "imap/upload_message.h"
#include "platform/output_folder.h"
#include "platform/paths.h"
#include "msgfile/message_file.h"
#include "store/mime/mime_import.h"

namespace {

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string HeaderText(const std::string& text, const char* name, const std::string& codepage) {
    const DbxText value = dbx_header_value(text, name);
    return value ? Trimmed(mime::DecodeHeaderText(*value, codepage)) : std::string();
}

// One field as CSV holds it: quoted when it holds a separator, a quote or a line end; a leading
// character that starts a formula is defused, since a sender chooses the text.
std::string CsvField(const std::string& value) {
    std::string text = value;
    if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@')) text.insert(0, 1, '\'');
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

// The columns, in the order of both forms.
std::vector<std::pair<std::string, std::string>> Fields(const ManifestEntry& entry) {
    return {{"source", entry.source},
            {"source_sha256", entry.source_sha256},
            {"slot", std::to_string(entry.slot)},
            {"kind", entry.recovered ? "recovered" : "live"},
            {"offset", entry.recovered ? std::to_string(entry.offset) : std::string()},
            {"date", entry.date},
            {"from", entry.from},
            {"to", entry.to},
            {"subject", entry.subject},
            {"message_id", entry.message_id},
            {"size", std::to_string(entry.size)},
            {"sha256", entry.sha256},
            {"state", entry.state},
            {"outcome", entry.outcome},
            {"output", entry.output},
            {"output_folder", entry.output_folder},
            {"output_sha256", entry.output_sha256}};
}

bool IsAttachmentRow(const ManifestEntry& entry) {
    return entry.outcome == kOutcomeAttachmentWritten || entry.outcome == kOutcomeAttachmentThere;
}

// The header's count of attachment rows, beside that of the messages, when there are any.
std::string AttachmentCount(std::size_t attachments) {
    return attachments == 0 ? std::string() : ",\"attachments\":" + std::to_string(attachments);
}

bool IsNumberField(const std::string& name) { return name == "slot" || name == "size" || name == "offset"; }

std::string CompactStamp(const std::string& iso) {
    std::string stamp;
    for (char c : iso)
        if (c != '-' && c != ':') stamp += c;
    return stamp;
}

}  // namespace

std::string StateWords(const FolderMessage& message) {
    const auto& state = message.state;
    if (!state.known) return state.priority != 0 ? "priority=" + std::to_string(state.priority) : std::string();
    std::string words = state.read ? "read" : "unread";
    if (state.flagged) words += " flagged";
    if (state.replied) words += " replied";
    if (state.forwarded) words += " forwarded";
    if (state.draft) words += " draft";
    if (state.priority != 0) words += " priority=" + std::to_string(state.priority);
    return words;
}

ManifestEntry DescribeMessage(const std::string& source, const FolderMessage& message, bool recovered,
                              const std::string& codepage) {
    ManifestEntry entry;
    entry.source = source;
    entry.slot = message.slot;
    entry.recovered = recovered;
    entry.offset = message.found_at;
    const std::string cp = MessageCodepage(message.subject, message.text, codepage);
    entry.subject = SubjectDisplayText(message.subject, cp);
    entry.state = StateWords(message);
    if (message.text) {
        const std::string& text = *message.text;
        entry.date = HeaderText(text, "Date", cp);
        entry.from = HeaderText(text, "From", cp);
        entry.to = HeaderText(text, "To", cp);
        entry.message_id = imap::MessageIdOf(text);
        entry.size = text.size();
        entry.sha256 = Sha256Hex(text);
    } else {
        entry.sha256 = Sha256Hex({});
    }
    return entry;
}

void MessageManifest::Add(ManifestEntry entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::move(entry));
}

void MessageManifest::AddSource(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(sources_.begin(), sources_.end(), path) == sources_.end()) sources_.push_back(path);
}

std::vector<std::string> MessageManifest::sources() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sources_;
}

void MessageManifest::Take(MessageManifest& other) {
    if (&other == this) return;
    std::vector<ManifestEntry> taken;
    std::vector<std::string> sources;
    {
        std::lock_guard<std::mutex> lock(other.mutex_);
        taken.swap(other.entries_);
        sources.swap(other.sources_);
    }
    for (const auto& source : sources) AddSource(source);
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : taken) entries_.push_back(std::move(entry));
}

void MessageManifest::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

std::size_t MessageManifest::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

std::vector<ManifestEntry> MessageManifest::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

void FillFileDigests(std::vector<ManifestEntry>& entries, const SourceDigestOf& source_digest) {
    std::map<std::string, std::string> digests;
    const auto digest_of = [&](const std::string& path) -> std::string {
        if (path.empty()) return {};
        const auto found = digests.find(path);
        if (found != digests.end()) return found->second;
        return digests[path] = FileSha256Hex(path);
    };
    std::map<std::string, std::string> sources;
    const auto source_digest_of = [&](const std::string& path) -> std::string {
        if (!source_digest || path.empty()) return digest_of(path);
        const auto found = sources.find(path);
        if (found != sources.end()) return found->second;
        return sources[path] = source_digest(path);
    };
    for (ManifestEntry& entry : entries) {
        entry.source_sha256 = source_digest_of(entry.source);
        entry.output_sha256 = digest_of(entry.output);
    }
}

std::string ManifestCsv(const ManifestHeader& header, const std::vector<ManifestEntry>& entries) {
    std::string text = "# " + header.program + " " + header.version + " manifest\r\n";
    text += "# started," + CsvField(header.started) + "\r\n# ended," + CsvField(header.ended) + "\r\n";
    for (const auto& [name, value] : header.options) text += "# option," + CsvField(name) + "," + CsvField(value) + "\r\n";
    for (const auto& source : header.sources) text += "# source," + CsvField(source) + "\r\n";
    const ManifestEntry blank;
    std::string names;
    for (const auto& field : Fields(blank)) names += (names.empty() ? "" : ",") + field.first;
    text += names + "\r\n";
    for (const ManifestEntry& entry : entries) {
        std::string line;
        for (const auto& field : Fields(entry)) line += (line.empty() ? "" : ",") + CsvField(field.second);
        text += line + "\r\n";
    }
    return text;
}

std::string ManifestJsonLines(const ManifestHeader& header, const std::vector<ManifestEntry>& entries) {
    const auto attachments = static_cast<std::size_t>(std::count_if(
        entries.begin(), entries.end(), [](const ManifestEntry& entry) { return IsAttachmentRow(entry); }));
    std::string text = "{\"manifest\":" + JsonString(header.program) + ",\"version\":" + JsonString(header.version) +
                       ",\"started\":" + JsonString(header.started) + ",\"ended\":" + JsonString(header.ended) +
                       ",\"messages\":" + std::to_string(entries.size() - attachments) + AttachmentCount(attachments) +
                       ",\"options\":{";
    bool first = true;
    for (const auto& [name, value] : header.options) {
        text += (first ? "" : ",") + JsonString(name) + ":" + JsonString(value);
        first = false;
    }
    text += "},\"sources\":[";
    for (std::size_t i = 0; i < header.sources.size(); ++i) text += (i == 0 ? "" : ",") + JsonString(header.sources[i]);
    text += "]}\n";
    for (const ManifestEntry& entry : entries) {
        std::string line;
        for (const auto& [name, value] : Fields(entry)) {
            line += line.empty() ? "{" : ",";
            line += JsonString(name) + ":";
            if (IsNumberField(name))
                line += value.empty() ? "null" : value;
            else
                line += JsonString(value);
        }
        text += line + "}\n";
    }
    return text;
}

std::string UtcTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (const std::tm* at = std::gmtime(&now)) utc = *at;
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::vector<std::string> WriteManifestFiles(const std::string& destination_path, ManifestHeader header,
                                            const MessageManifest& manifest, std::string& failure,
                                            const SourceDigestOf& source_digest) {
    std::vector<ManifestEntry> entries = manifest.entries();
    FillFileDigests(entries, source_digest);
    if (header.ended.empty()) header.ended = UtcTimestamp();
    platform::OutputFolder folder;
    if (const auto opened = folder.Open(destination_path); opened != platform::WriteFailure::kNone) {
        failure = platform::WriteFailureWords(opened);
        return {};
    }
    const std::string base = "ombrik-manifest-" + CompactStamp(header.started);
    std::vector<std::string> written;
    for (const auto& [suffix, text] : {std::pair<std::string, std::string>{".csv", ManifestCsv(header, entries)},
                                       {".jsonl", ManifestJsonLines(header, entries)}}) {
        const PlacedFile placed = WriteMessageFile(folder, base + suffix, text);
        if (!placed) {
            failure = platform::WriteFailureWords(placed.failure);
            return written;
        }
        written.push_back(platform::JoinPath(destination_path, placed.name));
    }
    return written;
}
