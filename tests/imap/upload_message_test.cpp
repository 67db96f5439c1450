#include <gtest/gtest.h>

#include "imap/upload_message.h"

namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000ULL;
constexpr std::uint64_t kUnixEpoch = 116444736000000000ULL;

TEST(UploadMessage, FlagsFollowTheState) {
    imap::MessageFlags all{true, true, true, true, true};
    EXPECT_EQ(imap::ImapFlags(all, true),
              (std::vector<std::string>{"\\Seen", "\\Flagged", "\\Answered", "\\Draft", "$Forwarded"}));
    EXPECT_EQ(imap::ImapFlags(all, false), (std::vector<std::string>{"\\Seen", "\\Flagged", "\\Answered", "\\Draft"}));
    EXPECT_TRUE(imap::ImapFlags({}, true).empty());
    imap::MessageFlags forwarded;
    forwarded.forwarded = true;
    EXPECT_EQ(imap::ImapFlags(forwarded, true), std::vector<std::string>{"$Forwarded"});
}

TEST(UploadMessage, OnlyBareLineFeedsChange) {
    const std::pair<const char*, const char*> cases[] = {
        {"a\r\nb\r\n", "a\r\nb\r\n"},
        {"a\nb\n", "a\r\nb\r\n"},
        {"\n\n", "\r\n\r\n"},
        {"a\rb\r\n\n", "a\rb\r\n\r\n"},  // a lone CR stays
        {"no end", "no end"},
        {"", ""},
    };
    for (const auto& [stored, sent] : cases) EXPECT_EQ(imap::WithImapLineEnds(stored), sent) << stored;
}

TEST(UploadMessage, InternalDateInUtc) {
    const auto at = [](std::uint64_t unix_seconds) { return kUnixEpoch + unix_seconds * kTicksPerSecond; };
    const std::pair<std::uint64_t, const char*> cases[] = {
        {at(0), "01-Jan-1970 00:00:00 +0000"},
        {at(1236262029), "05-Mar-2009 14:07:09 +0000"},
        {at(951782400), "29-Feb-2000 00:00:00 +0000"},
        {at(253402300799ULL), "31-Dec-9999 23:59:59 +0000"},
        {at(1236262029) + kTicksPerSecond - 1, "05-Mar-2009 14:07:09 +0000"},  // parts of a second are dropped
    };
    for (const auto& [filetime, text] : cases) {
        const auto date = imap::InternalDateOf(filetime);
        ASSERT_TRUE(date.has_value()) << text;
        EXPECT_EQ(imap::InternalDateText(*date), text);
    }
    EXPECT_FALSE(imap::InternalDateOf(0).has_value());
    EXPECT_FALSE(imap::InternalDateOf(kUnixEpoch - 1).has_value());
    EXPECT_FALSE(imap::InternalDateOf(at(253402300800ULL)).has_value());
}

TEST(UploadMessage, MessageIdFromTheHeaderOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"Subject: x\r\nMessage-ID: <a@b>\r\n\r\nbody", "<a@b>"},
        {"message-id:   <a@b>  \nX: y\n\n", "<a@b>"},
        {"Message-ID:\r\n <folded@b>\r\n\r\n", "<folded@b>"},
        {"Subject: x\r\n\r\nMessage-ID: <in@body>\r\n", ""},
        {"X-Message-ID: <no@b>\r\n\r\n", ""},
        {"", ""},
    };
    for (const auto& [message, id] : cases) EXPECT_EQ(imap::MessageIdOf(message), id) << message;
}

TEST(UploadMessage, DigestIsSha256) {
    EXPECT_EQ(imap::MessageDigest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
