#include "app/anchored_layout.h"

#include <algorithm>
#include <cmath>

#include <wx/window.h>

namespace {
int Share(double share, int extra) { return static_cast<int>(std::lround(share * extra)); }
}  // namespace

void AnchoredLayout::Add(wxWindow* control, const wxRect& rect, Anchor anchor) {
    entries_.push_back({control, rect, anchor});
    control->SetSize(rect);
}

wxRect AnchoredLayout::Placed(const wxRect& rect, Anchor anchor, const wxSize& extra) {
    wxRect placed = rect;
    placed.x += Share(anchor.move_x, extra.x);
    placed.y += Share(anchor.move_y, extra.y);
    placed.width = std::max(1, placed.width + Share(anchor.grow_x, extra.x));
    placed.height = std::max(1, placed.height + Share(anchor.grow_y, extra.y));
    return placed;
}

void AnchoredLayout::Apply(const wxSize& extra) const {
    for (const Entry& entry : entries_) {
        const wxRect placed = Placed(entry.rect, entry.anchor, extra);
        if (entry.control->GetRect() != placed) entry.control->SetSize(placed);
    }
}
