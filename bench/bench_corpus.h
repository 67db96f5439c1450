// The messages of the benchmark folder files, made the same way by the folder-file generator
// and by the file-writing baseline, so that both write the same sizes.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

enum class Corpus { Small, Large, Huge };

inline std::size_t MessageCount(Corpus corpus) {
    return corpus == Corpus::Small ? 100000 : corpus == Corpus::Large ? 2000 : 1;
}

inline std::string MessageSubject(std::size_t i) { return "Weekly report " + std::to_string(i) + ": figures <Q3>"; }

// A small message of 1 to 4 KB, a large one of about 250 KB (a base64 attachment), or a huge
// one of 200 MiB (the same form, for peak memory against the largest message), with CR LF line
// ends as Outlook Express stored them.
inline std::string MessageText(Corpus corpus, std::size_t i) {
    std::string text;
    if (corpus == Corpus::Huge) text.reserve(201u * 1024 * 1024);
    text += "From: \"Sender " + std::to_string(i % 97) + "\" <sender" + std::to_string(i % 97) + "@example.com>\r\n";
    text += "To: \"Team\" <team@example.org>\r\n";
    text += "Subject: " + MessageSubject(i) + "\r\n";
    text += "Date: Thu, 05 Mar 2009 14:07:09 +0100\r\n";
    text += "Message-ID: <" + std::to_string(i) + ".bench@example.com>\r\n";
    text += "MIME-Version: 1.0\r\n";
    const std::size_t body_lines = corpus == Corpus::Small   ? 12 + (i * 7919) % 40
                                  : corpus == Corpus::Large ? 3300
                                                            : 200u * 1024 * 1024 / 78;
    if (corpus == Corpus::Small) {
        text += "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n\r\n";
        for (std::size_t line = 0; line < body_lines; ++line)
            text += "Line " + std::to_string(line) + " of the report: all figures are within the plan.\r\n";
        if (i % 10 == 0) text += "From the desk of the manager: thanks.\r\n";
    } else {
        text += "Content-Type: multipart/mixed; boundary=\"part\"\r\n\r\n--part\r\n";
        text += "Content-Type: text/plain\r\n\r\nThe data is attached.\r\n--part\r\n";
        text += "Content-Type: application/octet-stream; name=\"data.bin\"\r\n";
        text += "Content-Transfer-Encoding: base64\r\n\r\n";
        static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::uint32_t state = static_cast<std::uint32_t>(i) * 2654435761u + 1;
        for (std::size_t line = 0; line < body_lines; ++line) {
            for (int c = 0; c < 76; ++c) {
                state = state * 1664525u + 1013904223u;
                text += kAlphabet[state >> 26];
            }
            text += "\r\n";
        }
        text += "--part--\r\n";
    }
    return text;
}

}  // namespace bench
