// Text inside the program is UTF-8; wxString converts at the widget boundary.
#pragma once

#include <string>

#include <wx/string.h>

inline wxString Wx(const std::string& utf8) { return wxString::FromUTF8(utf8.data(), utf8.size()); }

inline std::string Utf8(const wxString& text) {
    const wxScopedCharBuffer buffer = text.utf8_str();
    return std::string(buffer.data(), buffer.length());
}
