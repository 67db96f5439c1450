// A message item bound to an MSG file: Save writes the file (replacing one already there),
// SaveAs writes a rendering or another MSG file.
#pragma once

#include <string>

#include "store/mail_item.h"

namespace store {

class MsgFileMail : public ModelMail {
public:
    MsgFileMail(std::string path, const std::string& message_class, std::string legacy_codepage = std::string());
    bool Save() override;
    void SaveAs(const std::string& path, int format) override;

private:
    std::string path_;
};

// The bytes of the Unicode MSG file of a message; throws StoreFailure for a model the format cannot
// hold.
std::string MsgFileBytes(const mapi::Message& message);

}  // namespace store
