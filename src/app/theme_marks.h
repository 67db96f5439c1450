// The marks of checked radio buttons and check boxes, drawn without the SVG renderer where the
// theme ships them as bitmaps too.
#pragma once

// GTK's own theme (Adwaita) names for each mark an SVG image first and the same mark as a bitmap
// second. Drawing the SVG loads librsvg, about 8 MiB of the window's memory, for a 16-pixel mark
// that the bitmap draws pixel for pixel the same at the normal scale. While that theme is in use
// and every monitor is at scale 1, the marks are taken from the bitmaps; under any other theme or
// at a larger scale nothing changes. Call once the toolkit has started, before windows are made.
void DrawThemeMarksFromBitmaps();
