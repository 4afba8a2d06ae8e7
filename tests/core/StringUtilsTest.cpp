#include "core/StringUtils.h"

#include <gtest/gtest.h>

#include "core/Error.h"

namespace {

TEST(StringUtils, TrimAndCase) {
  EXPECT_EQ(kz::Trim(" \t\r\nab c\n "), "ab c");
  EXPECT_EQ(kz::LowerAscii("MyMail-\xC4\x8D"), "mymail-\xC4\x8D");
  EXPECT_TRUE(kz::EqualsNoCase("MyMail", "myMAIL"));
  EXPECT_EQ(kz::FindNoCase("To: <A@B.cz>", "<a@b.CZ>"), 4u);
  EXPECT_EQ(kz::FindNoCase("abc", "x"), std::string_view::npos);
}

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
                                         SplitCase{"a\n\rb", {"a", "", "b"}}));

TEST(StringUtils, ParseInt) {
  EXPECT_EQ(kz::ParseInt("465"), 465);
  EXPECT_EQ(kz::ParseInt(" -7 "), -7);
  EXPECT_EQ(kz::ParseInt("+25"), 25);
  for (const char* bad : {"", "abc", "12a", "99999999999", "1 2"}) {
    EXPECT_THROW(kz::ParseInt(bad), EConvertError) << bad;
  }
}

}  // namespace
