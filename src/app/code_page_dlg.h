// "Code Page of Old Messages...": which code page reads the 8-bit text of mail that names no
// charset, when a message gives no hint of its own. The choice is remembered between runs.
#pragma once

#include <string>
#include <vector>

#include <wx/dialog.h>

class wxChoice;

inline const char* const kCodePageCaption = "Code Page of Old Messages";
inline const char* const kCodePageConfigKey = "CodePage";

struct CodePageChoice {
    const char* label;
    const char* codepage;  // as iconv names it; empty: automatic
};

// Automatic first, then the code pages of the Windows systems Outlook Express ran on, then
// KOI8 and ISO-8859.
const std::vector<CodePageChoice>& CodePageChoices();
// What the status bar says for a code page: its name, and for automatic the code page the
// system's locale gives where the message says nothing.
std::string CodePageStatusText(const std::string& codepage);

class CCodePageDlg : public wxDialog {
public:
    CCodePageDlg(wxWindow* parent, const std::string& codepage);
    // The chosen code page; empty for automatic.
    std::string codepage() const;
    // Selects a code page of the list (automatic for one not in it).
    void Select(const std::string& codepage);

private:
    wxChoice* choice_ = nullptr;
};
