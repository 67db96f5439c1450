// Text conversions: UTF-8 inside the program, UTF-16 where a rule counts code units, and the
// legacy 8-bit code pages that Outlook Express stored subjects in.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::u16string Utf8ToUtf16(std::string_view utf8);  // invalid sequences become U+FFFD
std::string Utf16ToUtf8(std::u16string_view utf16);  // lone surrogates become U+FFFD
bool IsWellFormedUtf8(std::string_view bytes);
// The length of the run of ASCII bytes text starts with: most mail text is ASCII throughout,
// and a conversion need only look at what follows that run.
std::size_t AsciiPrefixLength(std::string_view text);
// Appends one code point as UTF-8; surrogates and values past U+10FFFF become U+FFFD.
void AppendUtf8(std::string& out, char32_t code_point);

// True when bytes are well-formed UTF-8 holding at least one multi-byte sequence: such a
// subject was stored as UTF-8, not in a legacy code page.
bool LooksLikeMultibyteUtf8(std::string_view bytes);

// The code page Windows would use as the ANSI code page for the user's locale (from LC_ALL,
// LC_CTYPE or LANG): "windows-1251" for Russian, "CP932" for Japanese, ...; "windows-1252" when
// the locale says nothing.
std::string DefaultLegacyCodepage();
// The same for an explicit locale name such as "ru_RU.UTF-8".
std::string LegacyCodepageForLocale(std::string_view locale);

// True when iconv knows the code page.
bool IsKnownCodepage(const std::string& codepage);

// Decodes 8-bit text stored by a Windows program: UTF-8 when it looks like UTF-8 (see above);
// runs in the escape sequences of ISO-2022-JP (7-bit Japanese mail text that many programs put
// into headers unlabelled) as Japanese; else the code page (empty: the default one). Bytes the
// code page leaves undefined map to the code point of the same value, as Windows does; nothing
// ever fails.
std::u16string LegacyToUtf16(std::string_view bytes, const std::string& codepage);
std::string LegacyToUtf8(std::string_view bytes, const std::string& codepage);

// Text in a code page that its label names, without guessing at UTF-8: the label wins. False
// when iconv does not know the code page. Undefined bytes keep their value, as above.
bool DecodeCodepage(std::string_view bytes, const std::string& codepage, std::string& utf8);

// Text that says it is UTF-8, read as well as it can be: surrogate pairs written as two 3-byte
// sequences (CESU-8, as Java and some Windows programs wrote them) become the character they
// encode; every other byte that is not part of a well-formed sequence becomes U+FFFD on its own,
// so one bad byte never costs the text around it.
std::string DecodeUtf8Leniently(std::string_view bytes);

// The ISO-2022-JP runs in text (from ESC $ B or ESC $ @ up to the escape back to ASCII) decoded;
// the rest is kept as it is.
std::string DecodeIso2022JpRuns(std::string_view text);
bool HasIso2022JpRuns(std::string_view text);

}  // namespace platform
