#include "app/about_dlg.h"

#include <wx/button.h>
#include <wx/hyperlink.h>
#include <wx/generic/hyperlink.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include "app/artwork.h"
#include "app/control_ids.h"
#include "app/dialog_units.h"
#include "app/ombrik_dlg.h"

namespace {
constexpr const char* kNoticeLine = "Copyright (C) 2026 Corvanti Software. All rights reserved.";
}

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, kAboutCaption, wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    SetFont(wxFontInfo(8).Family(wxFONTFAMILY_SWISS));
    SetIcons(ApplicationIcons());
    auto place = [](wxWindow* control, const wxRect& rect) { control->SetSize(rect); };
    auto fitted = [](wxWindow* control, wxRect rect) {
        rect.width = std::max(rect.width, control->GetBestSize().x);
        control->SetSize(rect);
    };
    // Links sit at the left of their place and take only the width of their text.
    auto link = [this](int id, const wxString& label, const wxString& target, wxRect rect) {
        auto* control = new wxGenericHyperlinkCtrl(this, id, label, target, wxDefaultPosition, wxDefaultSize,
                                                   wxHL_ALIGN_LEFT | wxNO_BORDER | wxHL_CONTEXTMENU);
        const wxSize best = control->GetBestSize();
        control->SetSize(wxRect(rect.x, rect.y + (rect.height - best.y) / 2, best.x, best.y));
    };

    auto* ok = new wxButton(this, ids::kAboutOk, "&OK");
    place(ok, Dlu(179, 209, 50, 14));
    ok->SetDefault();
    SetAffirmativeId(ids::kAboutOk);
    SetEscapeId(ids::kAboutOk);

    const wxRect picture = Dlu(11, 10, 83, 47);
    place(new wxStaticBitmap(this, wxID_ANY, AboutBitmap(picture.GetSize())), picture);

    place(new wxStaticBox(this, wxID_ANY, "Software Info:"), Dlu(98, 6, 244, 52));
    fitted(new wxStaticText(this, wxID_ANY, "Software Name: "), Dlu(123, 18, 55, 8));
    auto* name = new wxStaticText(this, wxID_ANY, "Ombrik");
    name->SetFont(GetFont().Bold());
    place(name, Dlu(192, 17, 118, 10));
    fitted(new wxStaticText(this, wxID_ANY, "Software Version: "), Dlu(122, 31, 60, 8));
    fitted(new wxStaticText(this, wxID_ANY, "Version- 2.0"), Dlu(192, 32, 40, 8));
    place(new wxStaticText(this, wxID_ANY, kNoticeLine), Dlu(121, 46, 217, 8));

    place(new wxStaticBox(this, wxID_ANY, "Software Details && Help: "), Dlu(14, 63, 328, 68));
    fitted(new wxStaticText(this, wxID_ANY, "Company URL: "), Dlu(50, 76, 52, 10));
    link(ids::kAboutCompanyLink, "www.corvanti.example", kWebsiteAddress, Dlu(109, 73, 103, 11));
    fitted(new wxStaticText(this, ids::kAboutSoftwareLabel, "Software URL: "), Dlu(50, 93, 52, 10));
    link(ids::kAboutProductLink, "www.corvanti.example/ombrik", kProductAddress, Dlu(108, 91, 204, 14));
    fitted(new wxStaticText(this, wxID_ANY, "Tech. Support: "), Dlu(49, 111, 54, 8));
    link(ids::kAboutSupportLink, kSupportAddress, std::string("mailto:") + kSupportAddress,
         Dlu(109, 110, 83, 10));

    place(new wxStaticBox(this, wxID_ANY, "Warning: "), Dlu(15, 136, 325, 60));
    auto* warning = new wxStaticText(this, wxID_ANY,
                                     "This program is protected by copyright law and international treaties. "
                                     "Copying or distributing it, or any part of it, without permission may "
                                     "result in civil and criminal penalties.");
    place(warning, Dlu(23, 147, 304, 20));
    warning->Wrap(warning->GetSize().x);
    place(new wxStaticText(this, wxID_ANY, "Ombrik converts Outlook Express folder files (.dbx)."),
          Dlu(24, 165, 298, 8));
    // The maker's notice line is shown once, under Software Info; the warning does not repeat it.

    SetClientSize(DialogUnits(*this).Size(354, 226));
    CentreOnParent();
}

wxRect CAboutDlg::Dlu(int x, int y, int width, int height) const {
    return DialogUnits(*this).Rect(x, y, width, height);
}
