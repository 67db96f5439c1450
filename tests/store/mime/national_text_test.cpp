// National text in mail that names no charset: raw 8-bit headers, unlabelled parts and names.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "store/mapi/prop_tags.h"
#include "store/mime/charsets.h"
#include "store/mime/flowed.h"
#include "store/mime/mime_import.h"
#include "store/mime/unlabelled_text.h"
#include "store/mime/national_samples.h"

using mapi::Message;
using national::kSamples;
using national::RawMessage;
using national::Sample;

namespace {

std::string Get(const mapi::PropertyBag& bag, mapi::PropTag tag) { return bag.GetString(tag).value_or("<absent>"); }

Message Import(const std::string& text, const std::string& job_codepage) {
    return mime::ImportMessage(text.data(), text.size(), job_codepage);
}

std::string Quoted(const char* raw) { return std::string("filename=\"") + raw + "\""; }

std::string PercentEncoded(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (std::isalnum(c) || c == '.' || c == '_') {
            out.push_back(static_cast<char>(c));
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

void ExpectSampleText(const Message& m, const Sample& s, bool with_body = true) {
    SCOPED_TRACE(s.language);
    EXPECT_EQ(Get(m.props, mapi::PR_SUBJECT_W), s.text[0]);
    EXPECT_EQ(Get(m.props, mapi::PR_SENT_REPRESENTING_NAME_W), s.text[1]);
    EXPECT_EQ(Get(m.props, mapi::PR_SENDER_NAME_W), s.text[1]);
    EXPECT_EQ(Get(m.props, mapi::PR_REPLY_RECIPIENT_NAMES_W), s.text[1]);
    ASSERT_EQ(m.recipients.size(), 1u);
    EXPECT_EQ(Get(m.recipients[0].props, mapi::PR_DISPLAY_NAME_W), s.text[2]);
    EXPECT_EQ(Get(m.props, mapi::PR_DISPLAY_TO_W), s.text[2]);
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(Get(m.attachments[0].props, mapi::PR_ATTACH_LONG_FILENAME_W), s.text[3]);
    if (with_body) {
        EXPECT_EQ(Get(m.props, mapi::PR_BODY_W).substr(0, std::string(s.text[0]).size()), s.text[0]);
    }
}

}  // namespace

TEST(NationalText, RawHeadersAreReadInTheCharsetTheTextPartDeclares) {
    // The job's code page says windows-1252: the message's own declaration wins over it.
    for (const Sample& s : kSamples) {
        ExpectSampleText(Import(RawMessage(s, s.charset, Quoted(s.raw[3])), "windows-1252"), s);
        ExpectSampleText(Import(RawMessage(s, s.charset, Quoted(s.raw[3])), ""), s);
    }
}

TEST(NationalText, WithoutALabelTheJobsCodePageReadsHeadersAndBody) {
    for (const Sample& s : kSamples) {
        ExpectSampleText(Import(RawMessage(s, "", Quoted(s.raw[3])), s.codepage), s);
        // A label that names nothing known counts as no label.
        ExpectSampleText(Import(RawMessage(s, "x-unknown-charset", Quoted(s.raw[3])), s.codepage), s);
    }
    // And it is the job's code page that did it: another one gives other characters.
    const Sample& russian = kSamples[0];
    EXPECT_NE(Get(Import(RawMessage(russian, "", Quoted(russian.raw[3])), "windows-1253").props, mapi::PR_SUBJECT_W),
              russian.text[0]);
}

TEST(NationalText, AttachmentNamesInRfc2231WithAndWithoutTheirCharset) {
    for (const Sample& s : kSamples) {
        const std::string encoded = PercentEncoded(s.raw[3]);
        // No charset in the value: the message's decision.
        ExpectSampleText(Import(RawMessage(s, s.charset, "filename*=''" + encoded), ""), s);
        ExpectSampleText(Import(RawMessage(s, "", "filename*=''" + encoded), s.codepage), s);
        // Its own charset: that one, whatever the job says.
        ExpectSampleText(Import(RawMessage(s, "", "filename*=" + std::string(s.charset) + "''" + encoded), s.codepage), s);
        Message labelled = Import(RawMessage(s, s.charset, "filename*=" + std::string(s.charset) + "''" + encoded), "");
        EXPECT_EQ(Get(labelled.attachments.at(0).props, mapi::PR_ATTACH_LONG_FILENAME_W), s.text[3]) << s.language;
    }
}

TEST(NationalText, EncodedWordsMixedWithRawBytes) {
    for (const Sample& s : kSamples) {
        // "✔" as an encoded word, then the raw subject; and the raw subject, then an encoded "✔".
        std::string message = RawMessage(s, s.charset, Quoted(s.raw[3]));
        const std::string raw_subject = std::string("Subject: ") + s.raw[0] + "\r\n";
        std::string mixed = message;
        mixed.replace(mixed.find(raw_subject), raw_subject.size(),
                      std::string("Subject: =?utf-8?B?4pyU?= ") + s.raw[0] + " =?koi8-r?B?8NLJ18XU?=\r\n");
        EXPECT_EQ(Get(Import(mixed, "").props, mapi::PR_SUBJECT_W), std::string("✔ ") + s.text[0] + " Привет")
            << s.language;
    }
}

TEST(NationalText, RawIso2022JpHeadersAreJapaneseWhateverTheCodePage) {
    const std::string subject = "\x1B$B2q5D$N5D;vO?\x1B(B";
    const std::string name = "\x1B$B;3ED" "B@O:\x1B(B";
    const std::string text = "From: \"" + name + "\" <taro@example.jp>\r\nSubject: Re: " + subject +
                             "\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                             "Content-Type: text/plain; charset=iso-2022-jp\r\n\r\n" + subject +
                             "\r\n--b\r\nContent-Type: application/octet-stream; name=\"" + subject +
                             ".txt\"\r\n\r\nx\r\n--b--\r\n";
    for (const char* job : {"", "windows-1251"}) {
        Message m = Import(text, job);
        EXPECT_EQ(Get(m.props, mapi::PR_SUBJECT_W), "Re: 会議の議事録") << job;
        EXPECT_EQ(Get(m.props, mapi::PR_SENT_REPRESENTING_NAME_W), "山田太郎") << job;
        EXPECT_EQ(Get(m.props, mapi::PR_BODY_W).substr(0, 18), "会議の議事録") << job;
        ASSERT_EQ(m.attachments.size(), 1u);
        EXPECT_EQ(Get(m.attachments[0].props, mapi::PR_ATTACH_LONG_FILENAME_W), "会議の議事録.txt") << job;
    }
    // A message that declares ISO-2022-JP but carries raw 8-bit headers wrote them in Shift_JIS.
    const Sample& japanese = kSamples[3];
    ExpectSampleText(Import(RawMessage(japanese, "iso-2022-jp", Quoted(japanese.raw[3])), ""), japanese, false);
}

TEST(NationalText, Utf8HeadersStayUtf8WhateverTheMessageDeclares) {
    const std::string text = "Subject: Grüße aus Köln\r\nFrom: \"Jürgen\" <j@example.de>\r\n"
                             "Content-Type: text/plain; charset=windows-1251\r\n\r\n\xCF\xF0\xE8\xE2\xE5\xF2";
    Message m = Import(text, "CP932");
    EXPECT_EQ(Get(m.props, mapi::PR_SUBJECT_W), "Grüße aus Köln");
    EXPECT_EQ(Get(m.props, mapi::PR_SENDER_NAME_W), "Jürgen");
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "Привет");
    // A part that claims ASCII but holds 8-bit text is read as if it had no label.
    m = Import("Content-Type: text/plain; charset=us-ascii\r\n\r\n\xCF\xF0\xE8\xE2\xE5\xF2", "windows-1251");
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "Привет");
}

TEST(NationalText, TheDeclaredCharsetIsTheFirstTextPartsThatNamesOne) {
    using mime::DeclaredLegacyCodepage;
    EXPECT_EQ(DeclaredLegacyCodepage("Subject: x\r\nContent-Type: text/plain; charset=\"KOI8-R\"\r\n\r\nbody"), "koi8-r");
    EXPECT_EQ(DeclaredLegacyCodepage("Content-Type: text/plain;\r\n\tcharset=shift_jis\r\n\r\nbody"), "CP932");
    EXPECT_EQ(DeclaredLegacyCodepage("Subject: x\r\n\r\nno content type at all"), "");
    EXPECT_EQ(DeclaredLegacyCodepage("Content-Type: text/plain; charset=utf-8\r\n\r\nx"), "");
    EXPECT_EQ(DeclaredLegacyCodepage("Content-Type: text/plain; charset=us-ascii\r\n\r\nx"), "");
    EXPECT_EQ(DeclaredLegacyCodepage("Content-Type: text/plain; charset=iso-2022-jp\r\n\r\nx"), "CP932");
    EXPECT_EQ(DeclaredLegacyCodepage("Content-Type: text/plain; charset=big5\r\n\r\nx"), "CP950");
    EXPECT_EQ(DeclaredLegacyCodepage("Content-Type: text/plain; charset=gb2312\r\n\r\nx"), "CP936");
    EXPECT_EQ(DeclaredLegacyCodepage("Content-Type: text/plain; charset=iso-8859-1\r\n\r\nx"), "windows-1252");
    // Nested multiparts, a first text part without a label, an embedded message that is not
    // this message's text, LF line ends.
    const std::string nested =
        "Content-Type: multipart/mixed; boundary=\"outer\"\n\n"
        "preamble\n--outer\nContent-Type: message/rfc822\n\nContent-Type: text/plain; charset=koi8-u\n\nx\n"
        "--outer\nContent-Type: multipart/alternative; boundary=inner\n\n"
        "--inner\nContent-Type: text/plain\n\nno label\n"
        "--inner\nContent-Type: text/html; charset=windows-1253\n\n<p>x</p>\n--inner--\n--outer--\n";
    EXPECT_EQ(DeclaredLegacyCodepage(nested), "windows-1253");
    // Damaged structures end the search, never the program.
    EXPECT_EQ(DeclaredLegacyCodepage("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b"), "");
    EXPECT_EQ(DeclaredLegacyCodepage("Content-Type: multipart/mixed; boundary=\"\"\r\n\r\n--\r\n"), "");
    EXPECT_EQ(DeclaredLegacyCodepage("Content-Type: text/plain; charset=\"koi8-r"), "koi8-r");
    EXPECT_EQ(DeclaredLegacyCodepage(""), "");
    std::string deep;
    for (int i = 0; i < 100; ++i) deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" + std::to_string(i) + "\n";
    EXPECT_EQ(DeclaredLegacyCodepage(deep + "Content-Type: text/plain; charset=koi8-r\n\nx"), "");
}

TEST(NationalText, RecipientsWithANameAloneGetNoMadeUpAddress) {
    Message m = Import("From: \"New Outlook Express User\"\r\nTo: \"New Outlook Express User\", plain@example.com, "
                       "\"Ann\" <ann@example.com>\r\nCc: Team: a@example.com;, undisclosed-recipients:;\r\n\r\nx", "");
    EXPECT_EQ(Get(m.props, mapi::PR_SENT_REPRESENTING_NAME_W), "New Outlook Express User");
    EXPECT_FALSE(m.props.Has(mapi::PR_SENT_REPRESENTING_EMAIL_ADDRESS_W));
    EXPECT_FALSE(m.props.Has(mapi::PR_SENDER_SMTP_ADDRESS_W));
    EXPECT_FALSE(m.props.Has(mapi::PR_SENDER_ADDRTYPE_W));
    ASSERT_EQ(m.recipients.size(), 4u);
    const mapi::PropertyBag& name_only = m.recipients[0].props;
    EXPECT_EQ(Get(name_only, mapi::PR_DISPLAY_NAME_W), "New Outlook Express User");
    EXPECT_FALSE(name_only.Has(mapi::PR_EMAIL_ADDRESS_W));
    EXPECT_FALSE(name_only.Has(mapi::PR_SMTP_ADDRESS_W));
    EXPECT_FALSE(name_only.Has(mapi::PR_ADDRTYPE_W));
    // An address without a name shows the address, as Outlook does.
    EXPECT_EQ(Get(m.recipients[1].props, mapi::PR_DISPLAY_NAME_W), "plain@example.com");
    EXPECT_EQ(Get(m.recipients[1].props, mapi::PR_SMTP_ADDRESS_W), "plain@example.com");
    EXPECT_EQ(Get(m.recipients[1].props, mapi::PR_ADDRTYPE_W), "SMTP");
    EXPECT_EQ(Get(m.recipients[2].props, mapi::PR_DISPLAY_NAME_W), "Ann");
    EXPECT_EQ(Get(m.recipients[3].props, mapi::PR_SMTP_ADDRESS_W), "a@example.com");
    EXPECT_EQ(m.recipients[3].props.GetInt32(mapi::PR_RECIPIENT_TYPE), mapi::MAPI_CC);
    EXPECT_EQ(Get(m.props, mapi::PR_DISPLAY_TO_W), "New Outlook Express User; plain@example.com; Ann");

    // Bare names without quotes, with empty angle brackets, encoded or in raw 8-bit text are
    // names too, and the addresses beside them stay.
    m = Import("To: Only Name, \"Ann, Smith\" <ann@example.com>, \"Quoted\" <>\r\n"
               "Cc: =?utf-8?B?0JjQstCw0L0=?=, \xCE\xEB\xFC\xE3\xE0\r\n\r\nx", "windows-1251");
    ASSERT_EQ(m.recipients.size(), 5u);
    const char* names[] = {"Only Name", "Ann, Smith", "Quoted", "Иван", "Ольга"};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(Get(m.recipients[i].props, mapi::PR_DISPLAY_NAME_W), names[i]);
        EXPECT_EQ(m.recipients[i].props.Has(mapi::PR_SMTP_ADDRESS_W), i == 1) << names[i];
    }
    EXPECT_EQ(Get(m.props, mapi::PR_DISPLAY_CC_W), "Иван; Ольга");
}

TEST(NationalText, ReplyToIsAListOfOneOffEntriesWithTheDecodedNames) {
    Message m = Import("Reply-To: \"\xC8\xE2\xE0\xED\" <ivan@example.ru>, \"Name Alone\", b@example.com\r\n\r\nx", "windows-1251");
    EXPECT_EQ(Get(m.props, mapi::PR_REPLY_RECIPIENT_NAMES_W), "Иван; b@example.com");
    const mapi::Binary* entries = m.props.GetBinary(mapi::PR_REPLY_RECIPIENT_ENTRIES);
    ASSERT_NE(entries, nullptr);
    auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>((*entries)[at] | (*entries)[at + 1] << 8 | (*entries)[at + 2] << 16 |
                                          (*entries)[at + 3] << 24);
    };
    ASSERT_GE(entries->size(), 8u);
    EXPECT_EQ(u32(0), 2u);                    // two entries: the name alone is no place to reply to
    EXPECT_EQ(u32(4), entries->size() - 8);   // the byte count covers the padded entries
    const std::size_t first = u32(8);
    EXPECT_EQ(first % 2, 0u);
    // Flags, the one-off provider, version and Unicode flags, then "Иван" in UTF-16.
    const std::uint8_t head[] = {0, 0, 0, 0, 0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E,
                                 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02, 0x00, 0x00, 0x01, 0x90, 0x18, 0x04};
    EXPECT_TRUE(std::equal(std::begin(head), std::end(head), entries->begin() + 12));
    auto padded = [](std::size_t n) { return (n + 3) / 4 * 4; };
    const std::size_t second = 12 + padded(first);  // where the second entry's byte count sits
    ASSERT_LE(second + 4, entries->size());
    const std::size_t size = u32(second);
    EXPECT_EQ(second + 4 + padded(size), entries->size());
    // The second entry ends with its address, "b@example.com", in UTF-16 and a terminating zero.
    std::string tail;
    for (char c : std::string("b@example.com")) tail += std::string{c, '\0'};
    tail += std::string(2, '\0');
    ASSERT_LE(tail.size(), size);
    const std::string second_entry(entries->begin() + static_cast<std::ptrdiff_t>(second + 4),
                                   entries->begin() + static_cast<std::ptrdiff_t>(second + 4 + size));
    EXPECT_EQ(second_entry.substr(second_entry.size() - tail.size()), tail);
}

TEST(NationalText, InvalidUtf8InAUtf8PartCostsOnlyTheBadBytes) {
    // A CESU-8 surrogate pair (U+1F60B written as two 3-byte halves), a stray byte, a lone high
    // surrogate and a cut sequence at the end.
    Message m = Import("Content-Type: text/plain; charset=utf-8\r\n\r\n"
                       "Привет \xED\xA0\xBD\xED\xB8\x8B caf\xE9 \xED\xA0\xBD! \xE2\x82", "");
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "Привет \U0001F60B caf\uFFFD \uFFFD\uFFFD\uFFFD! \uFFFD\uFFFD");
    m = Import("Content-Type: text/html; charset=utf-8\r\n\r\n<p>Gr\xFC\xC3\x9F" "e \xED\xA0\xBD\xED\xB8\x8B</p>", "");
    EXPECT_EQ(mime::HtmlBodyUtf8(m), "<p>Gr\uFFFDße \U0001F60B</p>");
}

TEST(NationalText, ByteOrderMarksAreNoTextOfTheBody) {
    Message m = Import("Content-Type: text/plain; charset=utf-8\r\n\r\n\xEF\xBB\xBFHello", "");
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "Hello");
    m = Import("Content-Type: text/html; charset=utf-8\r\n\r\n\xEF\xBB\xBF<!DOCTYPE html><p>x</p>", "");
    EXPECT_EQ(mime::HtmlBodyUtf8(m), "<!DOCTYPE html><p>x</p>");
}

TEST(FlowedText, SoftBreaksJoinQuotesAndSignaturesStay) {
    using mime::UnwrapFlowed;
    EXPECT_EQ(UnwrapFlowed("This is a \r\nlong line \r\nthat ends.\r\nNext.\r\n", false),
              "This is a long line that ends.\r\nNext.\r\n");
    // DelSp=yes: the blank before the break was added by the sender and goes.
    EXPECT_EQ(UnwrapFlowed("Japanese \r\ntext\r\n", true), "Japanesetext\r\n");
    // Quote depth: a paragraph never runs into a line of another depth; stuffing removed.
    EXPECT_EQ(UnwrapFlowed("> quoted \r\n> more\r\n>> deeper \r\nplain\r\n  stuffed\r\n From here\r\n", false),
              "> quoted more\r\n>> deeper \r\nplain\r\n stuffed\r\nFrom here\r\n");
    // The signature separator is a hard line even though it ends in a blank.
    EXPECT_EQ(UnwrapFlowed("Bye \r\nnow\r\n-- \r\nAnn\r\n", false), "Bye now\r\n-- \r\nAnn\r\n");
    EXPECT_EQ(UnwrapFlowed("open at the end ", false), "open at the end ");
    EXPECT_EQ(UnwrapFlowed("", false), "");
}

TEST(FlowedText, OnlyFlowedPartsAreUnwrapped) {
    const std::string lines = "\r\n\r\nOne \r\ntwo\r\n";
    Message m = Import("Content-Type: text/plain; charset=us-ascii; format=flowed" + lines, "");
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "One two\r\n");
    m = Import("Content-Type: text/plain; charset=us-ascii; format=flowed; delsp=yes" + lines, "");
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "Onetwo\r\n");
    m = Import("Content-Type: text/plain; charset=us-ascii" + lines, "");
    EXPECT_EQ(Get(m.props, mapi::PR_BODY_W), "One \r\ntwo\r\n");
}
