#include "app/code_page_dlg.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "app/control_ids.h"
#include "app/wx_text.h"
#include "platform/text_encoding.h"

const std::vector<CodePageChoice>& CodePageChoices() {
    static const std::vector<CodePageChoice> choices = {
        {"Automatic (from each message, else this system's)", ""},
        {"Central European (Windows-1250)", "windows-1250"},
        {"Cyrillic (Windows-1251)", "windows-1251"},
        {"Western European (Windows-1252)", "windows-1252"},
        {"Greek (Windows-1253)", "windows-1253"},
        {"Turkish (Windows-1254)", "windows-1254"},
        {"Hebrew (Windows-1255)", "windows-1255"},
        {"Arabic (Windows-1256)", "windows-1256"},
        {"Baltic (Windows-1257)", "windows-1257"},
        {"Vietnamese (Windows-1258)", "windows-1258"},
        {"Thai (Windows-874)", "CP874"},
        {"Japanese (Shift_JIS, 932)", "CP932"},
        {"Chinese Simplified (GBK, 936)", "CP936"},
        {"Korean (949)", "CP949"},
        {"Chinese Traditional (Big5, 950)", "CP950"},
        {"Cyrillic (KOI8-R)", "KOI8-R"},
        {"Ukrainian (KOI8-U)", "KOI8-U"},
        {"Western European (ISO-8859-1)", "ISO-8859-1"},
        {"Central European (ISO-8859-2)", "ISO-8859-2"},
        {"South European (ISO-8859-3)", "ISO-8859-3"},
        {"Baltic (ISO-8859-4)", "ISO-8859-4"},
        {"Cyrillic (ISO-8859-5)", "ISO-8859-5"},
        {"Arabic (ISO-8859-6)", "ISO-8859-6"},
        {"Greek (ISO-8859-7)", "ISO-8859-7"},
        {"Hebrew (ISO-8859-8)", "ISO-8859-8"},
        {"Turkish (ISO-8859-9)", "ISO-8859-9"},
        {"Nordic (ISO-8859-10)", "ISO-8859-10"},
        {"Thai (ISO-8859-11)", "ISO-8859-11"},
        {"Baltic (ISO-8859-13)", "ISO-8859-13"},
        {"Celtic (ISO-8859-14)", "ISO-8859-14"},
        {"Western European (ISO-8859-15)", "ISO-8859-15"},
        {"South-Eastern European (ISO-8859-16)", "ISO-8859-16"},
    };
    return choices;
}

std::string CodePageStatusText(const std::string& codepage) {
    if (codepage.empty()) return "Code page: automatic (" + platform::DefaultLegacyCodepage() + ")";
    return "Code page: " + codepage;
}

CCodePageDlg::CCodePageDlg(wxWindow* parent, const std::string& codepage)
    : wxDialog(parent, wxID_ANY, Wx(kCodePageCaption)) {
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(new wxStaticText(this, wxID_ANY,
                                "Mail from old programs often carries national text without saying which\n"
                                "code page it is in. Read such text with:"),
               0, wxALL, 10);
    wxArrayString labels;
    for (const CodePageChoice& choice : CodePageChoices()) labels.Add(Wx(choice.label));
    choice_ = new wxChoice(this, ids::kCodePageChoice, wxDefaultPosition, wxDefaultSize, labels);
    sizer->Add(choice_, 0, wxLEFT | wxRIGHT | wxEXPAND, 10);
    sizer->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxALL | wxALIGN_RIGHT, 10);
    SetSizerAndFit(sizer);
    Select(codepage);
    CentreOnParent();
}

std::string CCodePageDlg::codepage() const {
    const int selection = choice_->GetSelection();
    const auto& choices = CodePageChoices();
    if (selection < 0 || static_cast<std::size_t>(selection) >= choices.size()) return {};
    return choices[static_cast<std::size_t>(selection)].codepage;
}

void CCodePageDlg::Select(const std::string& codepage) {
    const auto& choices = CodePageChoices();
    int selection = 0;
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (codepage == choices[i].codepage) selection = static_cast<int>(i);
    choice_->SetSelection(selection);
}
