#include "app/remembered.h"

#include <wx/config.h>

#include "app/wx_text.h"

namespace remembered {

std::string Text(const char* key) {
    wxConfigBase* config = wxConfigBase::Get();
    if (config == nullptr) return {};
    wxString value;
    if (!config->Read(key, &value)) return {};
    return Utf8(value);
}

void Keep(const char* key, const std::string& value) {
    wxConfigBase* config = wxConfigBase::Get();
    if (config == nullptr) return;
    config->Write(key, Wx(value));
    // Written at once: the program may end by a confirmed Exit that skips the usual clean-up.
    config->Flush();
}

}  // namespace remembered
