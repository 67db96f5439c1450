// The about box: product name and version, the maker's addresses and the copyright notice.
#pragma once

#include <wx/dialog.h>

inline const char* const kAboutCaption = "About Corvanti Ombrik";
inline const char* const kProductAddress = "https://www.corvanti.example/ombrik/";
inline const char* const kSupportAddress = "support@corvanti.example";

class CAboutDlg : public wxDialog {
public:
    explicit CAboutDlg(wxWindow* parent);

private:
    wxRect Dlu(int x, int y, int width, int height) const;
};
