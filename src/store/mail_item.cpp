#include "store/mail_item.h"

#include <cerrno>

#include "platform/output_file.h"
#include "store/mapi/prop_tags.h"
#include "store/mime/charsets.h"
#include "store/mime/mime_import.h"
#include "store/render/render.h"

namespace store {

mapi::Message MessageFromRfc822(std::string_view text, const std::string& legacy_codepage) {
    // An absent text still gets a model of its own: the parser wants a buffer, even an empty one.
    static const char kNoText[] = "";
    mapi::Message message = mime::ImportMessage(text.empty() ? kNoText : text.data(), text.size(), legacy_codepage);
    AddCompressedRtfFromHtml(message);
    return message;
}

void AddCompressedRtfFromHtml(mapi::Message& message) {
    if (message.props.Has(mapi::PR_RTF_COMPRESSED) || !message.props.Has(mapi::PR_HTML)) return;
    const std::string rtf = render::EncapsulateHtmlInRtf(mime::HtmlBodyUtf8(message));
    message.props.Set(mapi::PR_RTF_COMPRESSED, render::CompressRtf(rtf));
    message.props.Set(mapi::PR_RTF_IN_SYNC, true);
}

void ApplyCreatedClass(mapi::Message& message, const std::string& message_class) {
    const std::string imported = message.props.GetString(mapi::PR_MESSAGE_CLASS_W).value_or("");
    if (imported.rfind("IPM.Note.SMIME", 0) == 0) return;
    message.props.Set(mapi::PR_MESSAGE_CLASS_W, message_class);
}

std::string RenderingOf(const mapi::Message& message, int format) {
    switch (format) {
        case kOlRtf: return render::RenderRtf(message);
        case kOlHtml: return render::RenderHtml(message);
        default: throw ComError(kMAPI_E_NO_SUPPORT, "save format " + std::to_string(format) + " not supported");
    }
}

void WriteWholeFile(const std::string& path, std::string_view bytes) {
    const int error = platform::WriteWholeFile(path, bytes, platform::OutputMode::kReplace);
    if (error == 0) return;
    const platform::WriteFailure failure = platform::WriteFailureOf(error);
    throw ComError(failure == platform::WriteFailure::kDiskFull ? kSTG_E_MEDIUMFULL : kSTG_E_WRITEFAULT,
                   path + ": " + platform::WriteFailureWords(failure), failure);
}

ModelMail::ModelMail(const std::string& initial_class, std::optional<std::string> forced_class,
                     std::string legacy_codepage)
    : forced_class_(std::move(forced_class)), legacy_codepage_(std::move(legacy_codepage)) {
    // What a fresh item holds before any import.
    message_.props.Set(mapi::PR_MESSAGE_CLASS_W, initial_class);
    message_.props.Set(mapi::PR_MESSAGE_FLAGS, mapi::MSGFLAG_READ | mapi::MSGFLAG_UNSENT);
}

void ModelMail::Import(const std::string& path, int format) {
    if (format != kOlRfc822) throw ComError(kMAPI_E_NO_SUPPORT, "import format " + std::to_string(format) + " not supported");
    mapi::Message imported;
    try {
        imported = mime::ImportMessageFile(path, legacy_codepage_);
    } catch (const mime::ImportError& e) {
        throw ComError(kMAPI_E_NOT_FOUND, e.what());
    }
    AddCompressedRtfFromHtml(imported);
    ImportMessage(std::move(imported));
}

void ModelMail::ImportText(std::string_view text, int format) {
    if (format != kOlRfc822) throw ComError(kMAPI_E_NO_SUPPORT, "import format " + std::to_string(format) + " not supported");
    ImportMessage(MessageFromRfc822(text, legacy_codepage_));
}

void ModelMail::ImportMessage(mapi::Message message) {
    message_ = std::move(message);
    if (forced_class_) ApplyCreatedClass(message_, *forced_class_);
}

void ModelMail::SaveAs(const std::string& path, int format) { WriteWholeFile(path, RenderingOf(message_, format)); }

}  // namespace store
