// Charsets of internet mail and the Windows code pages that name them in MAPI properties.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "store/mapi/message.h"

namespace mime {

// The code page of a MIME charset name ("iso-8859-1" -> 28591), or nothing when it has none.
std::optional<std::int32_t> CodePageOfCharset(const std::string& charset);
// The charset name iconv knows for a code page, or nothing.
std::optional<std::string> CharsetOfCodePage(std::int32_t code_page);

// True when ToUtf8 can read the charset by its name.
bool IsKnownCharset(const std::string& charset);
// A leading U+FEFF removed: a byte order mark is no character of the text.
std::string WithoutByteOrderMark(std::string utf8);

// Text in charset turned into UTF-8, always valid UTF-8. Text labelled UTF-8 is read leniently
// (platform::DecodeUtf8Leniently); a legacy charset through its Windows code page, each byte it
// cannot read kept as the character of its own value.
std::string ToUtf8(const std::string& bytes, const std::string& charset);
// Valid UTF-8 stays as it is; anything else is read as windows-1252.
std::string EnsureUtf8(const std::string& bytes);

// The HTML body of a message (PR_HTML in the code page PR_INTERNET_CPID) as UTF-8; empty when
// the message has none.
std::string HtmlBodyUtf8(const mapi::Message& message);

}  // namespace mime
