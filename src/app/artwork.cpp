#include "app/artwork.h"

#include <algorithm>
#include <cstring>

#include <wx/image.h>
#include <wx/mstream.h>

#include "app/artwork_data.h"

namespace {

wxImage LoadArtwork(const char* name) {
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
    for (std::size_t i = 0; i < kArtworkFileCount; ++i) {
        if (std::strcmp(kArtworkFiles[i].name, name) == 0) {
            wxMemoryInputStream stream(kArtworkFiles[i].data, kArtworkFiles[i].size);
            return wxImage(stream, wxBITMAP_TYPE_PNG);
        }
    }
    return wxImage();
}

wxBitmap FittedBitmap(const char* name, const wxSize& size) {
    wxImage image = LoadArtwork(name);
    if (!image.IsOk()) return wxBitmap();
    if (size.x > 0 && size.y > 0 && image.GetSize() != size) {
        image.Rescale(size.x, size.y, wxIMAGE_QUALITY_HIGH);
    }
    return wxBitmap(image);
}

// The image enlarged to size by repeating its last column and its last row, so a banner drawn
// as a gradient runs on past its own edge.
wxImage ExtendedToSize(const wxImage& image, const wxSize& size) {
    if (image.GetSize() == size) return image;
    wxImage extended(size.x, size.y, false);
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    for (int y = 0; y < size.y; ++y) {
        for (int x = 0; x < size.x; ++x) {
            const int from_x = std::min(x, width - 1);
            const int from_y = std::min(y, height - 1);
            extended.SetRGB(x, y, image.GetRed(from_x, from_y), image.GetGreen(from_x, from_y),
                            image.GetBlue(from_x, from_y));
        }
    }
    return extended;
}

}  // namespace

wxIconBundle ApplicationIcons() {
    wxIconBundle icons;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const wxImage image = LoadArtwork(wxString::Format("ombrik-%d.png", size).utf8_str());
        if (!image.IsOk()) continue;
        wxIcon icon;
        icon.CopyFromBitmap(wxBitmap(image));
        icons.AddIcon(icon);
    }
    return icons;
}

wxBitmap HeaderBitmap(const wxSize& size) {
    wxImage image = LoadArtwork("header.png");
    if (!image.IsOk() || size.x <= 0 || size.y <= 0) return image.IsOk() ? wxBitmap(image) : wxBitmap();
    // Never stretched out of proportion: scaled to fit, then run on to the size asked.
    const double scale = std::min(static_cast<double>(size.x) / image.GetWidth(),
                                  static_cast<double>(size.y) / image.GetHeight());
    const int width = std::clamp(static_cast<int>(image.GetWidth() * scale + 0.5), 1, size.x);
    const int height = std::clamp(static_cast<int>(image.GetHeight() * scale + 0.5), 1, size.y);
    if (image.GetSize() != wxSize(width, height)) image.Rescale(width, height, wxIMAGE_QUALITY_HIGH);
    return wxBitmap(ExtendedToSize(image, size));
}

wxBitmap AboutBitmap(const wxSize& size) { return FittedBitmap("about.png", size); }
