#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "store/cfb/compound_file.h"
#include "store/mapi/prop_tags.h"
#include "store/mime/charsets.h"
#include "store/mime/mime_import.h"
#include "store/msg/msg_file.h"
#include "store/native_session.h"
#include "store/render/render.h"

namespace store {
namespace {

// A message whose import never took place: what Redemption gives for a fresh item.
mapi::Message EmptyMessage(const std::string& message_class) {
    mapi::Message message;
    message.props.Set(mapi::PR_MESSAGE_CLASS_W, message_class);
    message.props.Set(mapi::PR_MESSAGE_FLAGS, mapi::MSGFLAG_READ | mapi::MSGFLAG_UNSENT);
    return message;
}

void WriteMsg(const mapi::Message& message, const std::string& path) {
    try {
        msg::WriteMsgFile(message, path);
    } catch (const cfb::WriteError& e) {
        throw ComError(kSTG_E_WRITEFAULT, e.what());
    } catch (const std::invalid_argument& e) {
        throw ComError(kE_INVALIDARG, e.what());
    }
}

}  // namespace

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    ::unlink(path.c_str());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) throw ComError(kSTG_E_WRITEFAULT, "cannot create " + path + ": " + std::strerror(errno));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(path.c_str());
            throw ComError(error == ENOSPC ? kSTG_E_MEDIUMFULL : kSTG_E_WRITEFAULT,
                           "cannot write " + path + ": " + std::strerror(error));
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        ::unlink(path.c_str());
        throw ComError(kSTG_E_WRITEFAULT, "cannot close " + path);
    }
}

void AddCompressedRtfFromHtml(mapi::Message& message) {
    if (message.props.Has(mapi::PR_RTF_COMPRESSED) || !message.props.Has(mapi::PR_HTML)) return;
    const std::string rtf = render::EncapsulateHtmlInRtf(mime::HtmlBodyUtf8(message));
    message.props.Set(mapi::PR_RTF_COMPRESSED, render::CompressRtf(rtf));
    message.props.Set(mapi::PR_RTF_IN_SYNC, true);
}

MsgFileMail::MsgFileMail(std::string path, std::string message_class, std::string legacy_codepage)
    : path_(std::move(path)),
      message_class_(std::move(message_class)),
      legacy_codepage_(std::move(legacy_codepage)),
      message_(EmptyMessage(message_class_)) {}

void MsgFileMail::Import(const std::string& path, int format) {
    if (format != kOlRfc822) throw ComError(kMAPI_E_NO_SUPPORT, "import format " + std::to_string(format) + " not supported");
    try {
        message_ = mime::ImportMessageFile(path, legacy_codepage_);
    } catch (const mime::ImportError& e) {
        throw ComError(kMAPI_E_NOT_FOUND, e.what());
    }
    if (!message_class_.empty()) message_.props.Set(mapi::PR_MESSAGE_CLASS_W, message_class_);
    AddCompressedRtfFromHtml(message_);
}

bool MsgFileMail::Save() {
    WriteMsg(message_, path_);
    return true;
}

void MsgFileMail::SaveAs(const std::string& path, int format) {
    switch (format) {
        case kOlRtf: WriteWholeFile(path, render::RenderRtf(message_)); return;
        case kOlHtml: WriteWholeFile(path, render::RenderHtml(message_)); return;
        case kOlMsgUnicode: WriteMsg(message_, path); return;
        default: throw ComError(kMAPI_E_NO_SUPPORT, "save format " + std::to_string(format) + " not supported");
    }
}

std::shared_ptr<RDOMail> NativeSession::CreateMessageFromMsgFile(const std::string& path, const std::string& message_class,
                                                                 int format) {
    if (format != kOlMsgUnicode) throw ComError(kMAPI_E_NO_SUPPORT, "MSG format " + std::to_string(format) + " not supported");
    if (path.empty()) throw ComError(kE_INVALIDARG, "no MSG file path");
    // The file is written by Save; an item that is only saved as RTF or HTML never needs it.
    return std::make_shared<MsgFileMail>(path, message_class.empty() ? std::string("IPM.Note") : message_class,
                                         legacy_codepage_);
}

}  // namespace store
