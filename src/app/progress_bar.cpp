#include "app/progress_bar.h"

#include <algorithm>

#include <wx/dcbuffer.h>
#include <wx/settings.h>

CProgressBar::CProgressBar(wxWindow* parent, wxWindowID id)
    : wxWindow(parent, id, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE | wxBORDER_NONE) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CProgressBar::OnPaint, this);
}

void CProgressBar::SetValue(int position) {
    position = std::clamp(position, 0, kRange);
    if (position == position_) return;
    position_ = position;
    Refresh(false);
}

void CProgressBar::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    dc.SetPen(wxPen(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW)));
    dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)));
    dc.DrawRectangle(0, 0, size.x, size.y);
    const int filled = (size.x - 2) * position_ / kRange;
    if (filled <= 0) return;
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT)));
    dc.DrawRectangle(1, 1, filled, size.y - 2);
}
