#include <gtest/gtest.h>

#include "export/maildir_export.h"

TEST(MaildirNames, FlagsFolderAndHost) {
    EXPECT_EQ(MaildirFlags(true, true, true, true, true), "DFPRS");  // the letters in ASCII order
    EXPECT_EQ(MaildirFlags(false, false, false, true, true), "RS");
    EXPECT_EQ(MaildirFlags(false, false, false, false, false), "");

    const std::pair<std::vector<std::string>, const char*> folders[] = {
        {{"Inbox"}, ""},                               // the Maildir's own inbox
        {{"INBOX", "Lists"}, ".INBOX.Lists"},
        {{"Inbox (2)"}, ".Inbox (2)"},
        {{"Lists", "Inbox"}, ".Lists.Inbox"},
        {{"Lists", "hal"}, ".Lists.hal"},
        {{"v1.2", "a.b"}, ".v1_2.a_b"},                // a dot would be a level of its own
        {{"Entw\xc3\xbcrfe", "Tom & Jerry"}, ".Entw&APw-rfe.Tom &- Jerry"},
    };
    for (const auto& [levels, name] : folders) EXPECT_EQ(MaildirFolderName(levels), name);

    EXPECT_EQ(MaildirHostName("mail.example.org"), "mail.example.org");
    EXPECT_EQ(MaildirHostName("a/b:c"), "a\\057b\\072c");
#ifdef _WIN32
    EXPECT_EQ(MaildirInfo("RS"), ";2,RS");  // Windows names cannot hold ':'
#else
    EXPECT_EQ(MaildirInfo("RS"), ":2,RS");
#endif
}
