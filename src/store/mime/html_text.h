// HTML reduced to plain text, for a text body where a message has only HTML.
#pragma once

#include <string>

#include "platform/text_encoding.h"

namespace mime {

using platform::AppendUtf8;

// Tags dropped, block ends turned into line breaks, script/style/head contents left out,
// character references decoded; whitespace runs folded as a browser would. UTF-8 in and out.
std::string HtmlToText(const std::string& html);

// Where the content of an element that is not shown (head, title, script, style) whose start tag
// ends at html[from] stops: after its end tag; for a head that is never closed, at the body's
// start tag; else at the end of the text.
std::size_t HiddenContentEnd(const std::string& html, std::size_t from, const std::string& name);

// The code point of a character reference body ("amp", "#233", "#x20AC"), or 0 when unknown.
char32_t DecodeCharacterReference(const std::string& body);

// The ';' closing a character reference that starts with '&' at text[at], looked for only as
// far as a reference can reach (so text full of '&' is not scanned again for each one), or npos.
std::size_t FindReferenceEnd(const std::string& text, std::size_t at);

}  // namespace mime
