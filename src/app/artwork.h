// The program's pictures: application icon, main-window header and about-box picture.
#pragma once

#include <wx/bitmap.h>
#include <wx/iconbndl.h>

// Every size of the application icon (16 to 256 pixels).
wxIconBundle ApplicationIcons();
// The header picture (582 x 80) for a place of the given size: scaled in proportion to fit it
// and run on to its edges in the picture's own edge colours.
wxBitmap HeaderBitmap(const wxSize& size);
// The about-box picture (124 x 77), scaled the same way.
wxBitmap AboutBitmap(const wxSize& size);
