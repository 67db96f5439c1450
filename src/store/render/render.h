// Renderings of a message for people: a standalone HTML page and an RTF document, each with a
// header block (From, Sent, To, Cc, Subject, Attachments) above the body.
#pragma once

#include <string>
#include <vector>

#include "store/mapi/message.h"

namespace render {

// A UTF-8 HTML document that opens on its own: the HTML body made safe, inline images as data:
// addresses; or the text body escaped.
std::string RenderHtml(const mapi::Message& message);

// An RTF document (7-bit, Unicode through \uN escapes) with the text body, or the HTML body
// reduced to text.
std::string RenderRtf(const mapi::Message& message);

// Active content removed from an HTML fragment or document: script, style-less event handler
// attributes, javascript:/vbscript: addresses, forms and their controls, frames, objects, embeds,
// meta refresh and base. Images referenced as cid: are replaced through resolve_cid when it
// returns a non-empty address.
using CidResolver = std::string (*)(const std::string& content_id, const void* context);
std::string SanitizeHtml(const std::string& html, CidResolver resolve_cid = nullptr, const void* context = nullptr);

// The HTML body wrapped in RTF as Outlook expects for a message that came in as HTML (the
// "fromhtml" encapsulation), so that RTF-only readers show the text and HTML-aware ones the page.
std::string EncapsulateHtmlInRtf(const std::string& html_utf8);

// RTF in the compressed form of the PR_RTF_COMPRESSED property (LZ77 with the shared dictionary).
std::vector<std::uint8_t> CompressRtf(const std::string& rtf);
// The reverse; throws std::runtime_error for damaged input. Used by tests and readers.
std::string DecompressRtf(const std::vector<std::uint8_t>& compressed);

// "Mon, 07 Dec 2026 06:00:00 +0000"-style text of a FILETIME, in UTC.
std::string FormatFiletime(const mapi::Filetime& time);

}  // namespace render
