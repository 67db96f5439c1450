// Writes a small Outlook Express folder file with a few typical messages, for trying Ombrik
// without mail of one's own: plain text, HTML, an attachment, an 8-bit subject, a long thread.
#include <cstdio>
#include <string>

#include "tests/fixtures/dbx_builder.h"

namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000ULL;
constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;

std::uint64_t Filetime(std::uint64_t unix_seconds) { return kUnixEpochTicks + unix_seconds * kTicksPerSecond; }

fixtures::DbxEmailSpec Message(const std::string& subject, const std::string& sender, std::uint64_t unix_seconds,
                               const std::string& text) {
    fixtures::DbxEmailSpec spec;
    spec.subject = subject;
    spec.sender_address = sender;
    spec.date = Filetime(unix_seconds);
    spec.text = text;
    return spec;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.dbx\n", argv[0]);
        return 2;
    }
    fixtures::DbxFileBuilder builder;
    builder.AddEmail(Message("Welcome to Ombrik", "team@ombrik.example", 1236262029,
                             "From: \"Ombrik Team\" <team@ombrik.example>\r\n"
                             "To: \"New User\" <user@example.net>\r\n"
                             "Subject: Welcome to Ombrik\r\n"
                             "Date: Thu, 05 Mar 2009 14:07:09 +0000\r\n"
                             "Message-ID: <welcome-1@ombrik.example>\r\n"
                             "MIME-Version: 1.0\r\n"
                             "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
                             "\r\n"
                             "Hello,\r\n\r\nthis folder file was made by Ombrik's demo generator.\r\n"
                             "From here on every message converts like your own mail would.\r\n"));
    builder.AddEmail(Message("Re: Meeting <today>?", "anna@example.org", 1236265629,
                             "From: Anna <anna@example.org>\r\n"
                             "To: team@ombrik.example\r\n"
                             "Subject: Re: Meeting <today>?\r\n"
                             "Date: Thu, 05 Mar 2009 15:07:09 +0000\r\n"
                             "MIME-Version: 1.0\r\n"
                             "Content-Type: text/html; charset=\"utf-8\"\r\n"
                             "\r\n"
                             "<html><body><p>Yes, <b>three o'clock</b> in the small room.</p></body></html>\r\n"));
    builder.AddEmail(Message("Report with attachment", "bob@example.com", 1236352029,
                             "From: Bob <bob@example.com>\r\n"
                             "To: Anna <anna@example.org>\r\n"
                             "Subject: Report with attachment\r\n"
                             "Date: Fri, 06 Mar 2009 15:07:09 +0000\r\n"
                             "MIME-Version: 1.0\r\n"
                             "Content-Type: multipart/mixed; boundary=\"b1\"\r\n"
                             "\r\n"
                             "--b1\r\n"
                             "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n"
                             "Content-Transfer-Encoding: quoted-printable\r\n"
                             "\r\n"
                             "The report is attached. Gr=FC=DFe, Bob\r\n"
                             "--b1\r\n"
                             "Content-Type: text/plain; name=\"report.txt\"\r\n"
                             "Content-Disposition: attachment; filename=\"report.txt\"\r\n"
                             "Content-Transfer-Encoding: base64\r\n"
                             "\r\n"
                             "UXVhcnRlcmx5IGZpZ3VyZXM6IDEsIDIsIDMuCg==\r\n"
                             "--b1--\r\n"));
    // An 8-bit subject as Outlook Express stored it on a Russian system (windows-1251).
    builder.AddEmail(Message("\xCF\xF0\xE8\xE2\xE5\xF2", "ivan@example.ru", 1236438429,
                             "From: Ivan <ivan@example.ru>\r\n"
                             "To: team@ombrik.example\r\n"
                             "Subject: =?windows-1251?B?z/Do4uXy?=\r\n"
                             "Date: Sat, 07 Mar 2009 15:07:09 +0000\r\n"
                             "MIME-Version: 1.0\r\n"
                             "Content-Type: text/plain; charset=\"windows-1251\"\r\n"
                             "\r\n"
                             "\xCF\xF0\xE8\xE2\xE5\xF2!\r\n"));
    builder.WriteTo(argv[1]);
    std::printf("wrote %s\n", argv[1]);
    return 0;
}
