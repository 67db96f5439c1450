// A message item bound to an MSG file: Save writes the file (replacing one already there),
// SaveAs writes a rendering or another MSG file.
#pragma once

#include <string>

#include "platform/output_device.h"
#include "store/cfb/compound_file.h"
#include "store/mail_item.h"

namespace store {

class MsgFileMail : public ModelMail {
public:
    MsgFileMail(std::string path, const std::string& message_class, std::string legacy_codepage = std::string());
    void Save() override;
    void SaveAs(const std::string& path, int format) override;

private:
    std::string path_;
};

// The bytes of the Unicode MSG file of a message; throws StoreFailure for a model the format cannot
// hold.
std::string MsgFileBytes(const mapi::Message& message);

// A message's MSG file laid out ahead (on a worker) and written later in pieces, the
// attachments' bytes straight from the model: the file is never held whole beside them.
class MsgFileLayout {
public:
    // Throws StoreFailure for a model the format cannot hold.
    explicit MsgFileLayout(mapi::Message message);
    MsgFileLayout(const MsgFileLayout&) = delete;  // the layout points into its own model
    MsgFileLayout& operator=(const MsgFileLayout&) = delete;
    // The same bytes as MsgFileBytes; the device's failure, or kNone.
    platform::WriteFailure WriteTo(platform::OutputDevice& device) const;

private:
    mapi::Message message_;
    cfb::Storage root_;
};

}  // namespace store
