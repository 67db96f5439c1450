#include <gtest/gtest.h>

#include "imap/mailbox_name.h"

namespace {

struct NameCase {
    const char* utf8;
    const char* encoded;
};

TEST(MailboxName, EncodesAndDecodes) {
    const NameCase cases[] = {
        {"Inbox", "Inbox"},
        {"Tom & Jerry", "Tom &- Jerry"},
        {"Entw\xc3\xbcrfe", "Entw&APw-rfe"},                                   // one character
        {"\xd0\x92\xd1\x85\xd0\xbe\xd0\xb4\xd1\x8f\xd1\x89\xd0\xb8\xd0\xb5", "&BBIERQQ+BDQETwRJBDgENQ-"},  // a run
        {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", "&ZeVnLIqe-"},
        {"\xf0\x9f\x93\xa7 mail", "&2D3c5w- mail"},                            // beyond the BMP: a pair
        {"a~b", "a~b"},
        {"", ""},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(imap::EncodeMailboxName(c.utf8), c.encoded) << c.utf8;
        EXPECT_EQ(imap::DecodeMailboxName(c.encoded), std::optional<std::string>(c.utf8)) << c.encoded;
    }
}

TEST(MailboxName, BrokenInputIsHandled) {
    // Not UTF-8: each stray byte becomes U+FFFD, so the server still gets a well-formed name.
    EXPECT_EQ(imap::EncodeMailboxName("a\xff" "b"), "a&,,0-b");
    EXPECT_EQ(imap::EncodeMailboxName("\xc0\xaf"), "&,,3,,Q-");  // an overlong "/" is no "/"
    EXPECT_EQ(imap::EncodeMailboxName("tab\there"), "tab&AAk-here");
    for (const char* bad : {"&", "&Jjo", "&AGE-", "&A-", "a\x01", "&2D0-"})  // unclosed, ASCII encoded, stray bits, lone surrogate
        EXPECT_FALSE(imap::DecodeMailboxName(bad).has_value()) << bad;
}

}  // namespace
