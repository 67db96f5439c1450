// Our own session and message item behind the store interface.
#pragma once

#include <memory>
#include <string>

#include "store/mapi/message.h"
#include "store/pst_session.h"
#include "store/session.h"

namespace store {

// A message item bound to an MSG file: Save writes the file (replacing one already there),
// SaveAs writes a rendering.
class MsgFileMail : public RDOMail {
public:
    MsgFileMail(std::string path, std::string message_class, std::string legacy_codepage = std::string());
    void Import(const std::string& path, int format) override;
    bool Save() override;
    void SaveAs(const std::string& path, int format) override;

    const mapi::Message& message() const { return message_; }

private:
    std::string path_;
    std::string message_class_;
    std::string legacy_codepage_;
    mapi::Message message_;
};

class NativeSession : public RDOSession {
public:
    // The PST operations live in session_pst.cpp.
    std::shared_ptr<RDOStore> LogonPstStore(const std::string& path, int format) override;
    std::shared_ptr<RDOFolder> GetFolderFromPath(const std::string& path) override;
    void Logoff() override;
    void SetStoreWait(std::function<void(const std::string& path)> waiting, std::function<bool()> give_up) override;
    void SetLegacyCodepage(const std::string& codepage) override {
        legacy_codepage_ = codepage;
        pst_.SetLegacyCodepage(codepage);
    }

    std::shared_ptr<RDOMail> CreateMessageFromMsgFile(const std::string& path, const std::string& message_class,
                                                      int format) override;

private:
    PstSession pst_;
    std::string legacy_codepage_;
};

// Adds what Outlook needs to show an HTML message in its reading pane (the HTML wrapped in
// compressed RTF) when the message has an HTML body and no RTF one.
void AddCompressedRtfFromHtml(mapi::Message& message);

// Writes bytes to path, replacing whatever is there without following a link planted at it;
// throws ComError(STG_E_WRITEFAULT or STG_E_MEDIUMFULL) and leaves no partial file on failure.
void WriteWholeFile(const std::string& path, const std::string& bytes);

}  // namespace store
