#include "export/output_naming.h"

#include <algorithm>
#include <cctype>

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

}  // namespace

std::string MakeFolderOutputDirectory(const std::string& destination_path, const std::string& folder_name) {
    return platform::JoinPath(destination_path, folder_name);
}

std::string MakeMessageFileName(const std::optional<std::string>& subject, std::int32_t slot,
                                const std::string& codepage) {
    std::u16string text = subject ? platform::LegacyToUtf16(*subject, codepage) : std::u16string();
    CutToSubjectLimit(text);
    RemoveForbiddenCharacters(text);
    RemoveBlankPairs(text);
    return platform::Utf16ToUtf8(text) + std::to_string(slot) + ".eml";
}

std::string MakeStoreOutputPath(const std::string& message_output_path, const std::string& suffix) {
    constexpr std::string_view kEml = ".eml";
    if (message_output_path.size() >= kEml.size() &&
        message_output_path.compare(message_output_path.size() - kEml.size(), kEml.size(), kEml) == 0)
        return message_output_path.substr(0, message_output_path.size() - kEml.size()) + suffix;
    return message_output_path + suffix;
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
    std::string declared = mime::DeclaredLegacyCodepage(*message_text);
    return declared.empty() ? job_codepage : declared;
}

std::string SubjectDisplayText(const std::optional<std::string>& subject, const std::string& codepage) {
    return subject ? platform::LegacyToUtf8(*subject, codepage) : std::string();
}

std::string FolderNameRegistry::Key(const std::string& name) {
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    return key;
}

std::string FolderNameRegistry::Claim(const std::string& folder_name) {
    std::string candidate = folder_name;
    for (int n = 2; !taken_.insert(Key(candidate)).second; ++n)
        candidate = folder_name + " (" + std::to_string(n) + ")";
    return candidate;
}
