// How 8-bit text that names no charset is read: raw header fields written by mail programs that
// ignored MIME (a Russian subject in plain windows-1251, a Japanese sender name in Shift_JIS),
// RFC 2231 values without a charset, and text parts without a charset parameter.
//
// One decision serves every such text of a message, and the output file name uses the same one,
// so the name and the text inside the file agree:
//   1. bytes that are well-formed UTF-8 with at least one multi-byte sequence are UTF-8;
//   2. otherwise the charset that the message's first text part declares, when that is a
//      legacy 8-bit or multi-byte charset (the sender's program wrote its headers in it too);
//   3. otherwise the job's code page: the one the user named, else this system's.
#pragma once

#include <string>
#include <string_view>

namespace mime {

// The iconv name Windows would decode a MIME charset with: the Windows supersets that Outlook
// uses for the national standards (shift_jis -> CP932, gb2312 -> CP936, big5 -> CP950,
// ks_c_5601-1987 -> CP949, iso-8859-1 -> windows-1252). Empty when iconv knows no such charset.
std::string WindowsCodepageOf(const std::string& charset);

// True for a charset whose text needs a code page to be read: not ASCII, not a form of Unicode.
bool IsLegacyCharset(const std::string& charset);

// The charset declared by the first text part of a message (in document order, not inside
// embedded messages) that declares one, as its Windows code page, when it is a legacy charset;
// empty otherwise. Works on the raw message text, so the exporters can name a file without
// parsing the message.
std::string DeclaredLegacyCodepage(std::string_view message_text);

// The code page the Subject header's first encoded word names, when that is a legacy charset;
// empty otherwise. Outlook Express stored the subject of its record decoded in that charset, so
// this is the code page that reads the record's subject back.
std::string SubjectLabelCodepage(std::string_view message_text);

// The code page for the message's unlabelled 8-bit text: the declared one, else job_codepage,
// else this system's. Never empty.
std::string CodepageForUnlabelledText(std::string_view message_text, const std::string& job_codepage);

// Unlabelled bytes of a message decoded by the decision above (code_page from
// CodepageForUnlabelledText); the result is always valid UTF-8.
std::string DecodeUnlabelled(std::string_view bytes, const std::string& code_page);

}  // namespace mime
