#include "platform/text_encoding.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(LegacyText, DecodesTheChosenCodePage) {
    EXPECT_EQ(LegacyToUtf8("\xCF\xF0\xE8\xE2\xE5\xF2", "windows-1251"), "Привет");
    EXPECT_EQ(LegacyToUtf8("Gr\xFC\xDF" "e", "windows-1252"), "Grüße");
    EXPECT_EQ(LegacyToUtf8("\x93quoted\x94", "windows-1252"), "\u201Cquoted\u201D");
    EXPECT_EQ(LegacyToUtf8("\x93\xFA\x96{", "CP932"), "日本");
    EXPECT_EQ(LegacyToUtf8("\xBE\xDF\xC5\xEB", "windows-1250"), "ľßĹë");
}

TEST(LegacyText, BytesTheCodePageLeavesUndefinedKeepTheirValue) {
    // 0x81, 0x8D, 0x8F, 0x90 and 0x9D have no character in windows-1252.
    const std::u16string decoded = LegacyToUtf16("a\x81" "b\x9D", "windows-1252");
    EXPECT_EQ(decoded, (std::u16string{u'a', 0x81, u'b', 0x9D}));
    // A lone lead byte at the end of a double-byte code page.
    const std::u16string japanese = LegacyToUtf16("x\x93", "CP932");
    EXPECT_EQ(japanese, (std::u16string{u'x', 0x93}));
}

TEST(LegacyText, Utf8SubjectsAreReadAsUtf8WhateverTheCodePage) {
    EXPECT_TRUE(LooksLikeMultibyteUtf8("Grüße"));
    EXPECT_FALSE(LooksLikeMultibyteUtf8("plain ascii"));
    EXPECT_FALSE(LooksLikeMultibyteUtf8("Gr\xFC\xDF" "e"));
    EXPECT_FALSE(LooksLikeMultibyteUtf8("\xC0\x80"));  // overlong: not UTF-8
    EXPECT_EQ(LegacyToUtf8("Grüße", "windows-1251"), "Grüße");
    EXPECT_EQ(LegacyToUtf8("\xCF\xF0", "no-such-codepage"), "\u00CF\u00F0");
}

TEST(LegacyText, Iso2022JpRunsAreJapaneseInAnyCodePage) {
    EXPECT_EQ(LegacyToUtf8("Re: \x1B$B2q5D\x1B(B 1", "windows-1251"), "Re: 会議 1");
    EXPECT_EQ(Utf16ToUtf8(LegacyToUtf16("\x1B$B2q5D\x1B(B", "")), "会議");
    // A run that never switches back ends with the text; UTF-8 around a run stays.
    EXPECT_EQ(DecodeIso2022JpRuns("\xC3\xA9 \x1B$B2q5D"), "é 会議");
    EXPECT_EQ(DecodeIso2022JpRuns("no escapes"), "no escapes");
}

TEST(LegacyText, LabelledTextIsNeverGuessedToBeUtf8) {
    std::string out;
    ASSERT_TRUE(DecodeCodepage("\xD0\xB8", "windows-1251", out));  // also valid UTF-8 for "и"
    EXPECT_EQ(out, "Рё");
    EXPECT_FALSE(DecodeCodepage("x", "no-such-codepage", out));
}

TEST(LenientUtf8, CesuPairsCombineAndOtherBadBytesEachBecomeOneReplacement) {
    EXPECT_EQ(DecodeUtf8Leniently("a\xED\xA0\xBD\xED\xB8\x8B" "b"), "a\U0001F60B" "b");
    EXPECT_EQ(DecodeUtf8Leniently("\xED\xB8\x8B\xED\xA0\xBD"), "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");  // halves swapped
    EXPECT_EQ(DecodeUtf8Leniently("\xC0\x80 \xFF\xE2\x82"), "\uFFFD\uFFFD \uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(DecodeUtf8Leniently("ok \u00E9\U0001F600"), "ok \u00E9\U0001F600");
}

TEST(LegacyText, DefaultCodePageFollowsTheLocale) {
    EXPECT_EQ(LegacyCodepageForLocale("ru_RU.UTF-8"), "windows-1251");
    EXPECT_EQ(LegacyCodepageForLocale("ja_JP.UTF-8"), "CP932");
    EXPECT_EQ(LegacyCodepageForLocale("cs_CZ"), "windows-1250");
    EXPECT_EQ(LegacyCodepageForLocale("pl_PL.UTF-8"), "windows-1250");
    EXPECT_EQ(LegacyCodepageForLocale("zh_TW.UTF-8"), "CP950");
    EXPECT_EQ(LegacyCodepageForLocale("zh_CN.UTF-8"), "CP936");
    EXPECT_EQ(LegacyCodepageForLocale("C.UTF-8"), "windows-1252");
    EXPECT_EQ(LegacyCodepageForLocale(""), "windows-1252");
    for (const char* codepage : {"windows-1251", "CP932", "windows-1250", "CP950", "CP936", "CP949", "CP874"})
        EXPECT_TRUE(IsKnownCodepage(codepage)) << codepage;
}

TEST(Utf16, RoundTripsAndReplacesBrokenSequences) {
    const std::string text = "a\u00E9\u65E5\U0001F600";
    EXPECT_EQ(Utf8ToUtf16(text).size(), 5u);  // the emoji takes a surrogate pair
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
    EXPECT_EQ(Utf8ToUtf16("\xFF"), std::u16string(1, 0xFFFD));
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, 0xD800)), "\uFFFD");
}

TEST(AsciiPrefix, EndsAtTheFirstEightBitByteWhereverItFalls) {
    // Across the eight-byte steps, and at the very end.
    for (std::size_t at = 0; at < 20; ++at) {
        std::string text(20, 'a');
        text[at] = '\xE9';
        EXPECT_EQ(platform::AsciiPrefixLength(text), at) << at;
    }
    EXPECT_EQ(platform::AsciiPrefixLength(std::string(17, 'a')), 17u);
    EXPECT_EQ(platform::AsciiPrefixLength(""), 0u);
}
