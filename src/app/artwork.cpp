#include "app/artwork.h"

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

wxBitmap HeaderBitmap(const wxSize& size) { return FittedBitmap("header.png", size); }

wxBitmap AboutBitmap(const wxSize& size) { return FittedBitmap("about.png", size); }
