// What every message item of our session holds and does, wherever its Save puts the message:
// the message model, filled by an import of RFC 822 text (from a file or from memory), and
// its renderings.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "store/mapi/message.h"
#include "store/session.h"

namespace store {

// The message model of an RFC 822 text, whatever bytes it holds, with the compressed RTF that
// Outlook needs to show an HTML body in its reading pane. Damaged MIME never fails: what
// cannot be understood is kept as an attachment of raw bytes. legacy_codepage reads 8-bit text
// that names no charset when the message gives no hint of its own (empty: this system's).
mapi::Message MessageFromRfc822(std::string_view text, const std::string& legacy_codepage = std::string());

// Adds the HTML body wrapped in compressed RTF when the message has an HTML body and no RTF one.
void AddCompressedRtfFromHtml(mapi::Message& message);

// Gives a message the class it was created with (an item made as "IPM.Note"), except the
// S/MIME classes the import gives signed and encrypted mail: those tell Outlook how the message
// is kept, and it could not open the message under another.
void ApplyCreatedClass(mapi::Message& message, const std::string& message_class);

// The RTF or HTML rendering of a message, as SaveAs writes it; throws ComError for any other
// format.
std::string RenderingOf(const mapi::Message& message, int format);

// Writes bytes to path, replacing whatever is there without following a link planted at it;
// throws ComError(STG_E_WRITEFAULT or STG_E_MEDIUMFULL) and leaves no partial file on failure.
void WriteWholeFile(const std::string& path, std::string_view bytes);

// A message item over the message model: imports and renderings; the subclass says where Save
// puts it.
class ModelMail : public RDOMail {
public:
    void Import(const std::string& path, int format) override;
    void ImportText(std::string_view text, int format) override;
    void ImportMessage(mapi::Message message) override;
    void SaveAs(const std::string& path, int format) override;

    const mapi::Message& message() const { return message_; }

protected:
    // forced_class: the message class kept over every import, as ApplyCreatedClass keeps it
    // (none: the imported one stays);
    // legacy_codepage: for 8-bit text without a charset in the imported messages.
    ModelMail(const std::string& initial_class, std::optional<std::string> forced_class,
              std::string legacy_codepage = std::string());

    mapi::Message message_;

private:
    std::optional<std::string> forced_class_;
    std::string legacy_codepage_;
};

}  // namespace store
