// Reads back the HTML wrapped in RTF, as a mail program that understands the wrapping would:
// the text of htmltag groups and the plain text outside \htmlrtf regions is the HTML; every
// other destination is skipped.
#pragma once

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "store/mime/html_text.h"

namespace rtftest {

inline std::string HtmlFromRtf(const std::string& rtf) {
    struct State {
        bool skip = false;     // inside a destination that is not HTML
        bool htmltag = false;  // inside {\*\htmltag...}
        bool suppressed = false;
    };
    std::vector<State> stack{State{}};
    std::string out;
    int skip_after_unicode = 0;
    auto emitting = [&] { const State& s = stack.back(); return !s.skip && (s.htmltag || !s.suppressed); };
    std::size_t i = 0;
    bool destination_pending = false;  // just saw "\*"
    while (i < rtf.size()) {
        const char c = rtf[i];
        if (c == '{') {
            stack.push_back(stack.back());
            ++i;
            continue;
        }
        if (c == '}') {
            if (stack.size() > 1) stack.pop_back();
            ++i;
            continue;
        }
        if (c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c != '\\') {
            if (skip_after_unicode > 0) --skip_after_unicode;
            else if (emitting()) out.push_back(c);
            ++i;
            continue;
        }
        // A control symbol or word.
        if (i + 1 >= rtf.size()) break;
        const char next = rtf[i + 1];
        if (!std::isalpha(static_cast<unsigned char>(next))) {
            if (next == '*') {
                destination_pending = true;
            } else if (next == '\'') {
                if (emitting()) out.push_back(static_cast<char>(std::strtol(rtf.substr(i + 2, 2).c_str(), nullptr, 16)));
                i += 4;
                continue;
            } else if (emitting()) {
                out.push_back(next);
            }
            i += 2;
            continue;
        }
        std::size_t j = i + 1;
        while (j < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[j]))) ++j;
        const std::string word = rtf.substr(i + 1, j - i - 1);
        std::size_t k = j;
        if (k < rtf.size() && (rtf[k] == '-' || std::isdigit(static_cast<unsigned char>(rtf[k])))) {
            ++k;
            while (k < rtf.size() && std::isdigit(static_cast<unsigned char>(rtf[k]))) ++k;
        }
        const std::string param = rtf.substr(j, k - j);
        if (k < rtf.size() && rtf[k] == ' ') ++k;
        i = k;
        State& state = stack.back();
        if (destination_pending) {
            destination_pending = false;
            if (word == "htmltag") state.htmltag = true;
            else state.skip = true;
            continue;
        }
        if (word == "fonttbl" || word == "colortbl" || word == "stylesheet") state.skip = true;
        else if (word == "htmlrtf") state.suppressed = param != "0";
        else if (word == "par" && emitting()) out += "\r\n";
        else if (word == "tab" && emitting()) out += "\t";
        else if (word == "u") {
            if (emitting()) mime::AppendUtf8(out, static_cast<char32_t>(static_cast<std::uint16_t>(std::stoi(param))));
            skip_after_unicode = 1;
        }
    }
    return out;
}

}  // namespace rtftest
