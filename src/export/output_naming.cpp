#include "export/output_naming.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "msgfile/message_file.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"
#include "store/mime/unlabelled_text.h"

namespace {

constexpr std::size_t kSubjectUnits = 50;
constexpr char16_t kForbidden[] = {u':', u'*', u'?', u'/', u'\\', u'<', u'>', u'"', u'|'};

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// First 50 code units; a surrogate pair that the cut would split is dropped whole, so the name
// never holds half a character.
void CutToSubjectLimit(std::u16string& text) {
    if (text.size() <= kSubjectUnits) return;
    std::size_t keep = kSubjectUnits;
    if (IsHighSurrogate(text[keep - 1])) --keep;
    text.resize(keep);
}

void RemoveForbiddenCharacters(std::u16string& text) {
    for (char16_t forbidden : kForbidden) text.erase(std::remove(text.begin(), text.end(), forbidden), text.end());
}

// Control characters (C0, DEL, C1) are no part of a name: Windows refuses them, and in a name a
// terminal shows they can move its cursor or change its colours.
bool IsControl(char16_t unit) { return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F); }

void RemoveControlCharacters(std::u16string& text) {
    text.erase(std::remove_if(text.begin(), text.end(), IsControl), text.end());
}

// A name that starts with a dot is hidden from the user in most file managers.
void RemoveLeadingDots(std::u16string& text) { text.erase(0, text.find_first_not_of(u'.')); }

// Every pair of adjacent blanks goes, left to right: an odd run keeps one blank, an even run none.
void RemoveBlankPairs(std::u16string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u' ' && i + 1 < text.size() && text[i + 1] == u' ') {
            ++i;
            continue;
        }
        out.push_back(text[i]);
    }
    text.swap(out);
}

// Folds ASCII letter case: names that differ only so meet on the disks people copy them to.
std::string FoldedKey(const std::string& name) {
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    return key;
}

bool IsTrimmedAtTheEnds(char16_t unit) { return unit == u' ' || unit == u'.'; }

constexpr const char* kSubFolderSuffix = ".sbd";

// A folder name from a file name keeps room for what the outputs add to it (" (recovered)",
// " (1000)", ".mbox") within the length a file system takes for one name.
constexpr std::size_t kFileFolderNameBytes = platform::kNameLimit - 55;

// Leading and trailing blanks and dots go, so that no name is "", "." or ".." or hidden, or one
// that Windows refuses; a name left empty becomes "Folder".
std::string TrimmedFolderName(std::u16string text) {
    std::size_t first = 0;
    while (first < text.size() && IsTrimmedAtTheEnds(text[first])) ++first;
    std::size_t last = text.size();
    while (last > first && IsTrimmedAtTheEnds(text[last - 1])) --last;
    text = text.substr(first, last - first);
    return text.empty() ? std::string("Folder") : platform::Utf16ToUtf8(text);
}

// What an attachment's name is cut to, its extension kept: within what any file system takes
// for one name, with room for the " (1000)" of a taken name.
constexpr std::size_t kAttachmentNameBytes = 200;
// A longer tail after the last dot is no extension but part of the name.
constexpr std::size_t kExtensionBytes = 16;

// Names Windows keeps for devices, whatever extension follows: a file "CON.txt" or "nul" cannot
// be made or opened there like any other.
bool IsReservedOnWindows(const std::string& name) {
    std::string stem = FoldedKey(name.substr(0, name.find('.')));
    stem.erase(stem.find_last_not_of(' ') + 1);
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") return true;
    return stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
           stem[3] >= '0' && stem[3] <= '9';
}

// Where the system keeps device names, a folder or message named like one would open the device
// (a mail written to a serial port, a folder never made): there it gets "_" in front. Elsewhere
// the name stays as it is.
std::string OutsideDeviceNames(std::string name) {
    if (platform::kDeviceNamesReserved && IsReservedOnWindows(name)) name.insert(0, 1, '_');
    return name;
}

// The usual extension of the MIME types mail most often carries; empty for the others.
std::string ExtensionForMimeType(const std::string& mime_type) {
    static const std::pair<const char*, const char*> kExtensions[] = {
        {"text/plain", ".txt"},       {"text/html", ".html"},          {"text/calendar", ".ics"},
        {"text/csv", ".csv"},         {"message/rfc822", ".eml"},      {"image/jpeg", ".jpg"},
        {"image/png", ".png"},        {"image/gif", ".gif"},           {"image/bmp", ".bmp"},
        {"image/tiff", ".tif"},       {"application/pdf", ".pdf"},     {"application/zip", ".zip"},
        {"application/msword", ".doc"}, {"application/vnd.ms-excel", ".xls"}, {"audio/mpeg", ".mp3"},
        {"video/mp4", ".mp4"},        {"text/x-vcard", ".vcf"},        {"text/vcard", ".vcf"}};
    const std::string type = FoldedKey(mime_type);
    for (const auto& [known, extension] : kExtensions)
        if (type == known) return extension;
    return {};
}

}  // namespace

std::string CleanFolderName(const std::string& display_name) {
    std::u16string text = platform::Utf8ToUtf16(display_name);
    CutToSubjectLimit(text);
    RemoveForbiddenCharacters(text);
    RemoveControlCharacters(text);
    RemoveBlankPairs(text);
    return OutsideDeviceNames(TrimmedFolderName(text));
}

std::string CleanFileFolderName(const std::string& name) {
    // Byte by byte: a file name need not be UTF-8, and what it holds besides the characters
    // removed stays exactly as the disk had it.
    std::string kept;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte < 0x20 || byte == 0x7F || std::find(std::begin(kForbidden), std::end(kForbidden), byte) != std::end(kForbidden))
            continue;
        if (byte == 0xC2 && i + 1 < name.size() && (static_cast<unsigned char>(name[i + 1]) & 0xE0) == 0x80) {
            ++i;  // a C1 control character in UTF-8
            continue;
        }
        kept.push_back(name[i]);
    }
    kept = platform::CutToBytes(kept, kFileFolderNameBytes);
    const std::size_t first = kept.find_first_not_of(" .");
    if (first == std::string::npos) return "Folder";
    return OutsideDeviceNames(kept.substr(first, kept.find_last_not_of(" .") - first + 1));
}

std::string MakeTreeDirectory(const std::string& destination_path, const std::vector<std::string>& tree_path) {
    std::string path = destination_path;
    for (const std::string& name : tree_path) path = platform::JoinPath(path, name);
    return path;
}

std::string MakeThunderbirdMboxPath(const std::string& destination_path, const std::vector<std::string>& tree_path) {
    std::string path = destination_path;
    for (std::size_t i = 0; i < tree_path.size(); ++i)
        path = platform::JoinPath(path, i + 1 < tree_path.size() ? tree_path[i] + kSubFolderSuffix : tree_path[i]);
    return path;
}

std::string FolderOutputDirectory(const ExportContext& context, const std::string& destination_path,
                                  const std::string& folder_name) {
    return context.tree_path.empty() ? MakeFolderOutputDirectory(destination_path, folder_name)
                                     : MakeTreeDirectory(destination_path, context.tree_path);
}

std::string OutputFolderNames::ClaimTopFolder(const std::string& folder_name) {
    Node& top = nodes_[0];
    const std::string cleaned = CleanFileFolderName(folder_name);
    std::string candidate = cleaned;
    for (int n = 2; !top.taken.insert(FoldedKey(candidate)).second; ++n)
        candidate = cleaned + " (" + std::to_string(n) + ")";
    return candidate;
}

bool OutputFolderNames::IsTopFolderTaken(const std::string& name) const {
    return nodes_[0].taken.count(FoldedKey(name)) != 0;
}

void OutputFolderNames::TakeTopFolder(const std::string& name) { nodes_[0].taken.insert(FoldedKey(name)); }

std::string OutputFolderNames::ClaimChildName(Node& parent, const std::string& cleaned) {
    // A folder's name and its Thunderbird sub-folder directory must both be free.
    std::string candidate = cleaned;
    for (int n = 2;; ++n) {
        const std::string key = FoldedKey(candidate);
        if (parent.taken.count(key) == 0 && parent.taken.count(key + kSubFolderSuffix) == 0) {
            parent.taken.insert(key);
            parent.taken.insert(key + kSubFolderSuffix);
            return candidate;
        }
        candidate = cleaned + " (" + std::to_string(n) + ")";
    }
}

std::vector<std::string> OutputFolderNames::ClaimStoreFolder(const std::vector<std::string>& store_path) {
    std::vector<std::string> names;
    std::size_t at = 0;
    for (std::size_t level = 0; level < store_path.size(); ++level) {
        const bool own_folder = level + 1 == store_path.size();
        const std::string& display_name = store_path[level];
        const auto seen = nodes_[at].child_by_display_name.find(display_name);
        if (seen != nodes_[at].child_by_display_name.end() && !(own_folder && nodes_[seen->second].has_row)) {
            at = seen->second;
        } else {
            Node child;
            child.name = ClaimChildName(nodes_[at], clean_(display_name));
            nodes_.push_back(std::move(child));
            const std::size_t index = nodes_.size() - 1;
            nodes_[at].child_by_display_name[display_name] = index;
            at = index;
        }
        names.push_back(nodes_[at].name);
    }
    if (!store_path.empty()) nodes_[at].has_row = true;
    return names;
}

std::string MakeFolderOutputDirectory(const std::string& destination_path, const std::string& folder_name) {
    return platform::JoinPath(destination_path, folder_name);
}

std::string MakeMessageFileName(const std::optional<std::string>& subject, std::int32_t slot,
                                const std::string& codepage) {
    std::u16string text = subject ? platform::LegacyToUtf16(*subject, codepage) : std::u16string();
    CutToSubjectLimit(text);
    RemoveForbiddenCharacters(text);
    RemoveControlCharacters(text);
    RemoveBlankPairs(text);
    RemoveLeadingDots(text);
    return OutsideDeviceNames(platform::Utf16ToUtf8(text) + std::to_string(slot) + ".eml");
}

std::string MakeStoreOutputPath(const std::string& message_output_path, const std::string& suffix) {
    constexpr std::string_view kEml = ".eml";
    if (message_output_path.size() >= kEml.size() &&
        message_output_path.compare(message_output_path.size() - kEml.size(), kEml.size(), kEml) == 0)
        return message_output_path.substr(0, message_output_path.size() - kEml.size()) + suffix;
    return message_output_path + suffix;
}

std::string MakeMessageOutputPath(const std::string& directory, const DbxText& subject, const DbxText& message_text,
                                  std::int32_t slot, const std::string& job_codepage, const std::string& suffix) {
    const std::string codepage = MessageCodepage(subject, message_text, job_codepage);
    const std::string path = platform::JoinPath(directory, MakeMessageFileName(subject, slot, codepage));
    return suffix == ".eml" ? path : MakeStoreOutputPath(path, suffix);
}

std::string MakeMboxFilePath(const std::string& destination_path, const std::string& folder_name) {
    return platform::JoinPath(destination_path, folder_name + ".mbox");
}

std::string MessageCodepage(const DbxText& subject_text, const DbxText& message_text, const std::string& job_codepage) {
    // Only 8-bit text that is not UTF-8 needs a code page: most subjects are done without a look
    // at the message.
    const std::string_view subject = subject_text ? std::string_view(*subject_text) : std::string_view();
    const bool eight_bit = std::any_of(subject.begin(), subject.end(), [](char c) { return (c & 0x80) != 0; });
    if (!message_text || !eight_bit || platform::LooksLikeMultibyteUtf8(subject)) return job_codepage;
    // A charset the message names for its subject wins; then the one of its first text part.
    std::string declared = mime::SubjectLabelCodepage(*message_text);
    if (declared.empty()) declared = mime::DeclaredLegacyCodepage(*message_text);
    return declared.empty() ? job_codepage : declared;
}

std::string SubjectDisplayText(const std::optional<std::string>& subject, const std::string& codepage) {
    return subject ? platform::LegacyToUtf8(*subject, codepage) : std::string();
}

std::string CleanAttachmentName(const std::string& name, const std::string& mime_type) {
    // Only what follows the last separator counts: a sender's "../../x" or "C:\x" is a name here,
    // never a path.
    const std::size_t separator = name.find_last_of("/\\");
    std::u16string text = platform::Utf8ToUtf16(separator == std::string::npos ? name : name.substr(separator + 1));
    RemoveForbiddenCharacters(text);
    RemoveControlCharacters(text);
    std::size_t first = 0;
    while (first < text.size() && IsTrimmedAtTheEnds(text[first])) ++first;
    std::size_t last = text.size();
    while (last > first && IsTrimmedAtTheEnds(text[last - 1])) --last;
    std::string cleaned = platform::Utf16ToUtf8(text.substr(first, last - first));
    if (cleaned.empty()) return "attachment" + ExtensionForMimeType(mime_type);
    if (IsReservedOnWindows(cleaned)) cleaned.insert(0, 1, '_');
    if (cleaned.size() <= kAttachmentNameBytes) return cleaned;
    const std::size_t dot = cleaned.find_last_of('.');
    const std::string extension =
        dot != std::string::npos && dot > 0 && cleaned.size() - dot <= kExtensionBytes ? cleaned.substr(dot) : std::string();
    return platform::CutToBytes(cleaned.substr(0, cleaned.size() - extension.size()), kAttachmentNameBytes - extension.size()) +
           extension;
}

std::vector<std::string> AttachmentFileNames(const std::vector<std::string>& names, const std::vector<std::string>& mime_types) {
    std::vector<std::string> out;
    std::set<std::string> taken;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string base = CleanAttachmentName(names[i], i < mime_types.size() ? mime_types[i] : std::string());
        std::string candidate = base;
        for (int n = 2; !taken.insert(FoldedKey(candidate)).second; ++n) candidate = NumberedFileName(base, n);
        out.push_back(std::move(candidate));
    }
    return out;
}
