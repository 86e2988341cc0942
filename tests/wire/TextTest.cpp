#include <gtest/gtest.h>

#include <string>

#include "mdns/wire/Names.h"
#include "mdns/wire/TxtText.h"
#include "mdns/wire/Utf.h"

using namespace mdns::wire;

TEST(Names, CompareCaseInsensitivelyInAsciiOnly) {
    EXPECT_TRUE(LabelEquals("My Printer", "mY pRINTER"));
    EXPECT_FALSE(LabelEquals("Caf\xc3\xa9", "CAF\xc3\x89"));  // é and É differ: not ASCII
    EXPECT_FALSE(LabelEquals("\xc1", "\xe1"));
    EXPECT_FALSE(LabelEquals("[", "{"));  // 0x5B and 0x7B: not letters
    EXPECT_TRUE(NameEquals({"A", "Local"}, {"a", "LOCAL"}));
    EXPECT_FALSE(NameEquals({"a", "local"}, {"a.local"}));
    EXPECT_FALSE(NameEquals({"a"}, {"a", "local"}));

    EXPECT_EQ(NameKey({"Web", "LOCAL"}), NameKey({"wEB", "local"}));
    EXPECT_NE(NameKey({"a", "b"}), NameKey({"a.b"}));
    EXPECT_NE(NameKey({"ab", "c"}), NameKey({"a", "bc"}));
    EXPECT_NE(NameKey({"\xc3\x89"}), NameKey({"\xc3\xa9"}));

    EXPECT_EQ((Name{"_http", "_tcp", "local"}), NameFromDotted("_http._tcp.local"));
    EXPECT_EQ(Name{"local"}, NameFromDotted(".local."));
    EXPECT_EQ((Name{"a", "b"}), NameFromDotted("..a..b.."));
    EXPECT_TRUE(NameFromDotted("...").empty());

    const Name service{"_http", "_tcp", "local"};
    EXPECT_TRUE(IsInstanceOf({"My.Web", "_HTTP", "_tcp", "Local"}, service));
    EXPECT_FALSE(IsInstanceOf(service, service));
    EXPECT_FALSE(IsInstanceOf({"a", "b", "_http", "_tcp", "local"}, service));
    EXPECT_FALSE(IsInstanceOf({"a", "_ipp", "_tcp", "local"}, service));
}

TEST(ToTxtText, EndsEachStringAndTheListWithAZeroAndDropsWhatWouldMisread) {
    using namespace std::string_literals;
    EXPECT_EQ("path=/x\0a=1\0\0"s, ToTxtText({"path=/x", "a=1"}));
    EXPECT_EQ("\0"s, ToTxtText({}));
    EXPECT_EQ("\0"s, ToTxtText({""}));
    // An empty string would end the list; one holding a zero would read as two strings.
    EXPECT_EQ("a\0b\0\0"s, ToTxtText({"a", "", "b"}));
    EXPECT_EQ("path=/safe\0\0"s, ToTxtText({"path=/x\0evil=1"s, "path=/safe", "\0"s}));
    const std::string longest(255, 'v');
    EXPECT_EQ(longest + "\0\0"s, ToTxtText({longest}));
}

TEST(Utf8ToUtf16, ConvertsWellFormedTextExactly) {
    EXPECT_EQ(u"", Utf8ToUtf16(""));
    EXPECT_EQ(u"Web Server 2.0", Utf8ToUtf16("Web Server 2.0"));
    EXPECT_EQ(u"\u00e9\u0800\uffff\U00010000\U0010FFFF",
              Utf8ToUtf16("\xc3\xa9\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"));
    EXPECT_EQ(u"\u007f\u0080\u07ff\ud7ff\ue000",
              Utf8ToUtf16("\x7f\xc2\x80\xdf\xbf\xed\x9f\xbf\xee\x80\x80"));
    EXPECT_EQ(std::u16string(u"a\0b", 3), Utf8ToUtf16(std::string("a\0b", 3)));
}

TEST(Utf8ToUtf16, ReplacesEachIllFormedPartWithOneReplacementCharacter) {
    // Overlong forms: the lead byte starts nothing valid, so every byte is replaced.
    EXPECT_EQ(u"\ufffd\ufffd", Utf8ToUtf16("\xc0\xaf"));
    EXPECT_EQ(u"\ufffd\ufffd", Utf8ToUtf16("\xc1\xbf"));
    EXPECT_EQ(u"\ufffd\ufffd\ufffd", Utf8ToUtf16("\xe0\x80\xaf"));
    EXPECT_EQ(u"\ufffd\ufffd\ufffd\ufffd", Utf8ToUtf16("\xf0\x80\x80\xaf"));
    // Surrogates written as UTF-8, alone and as a pair.
    EXPECT_EQ(u"\ufffd\ufffd\ufffd", Utf8ToUtf16("\xed\xa0\x80"));
    EXPECT_EQ(u"\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd", Utf8ToUtf16("\xed\xa0\xbd\xed\xb8\x80"));
    // Over U+10FFFF.
    EXPECT_EQ(u"\ufffd\ufffd\ufffd\ufffd", Utf8ToUtf16("\xf4\x90\x80\x80"));
    EXPECT_EQ(u"\ufffd\ufffd\ufffd\ufffd", Utf8ToUtf16("\xf5\x80\x80\x80"));
    EXPECT_EQ(u"\ufffd\ufffd", Utf8ToUtf16("\xfe\xff"));
    // Truncated sequences: one replacement for the valid start, then go on.
    EXPECT_EQ(u"\ufffd", Utf8ToUtf16("\xe2\x82"));
    EXPECT_EQ(u"\ufffdA", Utf8ToUtf16("\xe2\x82" "A"));
    EXPECT_EQ(u"x\ufffd", Utf8ToUtf16("x\xf0\x9f\x98"));
    EXPECT_EQ(u"\ufffd\u00e9", Utf8ToUtf16("\xf0\x9f\xc3\xa9"));
    EXPECT_EQ(u"\ufffd", Utf8ToUtf16("\xc3"));
    // Stray continuation bytes.
    EXPECT_EQ(u"\ufffd\ufffda", Utf8ToUtf16("\x80\xbf" "a"));
}

TEST(LabelToUtf16, KeepsEveryCharacterButTheZeroThatWouldCutTheName) {
    EXPECT_EQ(u"My.Printer (2nd floor)", LabelToUtf16("My.Printer (2nd floor)"));
    EXPECT_EQ(u"a\ufffdb\ufffd", LabelToUtf16(std::string("a\0b\xff", 4)));
}

TEST(Utf16ToUtf8, EncodesPairsAndReplacesUnpairedSurrogates) {
    EXPECT_EQ("_http._tcp", Utf16ToUtf8(u"_http._tcp"));
    EXPECT_EQ("\xc3\xa9\xe0\xa0\x80\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf",
              Utf16ToUtf8(u"\u00e9\u0800\U0001F600\U0010FFFF"));
    const char16_t unpaired[] = {0xD800, u'a', 0xDC00, 0xDC00, 0xD800, 0xD83D};
    EXPECT_EQ("\xef\xbf\xbd" "a\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd",
              Utf16ToUtf8(std::u16string_view(unpaired, 6)));
    const std::string all = Utf16ToUtf8(u"\u0001\u007f\u0080\u07ff\u0800\uffff\U00010000");
    EXPECT_EQ(u"\u0001\u007f\u0080\u07ff\u0800\uffff\U00010000", Utf8ToUtf16(all));
}
