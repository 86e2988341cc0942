#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "mdns/wire/Names.h"
#include "mdns/wire/TxtText.h"
#include "mdns/wire/Utf.h"

using namespace mdns::wire;
using namespace std::string_literals;

template <class... Columns>
using Rows = std::vector<std::tuple<Columns...>>;

// Two names are equal exactly when their keys are, and only ASCII letters fold.
TEST(Names, MatchAndKeyCaseInsensitivelyInAsciiOnly) {
    for (const auto& [a, b, equal] : Rows<Name, Name, bool>{
             {{"My Printer", "LOCAL"}, {"mY pRINTER", "local"}, true},
             {{"Caf\xc3\xa9"}, {"CAF\xc3\x89"}, false},  // é and É differ: not ASCII
             {{"["}, {"{"}, false},  // 0x5B and 0x7B: not letters
             {{"a", "local"}, {"a.local"}, false},
             {{"ab", "c"}, {"a", "bc"}, false},
             {{"a"}, {"a", "local"}, false}}) {
        EXPECT_EQ(equal, NameEquals(a, b)) << testing::PrintToString(a);
        EXPECT_EQ(equal, NameKey(a) == NameKey(b)) << testing::PrintToString(a);
    }
    EXPECT_EQ((Name{"a", "b"}), NameFromDotted("..a..b.."));
    EXPECT_TRUE(NameFromDotted("...").empty());
    const Name service{"_http", "_tcp", "local"};
    EXPECT_EQ(service, NameFromDotted("_http._tcp.local"));
    EXPECT_TRUE(IsInstanceOf({"My.Web", "_HTTP", "_tcp", "Local"}, service));
    EXPECT_FALSE(IsInstanceOf(service, service));
    EXPECT_FALSE(IsInstanceOf({"a", "b", "_http", "_tcp", "local"}, service));
    EXPECT_FALSE(IsInstanceOf({"a", "_ipp", "_tcp", "local"}, service));
}

// An empty string would end the list; one holding a zero would read as two strings.
TEST(ToTxtText, EndsEachStringAndTheListWithAZeroAndDropsWhatWouldMisread) {
    for (const auto& [strings, text] : Rows<std::vector<std::string>, std::string>{
             {std::vector<std::string>(), "\0"s},
             {{"a", "", "b"}, "a\0b\0\0"s},
             {{"path=/x\0evil=1"s, "path=/safe", "\0"s}, "path=/safe\0\0"s}})
        EXPECT_EQ(text, ToTxtText(strings));
}

// Each ill-formed part becomes one U+FFFD; so do a label's zeros, which would cut the name.
TEST(Utf8ToUtf16, ConvertsWellFormedTextAndReplacesEachIllFormedPart) {
    for (const auto& [utf8, utf16] : Rows<std::string, std::u16string>{
             {"\xc3\xa9\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf",
              u"\u00e9\u0800\uffff\U00010000\U0010FFFF"},
             {"\x7f\xc2\x80\xdf\xbf\xed\x9f\xbf\xee\x80\x80", u"\u007f\u0080\u07ff\ud7ff\ue000"},
             {"a\0b\xff"s, u"a\0b\ufffd"s},
             // Overlong forms, surrogates, values over U+10FFFF: every byte is replaced.
             {"\xc0\xaf\xc1\xbf\xe0\x80\xaf\xf0\x80\x80\xaf", std::u16string(11, u'\ufffd')},
             {"\xed\xa0\x80\xed\xa0\xbd\xed\xb8\x80", std::u16string(9, u'\ufffd')},
             {"\xf4\x90\x80\x80\xf5\x80\x80\x80\xfe\xff", std::u16string(10, u'\ufffd')},
             // Truncated sequences (one replacement) and stray continuation bytes.
             {"\xe2\x82" "A\xf0\x9f\xc3\xa9\x80\xbf" "a", u"\ufffdA\ufffd\u00e9\ufffd\ufffda"},
             {"x\xf0\x9f\x98", u"x\ufffd"}}) {
        EXPECT_EQ(utf16, Utf8ToUtf16(utf8)) << testing::PrintToString(utf8);
        std::u16string label = utf16;
        std::replace(label.begin(), label.end(), u'\0', u'\ufffd');
        EXPECT_EQ(label, LabelToUtf16(utf8)) << testing::PrintToString(utf8);
    }
}

TEST(Utf16ToUtf8, EncodesPairsAndReplacesUnpairedSurrogates) {
    const char16_t unpaired[] = {0xD800, u'a', 0xDC00, 0xDC00, 0xD800, 0xD83D};
    for (const auto& [utf16, utf8] : Rows<std::u16string, std::string>{
             {u"\u0001\u007f\u0080\u07ff\u0800\U0001F600\U0010FFFF",
              "\x01\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf"},
             {{unpaired, 6}, "\xef\xbf\xbd" "a\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"}})
        EXPECT_EQ(utf8, Utf16ToUtf8(utf16));
}
