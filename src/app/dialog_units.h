// Dialog units: a layout measure that scales with the dialog's font. One horizontal unit is a
// quarter of the font's average letter width, one vertical unit an eighth of its height, with
// the average taken over the 52 Latin letters as the dialog templates were measured. (wxWidgets'
// own conversion uses the font's widest "approximate" character width, which makes the windows
// a third larger than the templates intend.)
#pragma once

#include <wx/gdicmn.h>
#include <wx/window.h>

class DialogUnits {
public:
    explicit DialogUnits(const wxWindow& window) {
        const wxString letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
        const wxSize extent = window.GetTextExtent(letters);
        base_width_ = (extent.x / 26 + 1) / 2;
        base_height_ = window.GetCharHeight();
        if (base_width_ <= 0) base_width_ = 6;
        if (base_height_ <= 0) base_height_ = 13;
    }
    int X(int units) const { return (units * base_width_ + 2) / 4; }
    int Y(int units) const { return (units * base_height_ + 4) / 8; }
    wxSize Size(int width, int height) const { return wxSize(X(width), Y(height)); }
    // Pixels back to dialog units, rounded.
    int ToX(int pixels) const { return (pixels * 4 + base_width_ / 2) / base_width_; }
    int ToY(int pixels) const { return (pixels * 8 + base_height_ / 2) / base_height_; }
    wxRect Rect(int x, int y, int width, int height) const {
        return wxRect(X(x), Y(y), X(width), Y(height));
    }

private:
    int base_width_ = 6;
    int base_height_ = 13;
};
