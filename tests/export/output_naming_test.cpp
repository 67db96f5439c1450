#include "export/output_naming.h"
#include "export/output_place.h"
#include "fixtures/temp_folder.h"

#include <gtest/gtest.h>

TEST(OutputNaming, BuildsPathsUnderTheDestination) {
    EXPECT_EQ(MakeFolderOutputDirectory("/out", "Inbox"), "/out" + fixtures::NativePath("/Inbox"));
    EXPECT_EQ(MakeMboxFilePath("/out", "Inbox"), "/out" + fixtures::NativePath("/Inbox.mbox"));
    EXPECT_EQ(MakeMboxFilePath("/out", "Inbox.DBX"), "/out" + fixtures::NativePath("/Inbox.DBX.mbox"));
    EXPECT_EQ(MakeStoreOutputPath("/out/Inbox/Hello12.eml", ".msg"), "/out/Inbox/Hello12.msg");
    EXPECT_EQ(MakeStoreOutputPath("/out/a.eml/see.eml3.eml", ".html"), "/out/a.eml/see.eml3.html");
}

TEST(MessageFileName, RemovesForbiddenCharactersAndBlankPairs) {
    EXPECT_EQ(MakeMessageFileName(std::string("Hello"), 12), "Hello12.eml");
    EXPECT_EQ(MakeMessageFileName(std::string("Re: Meeting <today>?"), 7), "Re Meeting today7.eml");
    EXPECT_EQ(MakeMessageFileName(std::string("A : B"), 3), "AB3.eml");
    EXPECT_EQ(MakeMessageFileName(std::string("a   b"), 1), "a b1.eml");
    EXPECT_EQ(MakeMessageFileName(std::string("a    b"), 1), "ab1.eml");
    EXPECT_EQ(MakeMessageFileName(std::string("C:\\temp\\a.txt"), 5), "Ctempa.txt5.eml");
    EXPECT_EQ(MakeMessageFileName(std::string("see.eml"), 3), "see.eml3.eml");
    EXPECT_EQ(MakeMessageFileName(std::string(":*?/\\<>\"|"), 0), "0.eml");
    EXPECT_EQ(MakeMessageFileName(std::nullopt, 0), "0.eml");
    EXPECT_EQ(MakeMessageFileName(std::string(""), -4), "-4.eml");
    EXPECT_EQ(MakeMessageFileName(std::string(" .tab\there. "), 9), " .tabhere. 9.eml");
}

// No message file is hidden or holds a control character (a terminal showing the name would
// act on it); dots and blanks inside a name stay.
TEST(MessageFileName, HasNoLeadingDotAndNoControlCharacters) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {".NET news", "NET news4.eml"},
        {"...", "4.eml"},
        {"\x1B[31mred\x1B[0m", "[31mred[0m4.eml"},
        {"line\rend\x7F", "lineend4.eml"},
        {"c1 \xC2\x9B here", "c1here4.eml"},  // as with a forbidden character, the blank pair goes
        {" .not hidden", " .not hidden4.eml"},
        {"v1.2.", "v1.2.4.eml"},
    };
    for (const auto& [subject, name] : cases) EXPECT_EQ(MakeMessageFileName(subject, 4), name) << subject;
}

TEST(MessageFileName, CutsTo50Utf16UnitsBeforeRemoving) {
    const std::string sixty(60, 'x');
    EXPECT_EQ(MakeMessageFileName(sixty, 1), std::string(50, 'x') + "1.eml");
    const std::string with_forbidden = "a:b*c?" + std::string(54, 'y');
    EXPECT_EQ(MakeMessageFileName(with_forbidden, 2), "abc" + std::string(44, 'y') + "2.eml");
    // 49 units and then an emoji (two units): the pair is never split.
    const std::string emoji = std::string(49, 'z') + "\U0001F600tail";
    EXPECT_EQ(MakeMessageFileName(emoji, 0), std::string(49, 'z') + "0.eml");
    const std::string fits = std::string(48, 'z') + "\U0001F600tail";
    EXPECT_EQ(MakeMessageFileName(fits, 0), std::string(48, 'z') + "\U0001F600" + "0.eml");
}

TEST(MessageFileName, DecodesLegacySubjectsWithTheCodePage) {
    EXPECT_EQ(MakeMessageFileName(std::string("\xCF\xF0\xE8\xE2\xE5\xF2"), 0, "windows-1251"), "Привет0.eml");
    EXPECT_EQ(MakeMessageFileName(std::string("\xCF\xF0\xE8\xE2\xE5\xF2"), 0, "windows-1252"), "Ïðèâåò0.eml");
    EXPECT_EQ(MakeMessageFileName(std::string("Привет"), 0, "windows-1252"), "Привет0.eml");
    // 60 Cyrillic letters are 120 bytes of UTF-8 but 60 UTF-16 units: cut to 50 letters.
    std::string cyrillic;
    for (int i = 0; i < 60; ++i) cyrillic += "ж";
    std::string expected;
    for (int i = 0; i < 50; ++i) expected += "ж";
    EXPECT_EQ(MakeMessageFileName(cyrillic, 1), expected + "1.eml");
}

TEST(MessageFileName, ACharsetTheMessageDeclaresNamesItsFileAsItDoesItsText) {
    DbxEmail email;
    email.subject = std::string("\xF0\xD2\xC9\xD7\xC5\xD4");  // KOI8-R, raw as the header had it
    email.message_text = std::string("Subject: \xF0\xD2\xC9\xD7\xC5\xD4\r\nContent-Type: text/plain; charset=koi8-r\r\n\r\nx");
    EXPECT_EQ(MakeMessageFileName(email.subject, 2, MessageCodepage(email, "windows-1251")), "Привет2.eml");
    // Without a declaration the job's code page (empty stays empty: the locale's).
    email.message_text = std::string("Subject: \xCF\xF0\xE8\xE2\xE5\xF2\r\n\r\nx");
    EXPECT_EQ(MessageCodepage(email, "windows-1251"), "windows-1251");
    EXPECT_EQ(MessageCodepage(email, ""), "");
    // A declaration of UTF-8 or ASCII is no code page; a subject that needs none is left alone.
    email.message_text = std::string("Content-Type: text/plain; charset=utf-8\r\n\r\nx");
    EXPECT_EQ(MessageCodepage(email, "CP932"), "CP932");
    email.subject = std::string("plain");
    email.message_text = std::string("Content-Type: text/plain; charset=koi8-r\r\n\r\nx");
    EXPECT_EQ(MessageCodepage(email, ""), "");
}

TEST(OutputFolderNames, GivesLaterUsesOfATopFolderNameADistinctOne) {
    OutputFolderNames names;
    EXPECT_EQ(names.ClaimTopFolder("Inbox"), "Inbox");
    EXPECT_EQ(names.ClaimTopFolder("Sent Items"), "Sent Items");
    EXPECT_EQ(names.ClaimTopFolder("Inbox"), "Inbox (2)");
    EXPECT_EQ(names.ClaimTopFolder("inbox"), "inbox (3)");
    EXPECT_EQ(names.ClaimTopFolder("Inbox (2)"), "Inbox (2) (2)");
}

TEST(NumberedOutputPath, PutsTheNumberBeforeTheExtensionOfTheFileNameOnly) {
    EXPECT_EQ(NumberedOutputPath("/d/Inbox.mbox", 1), "/d/Inbox.mbox");
    EXPECT_EQ(NumberedOutputPath("/d/Inbox.mbox", 2), "/d/Inbox (2).mbox");
    EXPECT_EQ(NumberedOutputPath("/d/In/Re a.b0.eml", 12), "/d/In/Re a.b0 (12).eml");
    EXPECT_EQ(NumberedOutputPath("/disk.v2/Inbox", 3), "/disk.v2/Inbox (3)");
    EXPECT_EQ(NumberedOutputPath("/d/.profile", 2), "/d/.profile (2)");
    EXPECT_EQ(NumberedOutputPath("0.msg", 2), "0 (2).msg");
}

TEST(FolderTreeNaming, DisplayNamesBecomeSafeNamesInTheFileSystem) {
    EXPECT_EQ(CleanFolderName("Projekte 2003"), "Projekte 2003");
    EXPECT_EQ(CleanFolderName("Входящие"), "Входящие");
    EXPECT_EQ(CleanFolderName("Re: a/b\\c <x>?"), "Re abc x");
    EXPECT_EQ(CleanFolderName("tab\there\nline"), "tabhereline");
    // Names that would climb out of the destination, hide the folder or be refused by Windows.
    EXPECT_EQ(CleanFolderName(".."), "Folder");
    EXPECT_EQ(CleanFolderName("."), "Folder");
    EXPECT_EQ(CleanFolderName("../../etc"), "etc");
    EXPECT_EQ(CleanFolderName(" .hidden. "), "hidden");
    EXPECT_EQ(CleanFolderName(""), "Folder");
    EXPECT_EQ(CleanFolderName("::**"), "Folder");
    EXPECT_EQ(CleanFolderName(std::string(80, 'x')), std::string(50, 'x'));

    EXPECT_EQ(MakeTreeDirectory("/out", {"Lists", "hal", "hal-commit"}),
              "/out" + fixtures::NativePath("/Lists/hal/hal-commit"));
    EXPECT_EQ(MakeThunderbirdMboxPath("/out", {"Lists", "hal", "hal-commit"}),
              "/out" + fixtures::NativePath("/Lists.sbd/hal.sbd/hal-commit"));
    EXPECT_EQ(MakeThunderbirdMboxPath("/out", {"Inbox"}), "/out" + fixtures::NativePath("/Inbox"));
}

// A folder file's own name, cleaned as a store's folder names are but kept at its length and
// byte for byte otherwise: "...dbx" must not put its messages beside the destination, ".dbx"
// and "..dbx" not straight into it.
TEST(FolderTreeNaming, FolderNamesFromFileNamesNeverClimbOrHide) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"..", "Folder"},          {".", "Folder"},       {"", "Folder"},
        {".hidden", "hidden"},     {"Inbox", "Inbox"},    {"Inbox.DBX", "Inbox.DBX"},
        {"a\x1B" "b\tc", "abc"},   {"x:y", "xy"},         {" Sent. ", "Sent"},
        {"Posteingang\xFC", "Posteingang\xFC"},  // not UTF-8: kept as the disk has it
        {std::string(60, 'n'), std::string(60, 'n')},
    };
    for (const auto& [name, cleaned] : cases) EXPECT_EQ(CleanFileFolderName(name), cleaned) << name;
    // Long enough that " (recovered).mbox" would pass the limit: cut where it still fits.
    EXPECT_EQ(CleanFileFolderName(std::string(250, 'L')), std::string(200, 'L'));
    OutputFolderNames names;
    EXPECT_EQ(names.ClaimTopFolder(".."), "Folder");
    EXPECT_EQ(names.ClaimTopFolder("."), "Folder (2)");
}

TEST(FolderTreeNaming, SiblingsThatMeetGetTheirOwnNamesAndChildrenFollowTheirParent) {
    OutputFolderNames names;
    using Path = std::vector<std::string>;
    EXPECT_EQ(names.ClaimTopFolder("Inbox"), "Inbox");  // a folder file added alone
    EXPECT_EQ(names.ClaimStoreFolder({"Inbox"}), Path{"Inbox (2)"});
    // Parents without a row of their own are made once and found again.
    EXPECT_EQ(names.ClaimStoreFolder({"Lists", "hal"}), (Path{"Lists", "hal"}));
    EXPECT_EQ(names.ClaimStoreFolder({"Lists", "hal", "commit"}), (Path{"Lists", "hal", "commit"}));
    EXPECT_EQ(names.ClaimStoreFolder({"Lists", "HAL"}), (Path{"Lists", "HAL (2)"}));  // letter case
    EXPECT_EQ(names.ClaimStoreFolder({"Lists", "h:al"}), (Path{"Lists", "hal (3)"}));  // met by cleaning
    EXPECT_EQ(names.ClaimStoreFolder({"Lists", "hal.sbd"}), (Path{"Lists", "hal.sbd (2)"}));  // hal's sub-folders
    // The same path again is a second store's folder: a name of its own, and its children
    // go below it rather than below the first store's folder.
    EXPECT_EQ(names.ClaimStoreFolder({"Lists", "hal"}), (Path{"Lists", "hal (4)"}));
    EXPECT_EQ(names.ClaimStoreFolder({"Lists", "hal", "commit"}), (Path{"Lists", "hal (4)", "commit"}));
    EXPECT_EQ(names.ClaimTopFolder("Lists"), "Lists (2)");
    EXPECT_EQ(names.ClaimStoreFolder({".."}), Path{"Folder"});
    EXPECT_EQ(names.ClaimStoreFolder({}), Path{});
}

// A sender chooses an attachment's name: whatever it holds, the file gets a plain name in its
// message's folder that every system can make, with the extension kept.
TEST(AttachmentName, EveryNameBecomesASafeFileName) {
    const std::string euro = "\xE2\x82\xAC";
    const struct {
        std::string name, mime_type, expected;
    } cases[] = {
        {"report.pdf", "application/pdf", "report.pdf"},
        {"../../etc/passwd", "", "passwd"},
        {"C:\\Windows\\evil.exe", "", "evil.exe"},
        {"/abs/path/", "image/png", "attachment.png"},
        {"..", "", "attachment"},
        {"", "text/plain", "attachment.txt"},
        {"", "application/x-unknown", "attachment"},
        {std::string("a\0b\x01\x7F\xC2\x85" "c.txt", 12), "", "abc.txt"},
        {"a:b*c?d<e>f|g\"h.txt", "", "abcdefgh.txt"},
        {" .hidden. . ", "", "hidden"},
        {"CON", "", "_CON"},
        {"nul.txt", "", "_nul.txt"},
        {"Com1.tar.gz", "", "_Com1.tar.gz"},
        {"lpt9 .doc", "", "_lpt9 .doc"},
        {"console.txt", "", "console.txt"},
        {"COM10", "", "COM10"},
        {std::string(250, 'a') + ".docx", "", std::string(195, 'a') + ".docx"},
        {std::string(194, 'a') + euro + ".txt", "", std::string(194, 'a') + ".txt"},
        {std::string(300, 'b'), "", std::string(200, 'b')},
    };
    for (const auto& c : cases) EXPECT_EQ(CleanAttachmentName(c.name, c.mime_type), c.expected) << c.name;
}

// On Windows "Aux", "con.x" or "COM1.eml" would open a device: the folder would never be made
// and the message written to nowhere. Elsewhere such names are ordinary and stay.
TEST(DeviceNames, FoldersAndMessagesNamedLikeADeviceGetAnUnderscoreWhereTheSystemKeepsThem) {
    const auto expect = [](const std::string& name) { return platform::kDeviceNamesReserved ? "_" + name : name; };
    EXPECT_EQ(CleanFolderName("Aux"), expect("Aux"));
    EXPECT_EQ(CleanFolderName("con.x"), expect("con.x"));
    EXPECT_EQ(CleanFileFolderName("PRN"), expect("PRN"));
    EXPECT_EQ(MakeMessageFileName(std::string("COM"), 1, "windows-1252"), expect("COM1.eml"));
    EXPECT_EQ(MakeMessageFileName(std::string("nul."), 3, "windows-1252"), expect("nul.3.eml"));
    // Near misses are names like any other everywhere.
    EXPECT_EQ(CleanFolderName("Auxiliary"), "Auxiliary");
    EXPECT_EQ(MakeMessageFileName(std::string("COM"), 12, "windows-1252"), "COM12.eml");
    EXPECT_EQ(MakeMessageFileName(std::string("Con"), 1, "windows-1252"), "Con1.eml");
}
