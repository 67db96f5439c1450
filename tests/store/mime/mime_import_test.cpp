#include "store/mime/mime_import.h"

#include <gtest/gtest.h>

#include "fixtures/temp_folder.h"
#include "store/mapi/prop_tags.h"
#include "store/mime/charsets.h"
#include "store/mime/html_text.h"

using mapi::Message;

namespace {

// Unlabelled 8-bit text read as windows-1252 whatever the locale the tests run in.
Message Import(const std::string& text) { return mime::ImportMessage(text.data(), text.size(), "windows-1252"); }
std::string Get(const mapi::PropertyBag& bag, mapi::PropTag tag) { return bag.GetString(tag).value_or("<absent>"); }

// message/rfc822 parts nested depth times around a plain message.
std::string Nested(int depth) {
    std::string text = "Subject: level " + std::to_string(depth) + "\r\n\r\ncore\r\n";
    for (int level = depth - 1; level >= 0; --level) {
        text = "Subject: level " + std::to_string(level) + "\r\nMIME-Version: 1.0\r\nContent-Type: message/rfc822\r\n\r\n" + text;
    }
    return text;
}

int EmbeddedDepth(const Message& message) {
    int depth = 0;
    const Message* m = &message;
    while (!m->attachments.empty() && m->attachments[0].embedded) {
        m = m->attachments[0].embedded.get();
        ++depth;
    }
    return depth;
}

}  // namespace

TEST(MimeImport, RawEightBitHeadersAndDeclaredCharsetsAllBecomeUnicode) {
    // Raw windows-1252 bytes in a header (no encoded word): the fallback reads them right.
    EXPECT_EQ(Get(Import("Subject: Gr\xFC\xDF" "e\r\n\r\nx").props, mapi::PR_SUBJECT_W), "Grüße");
    // Raw UTF-8 in a header stays UTF-8.
    EXPECT_EQ(Get(Import("Subject: Gr\xC3\xBC\xC3\x9F" "e\r\n\r\nx").props, mapi::PR_SUBJECT_W), "Grüße");
    // Encoded words in other charsets.
    EXPECT_EQ(Get(Import("Subject: =?koi8-r?b?8NLJ18XU?=\r\n\r\nx").props, mapi::PR_SUBJECT_W), "Привет");
    // Bodies in their declared charsets; windows-1252 never read as UTF-8.
    auto m = Import("Content-Type: text/plain; charset=windows-1252\r\n\r\n\x93quoted\x94 \x80 5");
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "\u201Cquoted\u201D \u20AC 5");
    m = Import("Content-Type: text/plain; charset=koi8-r\r\n\r\n\xF0\xD2\xC9\xD7\xC5\xD4");
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "Привет");
    // An unknown charset or bytes that are not what the label says lose nothing either.
    m = Import("Content-Type: text/plain; charset=x-unknown\r\n\r\ncaf\xE9");
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "café");
    // A part that says UTF-8 is read as UTF-8: the one bad byte is marked, the rest kept.
    m = Import("Content-Type: text/plain; charset=utf-8\r\n\r\ncaf\xE9 \xC3\xA0 la carte");
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "caf\uFFFD \u00E0 la carte");
}

TEST(MimeImport, HtmlKeepsItsCharsetAndTheCodePageSaysWhichOne) {
    auto m = Import("Content-Type: text/html; charset=iso-2022-jp\r\n\r\n<p>\x1B$B$3$s$K$A$O\x1B(B</p>");
    EXPECT_EQ(m.props.GetInt32(mapi::PR_INTERNET_CPID), 50220);
    EXPECT_EQ(mime::HtmlBodyUtf8(m), "<p>こんにちは</p>");
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "こんにちは");  // text body made from the HTML
    m = Import("Content-Type: text/html; charset=x-unknown\r\n\r\n<b>caf\xE9</b>");
    EXPECT_EQ(m.props.GetInt32(mapi::PR_INTERNET_CPID), mapi::CP_UTF8);
    EXPECT_EQ(mime::HtmlBodyUtf8(m), "<b>café</b>");
}

TEST(MimeImport, DatesComeFromTheMessageNeverFromTheClock) {
    auto m = Import("Subject: x\r\n\r\nbody");
    EXPECT_FALSE(m.props.Has(mapi::PR_CLIENT_SUBMIT_TIME));
    EXPECT_FALSE(m.props.Has(mapi::PR_MESSAGE_DELIVERY_TIME));
    EXPECT_FALSE(m.props.Has(mapi::PR_CREATION_TIME));
    m = Import("Received: by host; Sat, 01 Jan 2000 00:00:10 +0000\r\nSubject: x\r\n\r\nbody");
    EXPECT_FALSE(m.props.Has(mapi::PR_CLIENT_SUBMIT_TIME));
    EXPECT_EQ(m.props.GetTime(mapi::PR_MESSAGE_DELIVERY_TIME), mime::FiletimeFromUnix(946684810));
    m = Import("Date: Sat, 01 Jan 2000 01:00:00 +0100\r\n\r\nbody");  // no Received: delivery = sent
    EXPECT_EQ(m.props.GetTime(mapi::PR_CLIENT_SUBMIT_TIME), mime::FiletimeFromUnix(946684800));
    EXPECT_EQ(m.props.GetTime(mapi::PR_MESSAGE_DELIVERY_TIME), mime::FiletimeFromUnix(946684800));
    m = Import("Date: not a date at all\r\n\r\nbody");
    EXPECT_FALSE(m.props.Has(mapi::PR_CLIENT_SUBMIT_TIME));
}

TEST(MimeImport, GroupsAreOpenedAndEmptyGroupsGiveNoRecipients) {
    auto m = Import("To: undisclosed-recipients:;\r\nCc: Team: a@example.com, \"B\" <b@example.com>;\r\n\r\nx");
    ASSERT_EQ(m.recipients.size(), 2u);
    EXPECT_EQ(m.recipients[0].props.GetInt32(mapi::PR_RECIPIENT_TYPE), mapi::MAPI_CC);
    EXPECT_EQ(Get(m.recipients[1].props, mapi::PR_DISPLAY_NAME_W), "B");
    EXPECT_EQ(Get(m.recipients[1].props, mapi::PR_SMTP_ADDRESS_W), "b@example.com");
}

// The list is split before its encoded words are decoded; a local address is an address.
TEST(MimeImport, AddressListsAreSplitBeforeTheirNamesAreDecoded) {
    struct Case {
        const char* header;
        std::vector<std::pair<std::string, std::string>> recipients;  // name, address
    };
    const Case cases[] = {
        {"To: =?utf-8?Q?Doe=2C_J=C3=A4ne?= <jane@example.com>, Charlie Root <root>",
         {{"Doe, Jäne", "jane@example.com"}, {"Charlie Root", "root"}}},
        {"Cc: =?utf-8?B?RG9lLCBKb2hu?= <john@example.com>", {{"Doe, John", "john@example.com"}}},
        {"To: \"Last, First\" <lf@example.com>,\r\n =?iso-8859-1?Q?R=E9my?= <r@example.com>",
         {{"Last, First", "lf@example.com"}, {"Rémy", "r@example.com"}}},
        {"To: Undisclosed, root@localhost", {{"Undisclosed", ""}, {"root@localhost", "root@localhost"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        const Message m = Import(std::string(c.header) + "\r\n\r\nx");
        ASSERT_EQ(m.recipients.size(), c.recipients.size());
        for (std::size_t i = 0; i < c.recipients.size(); ++i) {
            EXPECT_EQ(Get(m.recipients[i].props, mapi::PR_DISPLAY_NAME_W), c.recipients[i].first);
            EXPECT_EQ(m.recipients[i].props.GetString(mapi::PR_SMTP_ADDRESS_W).value_or(""), c.recipients[i].second);
        }
    }
    const Message from = Import("From: =?utf-8?Q?M=C3=BCller=2C_J=C3=BCrgen?= <juergen@example.de>\r\n\r\nx");
    EXPECT_EQ(Get(from.props, mapi::PR_SENDER_NAME_W), "Müller, Jürgen");
    EXPECT_EQ(Get(from.props, mapi::PR_SENDER_EMAIL_ADDRESS_W), "juergen@example.de");
    const Message local = Import("From: Charlie Root <root>\r\n\r\nx");
    EXPECT_EQ(Get(local.props, mapi::PR_SENDER_NAME_W), "Charlie Root");
    EXPECT_EQ(Get(local.props, mapi::PR_SENDER_EMAIL_ADDRESS_W), "root");
}

// MAPI strings end at a zero byte; the bodies must not.
TEST(MimeImport, ZeroBytesNeverCutATextProperty) {
    using namespace std::string_literals;
    Message m = Import("Subject: a\r\nContent-Type: text/plain\r\n\r\nbefore\0after"s);
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "beforeafter");
    m = Import("Content-Type: text/html\r\n\r\n<p>one\0two</p>"s);
    EXPECT_EQ(mime::HtmlBodyUtf8(m), "<p>onetwo</p>");
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "onetwo");
}

TEST(MimeImport, EmbeddedMessagesKeepTheLineEndsOfTheMail) {
    const std::string inner = "From: in@example.com\r\nSubject: inner\r\nX-Folded: a\r\n b\r\n\r\nbody\r\n";
    const Message m = Import("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: message/rfc822\r\n\r\n" +
                             inner + "--b--\r\n");
    ASSERT_EQ(m.attachments.size(), 1u);
    ASSERT_TRUE(m.attachments[0].embedded);
    EXPECT_EQ(Get(m.attachments[0].embedded->props, mapi::PR_TRANSPORT_MESSAGE_HEADERS_W),
              "From: in@example.com\r\nSubject: inner\r\nX-Folded: a\r\n b\r\n");
}

// Stored as Outlook stores them: one attachment Outlook verifies or opens, the right class.
TEST(MimeImport, SignedAndEncryptedMailKeepsWhatTheSignatureCovers) {
    const std::string signed_body =
        "This is an S/MIME signed message\r\n\r\n--S\r\nContent-Type: multipart/mixed; boundary=M\r\n\r\n"
        "--M\r\nContent-Type: text/plain\r\n\r\nsigned text \r\n--M\r\nContent-Type: application/pdf; name=a.pdf\r\n\r\n%PDF\r\n--M--\r\n"
        "\r\n--S\r\nContent-Type: application/pkcs7-signature; name=smime.p7s\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "MIIB\r\n\r\n--S--\r\n";
    const std::string type = "Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\";\r\n\tmicalg=sha-256; boundary=\"S\"\r\n";
    Message m = Import("From: a@example.com\r\nSubject: s\r\nMIME-Version: 1.0\r\n" + type + "\r\n" + signed_body);
    EXPECT_EQ(Get(m.props, mapi::PR_MESSAGE_CLASS_W), "IPM.Note.SMIME.MultipartSigned");
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "signed text ");
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(Get(m.attachments[0].props, mapi::PR_ATTACH_MIME_TAG_W), "multipart/signed");
    EXPECT_EQ(Get(m.attachments[0].props, mapi::PR_ATTACH_LONG_FILENAME_W), "smime.p7m");
    const mapi::Binary* entity = m.attachments[0].props.GetBinary(mapi::PR_ATTACH_DATA_BIN);
    ASSERT_NE(entity, nullptr);
    EXPECT_EQ(std::string(entity->begin(), entity->end()), type + "\r\n" + signed_body);
    // What renderings show of it: the signed content's own parts.
    const auto content = mime::SignedContentOf(m);
    ASSERT_TRUE(content);
    ASSERT_EQ(content->attachments.size(), 2u);
    EXPECT_EQ(Get(content->attachments[0].props, mapi::PR_ATTACH_LONG_FILENAME_W), "a.pdf");

    m = Import("Subject: e\r\nContent-Type: application/pkcs7-mime; smime-type=enveloped-data; name=smime.p7m\r\n"
               "Content-Transfer-Encoding: base64\r\n\r\nAAEC\r\n");
    EXPECT_EQ(Get(m.props, mapi::PR_MESSAGE_CLASS_W), "IPM.Note.SMIME");
    EXPECT_FALSE(m.props.Has(mapi::PR_BODY_W));
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(Get(m.attachments[0].props, mapi::PR_ATTACH_LONG_FILENAME_W), "smime.p7m");
    const mapi::Binary* data = m.attachments[0].props.GetBinary(mapi::PR_ATTACH_DATA_BIN);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(*data, (mapi::Binary{0x00, 0x01, 0x02}));
    mapi::NamedProperty content_type{mapi::PS_INTERNET_HEADERS, std::nullopt, "Content-Type", mapi::PropType::Unicode};
    ASSERT_NE(m.props.FindNamed(content_type), nullptr);

    // PGP/MIME: the signed part, byte for byte, beside the signature.
    const std::string part = "Content-Type: text/plain; charset=us-ascii\r\n\r\npgp signed \r\nline";
    m = Import("Subject: p\r\nContent-Type: multipart/signed; protocol=\"application/pgp-signature\"; boundary=P\r\n\r\n"
               "--P\r\n" + part + "\r\n--P\r\nContent-Type: application/pgp-signature; name=signature.asc\r\n\r\n"
               "-----BEGIN PGP SIGNATURE-----\r\n--P--\r\n");
    EXPECT_EQ(Get(m.props, mapi::PR_MESSAGE_CLASS_W), "IPM.Note");
    ASSERT_EQ(m.attachments.size(), 2u);
    EXPECT_EQ(Get(m.attachments[0].props, mapi::PR_ATTACH_LONG_FILENAME_W), "signature.asc");
    const mapi::Binary* exact = m.attachments[1].props.GetBinary(mapi::PR_ATTACH_DATA_BIN);
    ASSERT_NE(exact, nullptr);
    EXPECT_EQ(std::string(exact->begin(), exact->end()), part);
}

TEST(MimeImport, ImportanceAndPriorityHeaders) {
    EXPECT_EQ(Import("X-Priority: 5 (Lowest)\r\n\r\nx").props.GetInt32(mapi::PR_IMPORTANCE), mapi::IMPORTANCE_LOW);
    EXPECT_EQ(Import("X-Priority: 1\r\n\r\nx").props.GetInt32(mapi::PR_IMPORTANCE), mapi::IMPORTANCE_HIGH);
    EXPECT_EQ(Import("Importance: Low\r\nX-Priority: 1\r\n\r\nx").props.GetInt32(mapi::PR_IMPORTANCE), mapi::IMPORTANCE_LOW);
    EXPECT_EQ(Import("Priority: urgent\r\n\r\nx").props.GetInt32(mapi::PR_PRIORITY), 1);
    EXPECT_EQ(Import("\r\nx").props.GetInt32(mapi::PR_IMPORTANCE), mapi::IMPORTANCE_NORMAL);
}

TEST(MimeImport, DamagedMimeKeepsEveryPart) {
    // No closing boundary, a part with a broken base64 body, a part with no headers at all.
    auto m = Import("Content-Type: multipart/mixed; boundary=b\r\n\r\n"
                    "--b\r\nContent-Type: text/plain\r\n\r\nfirst\r\n"
                    "--b\r\nContent-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n\r\n%%%%JVBERi0=\r\n"
                    "--b\r\n\r\nno headers here\r\n"
                    "--b\r\nContent-Type: image/gif; name=\"../../etc/x.gif\"\r\n\r\nGIF89a");
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "first");
    ASSERT_EQ(m.attachments.size(), 3u);
    EXPECT_EQ(Get(m.attachments[0].props, mapi::PR_ATTACH_LONG_FILENAME_W), "attachment1.pdf");
    EXPECT_EQ(Get(m.attachments[1].props, mapi::PR_ATTACH_MIME_TAG_W), "text/plain");  // the default type
    EXPECT_EQ(Get(m.attachments[2].props, mapi::PR_ATTACH_LONG_FILENAME_W), ".._.._etc_x.gif");  // never a path
    const mapi::Binary* gif = m.attachments[2].props.GetBinary(mapi::PR_ATTACH_DATA_BIN);
    ASSERT_NE(gif, nullptr);
    EXPECT_EQ(std::string(gif->begin(), gif->end()), "GIF89a");
}

TEST(MimeImport, GarbageAndEmptyInputGiveAMessageNotACrash) {
    EXPECT_EQ(Get(Import("").props, mapi::PR_MESSAGE_CLASS_W), "IPM.Note");
    std::string garbage;
    for (int i = 0; i < 5000; ++i) garbage.push_back(static_cast<char>((i * 7919) & 0xFF));
    Message m = Import(garbage);
    EXPECT_EQ(Get(m.props, mapi::PR_MESSAGE_CLASS_W), "IPM.Note");
    EXPECT_THROW(mime::ImportMessageFile("/nonexistent/file.eml"), mime::ImportError);
}

TEST(MimeImport, EmbeddedMessagesNestUpToTheBoundThenStayRaw) {
    EXPECT_EQ(EmbeddedDepth(Import(Nested(5))), 5);
    const Message deep = Import(Nested(200));
    EXPECT_EQ(EmbeddedDepth(deep), mime::kMaxEmbeddedDepth - 1);
    // The level below the bound is kept whole as an .eml attachment: nothing is dropped.
    const Message* m = &deep;
    while (!m->attachments.empty() && m->attachments[0].embedded) m = m->attachments[0].embedded.get();
    ASSERT_EQ(m->attachments.size(), 1u);
    const mapi::Binary* raw = m->attachments[0].props.GetBinary(mapi::PR_ATTACH_DATA_BIN);
    ASSERT_NE(raw, nullptr);
    EXPECT_NE(std::string(raw->begin(), raw->end()).find("core"), std::string::npos);
}

TEST(MimeImport, DeepMultipartNestingDoesNotExhaustTheStack) {
    std::string text = "Content-Type: multipart/mixed; boundary=b0\r\n\r\n";
    const int depth = 300;
    for (int i = 0; i < depth; ++i) {
        text += "--b" + std::to_string(i) + "\r\nContent-Type: multipart/mixed; boundary=b" + std::to_string(i + 1) + "\r\n\r\n";
    }
    text += "--b" + std::to_string(depth) + "\r\nContent-Type: text/plain\r\n\r\ninnermost\r\n";
    const Message m = Import(text);
    EXPECT_EQ(m.attachments.size(), 1u);  // everything below the bound, raw
}

TEST(MimeImport, InlineImagesAreMarkedAndNamedAttachmentsAreNot) {
    auto m = Import("Content-Type: multipart/related; boundary=r\r\n\r\n"
                    "--r\r\nContent-Type: text/html\r\n\r\n<img src=\"cid:logo\">\r\n"
                    "--r\r\nContent-Type: image/png\r\nContent-ID: <logo>\r\n\r\nPNG\r\n"
                    "--r\r\nContent-Type: image/png\r\nContent-ID: <other>\r\nContent-Disposition: attachment; filename=a.png\r\n\r\nPNG\r\n--r--\r\n");
    ASSERT_EQ(m.attachments.size(), 2u);
    EXPECT_EQ(Get(m.attachments[0].props, mapi::PR_ATTACH_CONTENT_ID_W), "logo");
    EXPECT_EQ(m.attachments[0].props.GetBool(mapi::PR_ATTACHMENT_HIDDEN), true);
    EXPECT_EQ(m.attachments[0].props.GetInt32(mapi::PR_ATTACH_FLAGS), mapi::ATTACH_MHTML_REF);
    EXPECT_FALSE(m.attachments[1].props.Has(mapi::PR_ATTACHMENT_HIDDEN));
    EXPECT_EQ(Get(m.attachments[1].props, mapi::PR_ATTACH_LONG_FILENAME_W), "a.png");
}

TEST(HtmlToText, DropsTagsAndHiddenTextDecodesReferences) {
    EXPECT_EQ(mime::HtmlToText("<html><head><title>T</title><style>p{}</style></head><body>"
                               "<p>One &amp; two</p><script>bad()</script><p>caf&eacute;&#33;&#x263A;<br>next</p></body></html>"),
              "One & two\ncafé!\u263A\nnext");
    EXPECT_EQ(mime::HtmlToText("a\n   b<pre>x\n  y</pre>"), "a b\nx\n  y");
    EXPECT_EQ(mime::HtmlToText("unclosed <b"), "unclosed");
    EXPECT_EQ(mime::HtmlToText("&bogus; &"), "&bogus; &");
    // A head never closed ends at the body, its title with it.
    EXPECT_EQ(mime::HtmlToText("<HTML><HEAD><TITLE>Newsletter</TITLE><META name=x>\r\n<BODY><P>Text</P></BODY>"), "Text");
}

TEST(HtmlToText, LayoutSpacingBecomesAtMostOneBlankLine) {
    EXPECT_EQ(mime::HtmlToText("<p>Top</p><br><br><br><table><tr><td>&nbsp;</td></tr><tr><td> </td></tr></table>"
                               "<br>\n<br><p>Bottom</p><p>Next</p>"),
              "Top\n\nBottom\nNext");
    EXPECT_EQ(mime::HtmlToText("<br><br>Start"), "Start");
}

// The files a user saves from a mail: a signed message's own attachments, not its signature;
// a second plain text without a disposition is a file, the bodies are not; a forwarded
// message whole; raw 8-bit names read as the message's charset; no MIME at all, no files.
TEST(AttachedFiles, AreThePartsThatAreNoBodyAndNoSignature) {
    const std::string signed_mail =
        "Subject: s\r\nMIME-Version: 1.0\r\nContent-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; "
        "boundary=s\r\n\r\n--s\r\nContent-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: text/plain\r\n\r\n"
        "body\r\n--m\r\nContent-Type: text/plain\r\n\r\nfooter\r\n--m\r\nContent-Type: text/plain; charset=koi8-r\r\n"
        "Content-Disposition: attachment; filename=\"\xF0\xD2\xC9.txt\"\r\n\r\nx\r\n--m\r\n"
        "Content-Type: message/rfc822; name=fwd\r\n\r\nSubject: in\r\n\r\nin\r\n--m--\r\n"
        "--s\r\nContent-Type: application/pkcs7-signature; name=smime.p7s\r\n\r\nsig\r\n--s--\r\n";
    const std::vector<mime::AttachedFile> files = mime::AttachedFilesOf(signed_mail);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].name, "");
    EXPECT_EQ(files[0].bytes, "footer");
    EXPECT_EQ(files[1].name, "\xD0\x9F\xD1\x80\xD0\xB8.txt");  // "При" read as KOI8-R
    EXPECT_EQ(files[2].name, "fwd.eml");
    EXPECT_EQ(files[2].mime_type, "message/rfc822");
    EXPECT_EQ(files[2].bytes, "Subject: in\r\n\r\nin");
    EXPECT_TRUE(mime::AttachedFilesOf("Subject: plain\r\n\r\njust text\r\n").empty());
    EXPECT_TRUE(mime::AttachedFilesOf("").empty());
}
