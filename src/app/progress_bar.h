// The conversion progress bar. Drawn by the program rather than by the toolkit, because GTK
// themes draw their bar as a thin line whatever its height: this one fills its whole field,
// so how far the job has got reads at a glance.
#pragma once

#include <wx/window.h>

class CProgressBar : public wxWindow {
public:
    CProgressBar(wxWindow* parent, wxWindowID id);

    // Positions run from 0 to GetRange(); others are clamped.
    void SetValue(int position);
    int GetValue() const { return position_; }
    int GetRange() const { return kRange; }
    // Only shown: Tab never stops on it.
    bool AcceptsFocus() const override { return false; }

private:
    static constexpr int kRange = 100;
    void OnPaint(wxPaintEvent& event);

    int position_ = 0;
};
