// MIME text -> message model -> MSG file -> read back by olefile, property by property.
#include <set>

#include <gtest/gtest.h>

#include "fixtures/temp_folder.h"
#include "store/mapi/prop_tags.h"
#include "store/mime/mime_import.h"
#include "store/msg/msg_file.h"
#include "store/msg/msg_test_support.h"
#include "store/mail_item.h"
#include "store/render/render.h"

using msgtest::DumpMsg;
using msgtest::Hex;

namespace {

const char kRichMessage[] =
    "Received: from relay.example.net by mx.example.org; Tue, 01 Dec 2026 09:25:00 +0000\r\n"
    "Received: from client by relay.example.net; Tue, 01 Dec 2026 09:21:00 +0000\r\n"
    "From: =?utf-8?q?J=C3=B6rg_M=C3=BCller?= <joerg@example.com>\r\n"
    "Sender: Assistant <assist@example.com>\r\n"
    "To: Alice <alice@example.org>, bob@example.net\r\n"
    "Cc: \"Carol, C.\" <carol@example.com>\r\n"
    "Bcc: dave@example.com\r\n"
    "Subject: =?iso-8859-1?q?RE:_Gr=FC=DFe?=\r\n"
    "Date: Tue, 01 Dec 2026 10:20:30 +0100\r\n"
    "Message-ID: <abc123@example.com>\r\n"
    "In-Reply-To: <prev@example.com>\r\n"
    "References: <first@example.com> <prev@example.com>\r\n"
    "Importance: high\r\n"
    "Disposition-Notification-To: joerg@example.com\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"XX\"\r\n"
    "\r\n"
    "--XX\r\n"
    "Content-Type: multipart/related; boundary=\"RR\"\r\n"
    "\r\n"
    "--RR\r\n"
    "Content-Type: multipart/alternative; boundary=\"YY\"\r\n"
    "\r\n"
    "--YY\r\n"
    "Content-Type: text/plain; charset=iso-8859-1\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "Hallo J=F6rg,\r\n"
    "sch=F6ne Gr=FC=DFe\r\n"
    "--YY\r\n"
    "Content-Type: text/html; charset=iso-8859-1\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "<html><body><p>Hallo J=F6rg</p><img src=3D\"cid:img1@x\"></body></html>\r\n"
    "--YY--\r\n"
    "--RR\r\n"
    "Content-Type: image/png\r\n"
    "Content-ID: <img1@x>\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "iVBORw0KGgo=\r\n"
    "--RR--\r\n"
    "--XX\r\n"
    "Content-Type: application/octet-stream\r\n"
    "Content-Disposition: attachment; filename*=utf-8''%C3%BCbersicht%20lang.dat\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "AAECAwQF/w==\r\n"
    "--XX\r\n"
    "Content-Type: message/rfc822\r\n"
    "\r\n"
    "From: Inner <inner@example.com>\r\n"
    "To: outer@example.com\r\n"
    "Subject: Inner\r\n"
    "Date: Mon, 30 Nov 2026 08:00:00 +0000\r\n"
    "Content-Type: multipart/mixed; boundary=\"ZZ\"\r\n"
    "\r\n"
    "--ZZ\r\n"
    "Content-Type: text/plain\r\n"
    "\r\n"
    "inner body\r\n"
    "--ZZ\r\n"
    "Content-Type: message/rfc822\r\n"
    "\r\n"
    "From: deepest@example.com\r\n"
    "Subject: Deepest\r\n"
    "\r\n"
    "deepest body\r\n"
    "--ZZ--\r\n"
    "--XX--\r\n";

// FILETIME ticks of a UTC time given as seconds since 1970.
std::string Ticks(std::int64_t unix_seconds) { return std::to_string(mime::FiletimeFromUnix(unix_seconds).ticks); }

class MsgRoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        if (!msgtest::HaveOlefile()) GTEST_SKIP() << "python3-olefile not installed";
    }
    msgtest::MsgDump WriteAndDump(const mapi::Message& message, const std::string& name = "m.msg") {
        const std::string path = dir_ / name;
        msg::WriteMsgFile(message, path);
        if (msgtest::HaveMsgCheck()) {
            const std::string report = msgtest::MsgCheckStrict(path);
            EXPECT_EQ(report, "") << "msgcheck on " << name;
        }
        std::string error;
        auto dump = DumpMsg(path, &error);
        EXPECT_FALSE(dump.empty()) << error;
        return dump;
    }
    fixtures::TempFolder dir_;
};

}  // namespace

TEST_F(MsgRoundTrip, EnvelopeSurvivesProperty_By_Property) {
    mapi::Message message = mime::ImportMessage(kRichMessage, sizeof kRichMessage - 1);
    store::AddCompressedRtfFromHtml(message);
    auto d = WriteAndDump(message);
    auto& m = d["msg"];
    EXPECT_EQ(m["001A001F"], "IPM.Note");
    EXPECT_EQ(m["0037001F"], "RE: Grüße");
    EXPECT_EQ(m["003D001F"], "RE: ");
    EXPECT_EQ(m["0E1D001F"], "Grüße");
    EXPECT_EQ(m["0042001F"], "Jörg Müller");            // sent representing: From
    EXPECT_EQ(m["0065001F"], "joerg@example.com");
    EXPECT_EQ(m["0064001F"], "SMTP");
    EXPECT_EQ(m["0C1A001F"], "Assistant");              // sender: Sender
    EXPECT_EQ(m["0C1F001F"], "assist@example.com");
    EXPECT_EQ(m["5D01001F"], "assist@example.com");
    EXPECT_EQ(m["00390040"], Ticks(1796116830));        // Date, 2026-12-01 09:20:30 UTC
    EXPECT_EQ(m["0E060040"], Ticks(1796117100));        // the first Received header: 09:25:00
    EXPECT_EQ(m["1035001F"], "<abc123@example.com>");
    EXPECT_EQ(m["1042001F"], "<prev@example.com>");
    EXPECT_EQ(m["1039001F"], "<first@example.com> <prev@example.com>");
    EXPECT_EQ(m["00170003"], "2");                      // importance high
    EXPECT_EQ(m["0029000B"], "1");                      // read receipt asked for
    // The transport headers: the whole header block as it came, the MIME headers included.
    std::string header_block(kRichMessage, std::string_view(kRichMessage).find("\r\n\r\n") + 2);
    for (std::size_t at = 0; (at = header_block.find("\r\n", at)) != std::string::npos; at += 4) header_block.replace(at, 2, "\\r\\n");
    EXPECT_EQ(m["007D001F"], header_block);
    EXPECT_EQ(m["1000001F"], "Hallo Jörg,\\r\\nschöne Grüße");
    EXPECT_EQ(m["3FDE0003"], "28591");                  // the HTML kept in its own charset
    EXPECT_EQ(m["10130102"], Hex("<html><body><p>Hallo J\xF6rg</p><img src=\"cid:img1@x\"></body></html>"));
    EXPECT_EQ(m["0E04001F"], "Alice; bob@example.net");
    EXPECT_EQ(m["0E03001F"], "Carol, C.");
    EXPECT_EQ(m["0E02001F"], "dave@example.com");
    EXPECT_EQ(m["340D0003"], std::to_string(mapi::STORE_UNICODE_OK));
    EXPECT_EQ(m["recipient_count"], "4");
    EXPECT_EQ(m["attachment_count"], "3");
    EXPECT_EQ(d.count("nameid"), 1u);

    // Compressed RTF: the HTML wrapped for Outlook's reading pane.
    const std::string rtf_hex = m["10090102"];
    ASSERT_FALSE(rtf_hex.empty());
    mapi::Binary rtf_bytes;
    for (std::size_t i = 0; i + 1 < rtf_hex.size(); i += 2) rtf_bytes.push_back(static_cast<std::uint8_t>(std::stoi(rtf_hex.substr(i, 2), nullptr, 16)));
    const std::string rtf = render::DecompressRtf(rtf_bytes);
    EXPECT_NE(rtf.find("\\fromhtml1"), std::string::npos);
    EXPECT_NE(rtf.find("&#246;"), std::string::npos);  // ö reaches the HTML as a reference
    EXPECT_NE(rtf.find("\\u246?"), std::string::npos); // and RTF readers as \u246
}

TEST_F(MsgRoundTrip, RecipientsKeepTypesNamesAndAddresses) {
    auto d = WriteAndDump(mime::ImportMessage(kRichMessage, sizeof kRichMessage - 1));
    struct Expected { const char* name; const char* address; const char* type; };
    const Expected expected[] = {{"Alice", "alice@example.org", "1"}, {"bob@example.net", "bob@example.net", "1"},
                                 {"Carol, C.", "carol@example.com", "2"}, {"dave@example.com", "dave@example.com", "3"}};
    for (int i = 0; i < 4; ++i) {
        auto& r = d["msg/recip" + std::to_string(i)];
        EXPECT_EQ(r["3001001F"], expected[i].name) << i;
        EXPECT_EQ(r["3003001F"], expected[i].address) << i;
        EXPECT_EQ(r["39FE001F"], expected[i].address) << i;
        EXPECT_EQ(r["3002001F"], "SMTP") << i;
        EXPECT_EQ(r["0C150003"], expected[i].type) << i;
        EXPECT_EQ(r["30000003"], std::to_string(i)) << i;
    }
}

TEST_F(MsgRoundTrip, AttachmentsKeepNamesBytesAndInlineMarks) {
    auto d = WriteAndDump(mime::ImportMessage(kRichMessage, sizeof kRichMessage - 1));
    auto& image = d["msg/attach0"];
    EXPECT_EQ(image["37010102"], Hex(std::string("\x89PNG\r\n\x1a\n", 8)));
    EXPECT_EQ(image["3712001F"], "img1@x");
    EXPECT_EQ(image["370E001F"], "image/png");
    EXPECT_EQ(image["7FFE000B"], "1");                  // hidden: shown inside the HTML body
    EXPECT_EQ(image["37050003"], "1");
    auto& file = d["msg/attach1"];
    EXPECT_EQ(file["3707001F"], "übersicht lang.dat");  // RFC 2231 name decoded
    EXPECT_EQ(file["3704001F"], "übersicht lang.dat");
    EXPECT_EQ(file["3703001F"], ".dat");
    EXPECT_EQ(file["37010102"], "000102030405ff");
    EXPECT_EQ(file["370B0003"], "-1");
}

TEST_F(MsgRoundTrip, EmbeddedMessagesNestToAnyDepth) {
    auto d = WriteAndDump(mime::ImportMessage(kRichMessage, sizeof kRichMessage - 1));
    auto& outer = d["msg/attach2"];
    EXPECT_EQ(outer["37050003"], "5");
    EXPECT_EQ(outer["3701000D"], "object");
    EXPECT_EQ(outer["3001001F"], "Inner");
    auto& inner = d["msg/attach2/msg"];
    EXPECT_EQ(inner["0037001F"], "Inner");
    EXPECT_EQ(inner["1000001F"], "inner body");
    EXPECT_EQ(inner["0042001F"], "Inner");
    EXPECT_EQ(inner["00390040"], Ticks(1796025600));
    EXPECT_EQ(d["msg/attach2/msg/recip0"]["3003001F"], "outer@example.com");
    auto& deepest = d["msg/attach2/msg/attach0/msg"];
    EXPECT_EQ(deepest["0037001F"], "Deepest");
    EXPECT_EQ(deepest["1000001F"], "deepest body");
    EXPECT_EQ(deepest.count("00390040"), 0u);            // no Date: no sent time, never "now"
}

TEST_F(MsgRoundTrip, NamedPropertiesGetAMap) {
    mapi::Message message;
    message.props.Set(mapi::PR_SUBJECT_W, std::string("named"));
    mapi::NamedProperty keywords{mapi::PS_PUBLIC_STRINGS, std::nullopt, "Keywords", mapi::PropType::MvUnicode};
    message.props.SetNamed(keywords, std::vector<std::string>{"red", "grün"});
    mapi::NamedProperty numeric{mapi::PS_MAPI, 0x8501, "", mapi::PropType::Int32};
    message.props.SetNamed(numeric, std::int32_t{15});
    mapi::NamedProperty header{mapi::PS_INTERNET_HEADERS, std::nullopt, "x-mailer", mapi::PropType::Unicode};
    message.props.SetNamed(header, std::string("Ombrik"));
    auto d = WriteAndDump(message);
    auto& m = d["msg"];
    // Ids follow the order the names were first met in (the bag's order).
    std::set<std::string> values;
    for (auto& [tag, value] : m) if (tag.rfind("80", 0) == 0) values.insert(tag + "=" + value);
    EXPECT_EQ(values.size(), 3u);
    bool has_keywords = false, has_number = false, has_header = false;
    for (const std::string& v : values) {
        has_keywords |= v.find("101F=red|grün") != std::string::npos;
        has_number |= v.find("0003=15") != std::string::npos;
        has_header |= v.find("001F=Ombrik") != std::string::npos;
    }
    EXPECT_TRUE(has_keywords && has_number && has_header);
}

TEST_F(MsgRoundTrip, LargeAttachmentsNeedTheDifatAndStayWhole) {
    mapi::Message message;
    message.props.Set(mapi::PR_SUBJECT_W, std::string("big"));
    mapi::Attachment attachment;
    mapi::Binary bytes(7'200'000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
    attachment.props.Set(mapi::PR_ATTACH_METHOD, mapi::ATTACH_BY_VALUE);
    attachment.props.Set(mapi::PR_ATTACH_LONG_FILENAME_W, std::string("big.bin"));
    attachment.props.Set(mapi::PR_ATTACH_DATA_BIN, bytes);
    message.attachments.push_back(std::move(attachment));
    auto d = WriteAndDump(message);
    EXPECT_EQ(d["msg/attach0"]["37010102"], Hex(std::string(bytes.begin(), bytes.end())));
}

TEST_F(MsgRoundTrip, AnEmptyItemIsStillAValidMessage) {
    auto d = WriteAndDump(mapi::Message{});
    EXPECT_EQ(d["msg"]["001A001F"], "IPM.Note");
    EXPECT_EQ(d["msg"]["recipient_count"], "0");
}
