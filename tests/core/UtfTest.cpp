#include "core/Utf.h"
#include "support/CaseName.h"

using std::string_literals::operator""s;

#include <gtest/gtest.h>

namespace {

struct Utf8Case {
  std::string input;
  std::u16string want;
};

void PrintTo(const Utf8Case& c, std::ostream* os) {
  *os << testing::PrintToString(c.input);
}

class Utf8ToUtf16Test : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8ToUtf16Test, Decodes) {
  EXPECT_EQ(kz::Utf8ToUtf16(GetParam().input), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Utf8ToUtf16Test,
    testing::Values(Utf8Case{"", u""}, Utf8Case{"abc", u"abc"},
                    Utf8Case{"\xC4\x8D", u"\u010D"},                  // č
                    Utf8Case{"\xF0\x9F\x98\x80", u"\U0001F600"},      // emoji: surrogate pair
                    Utf8Case{"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong
                    Utf8Case{"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
                    Utf8Case{"a\xE2\x82", u"a\uFFFD\uFFFD"},          // truncated
                    Utf8Case{"\xFF", u"\uFFFD"}, Utf8Case{std::string("\0x", 2), u"\0x"s}),
    testsupport::PrintedName());

TEST(Utf16ToUtf8, PairsBecomeFourBytesAndLoneSurrogatesReplaced) {
  EXPECT_EQ(kz::Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(kz::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(kz::Utf16ToUtf8(u"P\u0159\u00EDli\u0161"), "P\xC5\x99\xC3\xADli\xC5\xA1");
}

TEST(Utf, ValidityAndLength) {
  EXPECT_TRUE(kz::IsValidUtf8("\xEF\xBF\xBD ok"));
  EXPECT_FALSE(kz::IsValidUtf8("\xE9"));
  EXPECT_EQ(kz::Utf16Length("a\xC4\x8D\xF0\x9F\x98\x80"), 4u);
  EXPECT_EQ(kz::Latin1ToUtf8("\xE9"), "\xC3\xA9");
}

}  // namespace
