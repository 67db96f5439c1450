// A fixed layout that follows its window: every control keeps the place the dialog template
// gives it at the template's size, and takes a share of whatever the window has more (or less)
// than that, so the list grows with the window while the buttons keep to their edges.
#pragma once

#include <vector>

#include <wx/gdicmn.h>

class wxWindow;

// Shares of the extra width and height (0: none, 0.5: half, 1: all of it).
struct Anchor {
    double move_x = 0;
    double grow_x = 0;
    double move_y = 0;
    double grow_y = 0;
};

namespace anchors {
inline constexpr Anchor kStay{};
inline constexpr Anchor kRight{1, 0, 0, 0};
inline constexpr Anchor kCentre{0.5, 0, 0, 0};
inline constexpr Anchor kWide{0, 1, 0, 0};
inline constexpr Anchor kGrow{0, 1, 0, 1};
inline constexpr Anchor kBelow{0, 0, 1, 0};
inline constexpr Anchor kBelowWide{0, 1, 1, 0};
inline constexpr Anchor kBelowRight{1, 0, 1, 0};
inline constexpr Anchor kBelowCentre{0.5, 0, 1, 0};
}  // namespace anchors

class AnchoredLayout {
public:
    // rect: the control's place at the template size, in pixels of its parent.
    void Add(wxWindow* control, const wxRect& rect, Anchor anchor);
    // Places every control for a parent extra pixels larger than the template (negative:
    // smaller).
    void Apply(const wxSize& extra) const;
    // Where a control goes for that extra size.
    static wxRect Placed(const wxRect& rect, Anchor anchor, const wxSize& extra);

private:
    struct Entry {
        wxWindow* control;
        wxRect rect;
        Anchor anchor;
    };
    std::vector<Entry> entries_;
};
