#include "store/mime/flowed.h"

namespace mime {

std::string UnwrapFlowed(std::string_view text, bool delete_space) {
    std::string out;
    out.reserve(text.size());
    bool open = false;      // the previous line was soft: this one continues its paragraph
    std::size_t open_depth = 0;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        std::size_t depth = 0;
        while (depth < line.size() && line[depth] == '>') ++depth;
        line.remove_prefix(depth);
        if (!line.empty() && line.front() == ' ') line.remove_prefix(1);  // space-stuffing

        const bool signature = line == "-- ";
        const bool soft = !signature && !line.empty() && line.back() == ' ';
        if (open && depth != open_depth) out += "\r\n";  // a paragraph never runs across quote levels
        if (!open || depth != open_depth) {
            if (depth > 0) out.append(depth, '>').push_back(' ');
        }
        if (soft && delete_space) line.remove_suffix(1);
        out += line;
        open = soft;
        open_depth = depth;
        if (!soft && !text.empty()) out += "\r\n";
        if (!soft && text.empty() && end != std::string_view::npos) out += "\r\n";
    }
    return out;
}

}  // namespace mime
