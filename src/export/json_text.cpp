#include "export/json_text.h"

#include "platform/text_encoding.h"

namespace {

std::string WellFormed(const std::string& text) {
    return platform::IsWellFormedUtf8(text) ? text : platform::Utf16ToUtf8(platform::Utf8ToUtf16(text));
}

}  // namespace

std::string JsonString(const std::string& value) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : WellFormed(value)) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xF];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}
