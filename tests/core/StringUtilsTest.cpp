#include "core/StringUtils.h"

#include <gtest/gtest.h>

#include "core/Error.h"
#include "support/CaseName.h"

namespace {

TEST(StringUtils, TrimAndCase) {
  EXPECT_EQ(kz::Trim(" \t\r\nab c\n "), "ab c");
  EXPECT_EQ(kz::LowerAscii("MyMail-\xC4\x8D"), "mymail-\xC4\x8D");
  EXPECT_TRUE(kz::EqualsNoCase("MyMail", "myMAIL"));
  EXPECT_EQ(kz::FindNoCase("To: <A@B.cz>", "<a@b.CZ>"), 4u);
  EXPECT_EQ(kz::FindNoCase("abc", "x"), std::string_view::npos);
}

struct FindCase {
  std::string haystack;
  std::string needle;
  std::size_t from;
  std::size_t want;
};
void PrintTo(const FindCase& c, std::ostream* os) {
  *os << c.haystack << " / " << c.needle << " from " << c.from;
}

class FindNoCaseTest : public testing::TestWithParam<FindCase> {};
TEST_P(FindNoCaseTest, FindsFirstOccurrence) {
  EXPECT_EQ(kz::FindNoCase(GetParam().haystack, GetParam().needle, GetParam().from),
            GetParam().want);
}
constexpr std::size_t kNpos = std::string_view::npos;
INSTANTIATE_TEST_SUITE_P(
    Table, FindNoCaseTest,
    testing::Values(FindCase{"aaab", "AAB", 0, 1}, FindCase{"abababc", "ababc", 0, 2},
                    FindCase{"abcabd", "abd", 0, 3}, FindCase{"xAbAbX", "abx", 0, 3},
                    FindCase{"ab ab", "AB", 1, 3}, FindCase{"ab", "ab", 1, kNpos},
                    FindCase{"ab", "abc", 0, kNpos}, FindCase{"ab", "", 2, 2},
                    FindCase{"ab", "", 3, kNpos}, FindCase{"", "a", 0, kNpos},
                    FindCase{"a\xC4\x8D"
                             "b",
                             "\xC4\x8D", 0, 1}),
    testsupport::PrintedName());

struct SplitCase {
  std::string text;
  std::vector<std::string> want;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
  *os << testing::PrintToString(c.text);
}

class SplitLinesTest : public testing::TestWithParam<SplitCase> {};
TEST_P(SplitLinesTest, Splits) {
  EXPECT_EQ(kz::SplitLines(GetParam().text), GetParam().want);
}
INSTANTIATE_TEST_SUITE_P(Table, SplitLinesTest,
                         testing::Values(SplitCase{"", {}}, SplitCase{"a", {"a"}},
                                         SplitCase{"a\r\n", {"a"}}, SplitCase{"a\r\nb", {"a", "b"}},
                                         SplitCase{"a\rb\nc", {"a", "b", "c"}},
                                         SplitCase{"\r\n\r\n", {"", ""}},
                                         SplitCase{"a\n\rb", {"a", "", "b"}}),
                         testsupport::PrintedName());

struct HexEscapeCase {
  std::string text;
  char escape;
  bool underscoreIsSpace;
  std::string want;
};
void PrintTo(const HexEscapeCase& c, std::ostream* os) {
  *os << testing::PrintToString(c.text) << " escape " << c.escape;
}

class DecodeHexEscapesTest : public testing::TestWithParam<HexEscapeCase> {};
TEST_P(DecodeHexEscapesTest, Decodes) {
  EXPECT_EQ(kz::DecodeHexEscapes(GetParam().text, GetParam().escape, GetParam().underscoreIsSpace),
            GetParam().want);
}
INSTANTIATE_TEST_SUITE_P(Table, DecodeHexEscapesTest,
                         testing::Values(HexEscapeCase{"a%20b%c4%8D", '%', false, "a b\xC4\x8D"},
                                         HexEscapeCase{"%41", '%', false, "A"},
                                         HexEscapeCase{"50%", '%', false, "50%"},
                                         HexEscapeCase{"%4", '%', false, "%4"},
                                         HexEscapeCase{"%G1%%41", '%', false, "%G1%A"},
                                         HexEscapeCase{"a_b", '%', false, "a_b"},
                                         HexEscapeCase{"a_b=5F=3D", '=', true, "a b_="},
                                         HexEscapeCase{"=00", '=', true, std::string(1, '\0')},
                                         HexEscapeCase{"%41", '=', true, "%41"}),
                         testsupport::PrintedName());

TEST(StringUtils, ParseInt) {
  EXPECT_EQ(kz::ParseInt("465"), 465);
  EXPECT_EQ(kz::ParseInt(" -7 "), -7);
  EXPECT_EQ(kz::ParseInt("+25"), 25);
  for (const char* bad : {"", "abc", "12a", "99999999999", "1 2"}) {
    EXPECT_THROW(kz::ParseInt(bad), EConvertError) << bad;
  }
}

}  // namespace
