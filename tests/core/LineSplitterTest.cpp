#include "core/LineSplitter.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

struct SplitCase {
  std::string name;
  std::string bytes;
  Lines lines;
};

void PrintTo(const SplitCase& row, std::ostream* os) {
  *os << row.name;
}

// Every way of cutting the bytes into three pieces (empty pieces included) gives the same
// lines: the CR LF pairing and the unfinished line must survive any chunk boundary.
Lines SplitInThree(const std::string& bytes, std::size_t a, std::size_t b) {
  kz::LineSplitter splitter;
  Lines lines;
  auto collect = [&](std::string_view line) { lines.emplace_back(line); };
  const std::string_view all(bytes);
  EXPECT_EQ(splitter.Feed(all.substr(0, a), collect), a);
  EXPECT_EQ(splitter.Feed(all.substr(a, b - a), collect), b - a);
  EXPECT_EQ(splitter.Feed(all.substr(b), collect), bytes.size() - b);
  splitter.Finish(collect);
  return lines;
}

class LineSplitterTest : public testing::TestWithParam<SplitCase> {};

TEST_P(LineSplitterTest, SameLinesAtEveryChunkBoundary) {
  const SplitCase& c = GetParam();
  for (std::size_t a = 0; a <= c.bytes.size(); ++a)
    for (std::size_t b = a; b <= c.bytes.size(); ++b)
      ASSERT_EQ(SplitInThree(c.bytes, a, b), c.lines) << "cut at " << a << " and " << b;
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineSplitterTest,
    testing::Values(SplitCase{"empty", "", {}}, SplitCase{"no_break", "abc", {"abc"}},
                    SplitCase{"crlf", "a\r\nb\r\n", {"a", "b"}},
                    SplitCase{"lone_lf", "a\nb\n", {"a", "b"}},
                    SplitCase{"lone_cr", "a\rb\r", {"a", "b"}},
                    SplitCase{"lf_cr_is_two_breaks", "a\n\rb", {"a", "", "b"}},
                    SplitCase{"cr_cr_lf", "a\r\r\nb", {"a", "", "b"}},
                    SplitCase{"empty_lines", "\r\n\r\n\n", {"", "", ""}},
                    SplitCase{"unfinished_last", "a\r\nbc", {"a", "bc"}},
                    SplitCase{"mixed", "x\ry\r\nz\nw", {"x", "y", "z", "w"}},
                    SplitCase{"nul_kept", std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}},
                    SplitCase{
                        "lines_longer_than_a_search_block",
                        std::string(40, 'x') + "\r\n" + std::string(17, '\xe9') + "\r" +
                            std::string(16, 'y') + "\n",
                        {std::string(40, 'x'), std::string(17, '\xe9'), std::string(16, 'y')}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

// The search for a line end agrees with a byte-by-byte one wherever the break stands and
// wherever the search starts, also with bytes that have the high bit set around it.
TEST(FindLineBreak, AgreesWithAPlainSearchAtEveryOffset) {
  for (const char brk : {'\r', '\n'}) {
    for (std::size_t at = 0; at < 70; ++at) {
      std::string text(70, '\x8d');
      text[at] = brk;
      for (std::size_t from = 0; from <= text.size(); ++from) {
        const std::size_t expected = from <= at ? at : std::string_view::npos;
        ASSERT_EQ(kz::FindLineBreak(text, from), expected)
            << "break at " << at << ", from " << from;
      }
    }
  }
}

TEST(LineSplitter, StopsAfterTheLineTheCallerWants) {
  kz::LineSplitter splitter;
  Lines lines;
  const std::string_view bytes = "Subject: x\r\n\r\nbody\r\n";
  const std::size_t used = splitter.Feed(bytes, [&](std::string_view line) {
    lines.emplace_back(line);
    return !line.empty();
  });
  EXPECT_EQ(lines, (Lines{"Subject: x", ""}));
  EXPECT_EQ(bytes.substr(used), "body\r\n");
}

TEST(LineSplitter, KeepsOnlyTheUnfinishedLineAndAPendingCr) {
  kz::LineSplitter splitter;
  Lines lines;
  auto collect = [&](std::string_view line) { lines.emplace_back(line); };
  splitter.Feed("ab\r\ncd", collect);
  EXPECT_EQ(splitter.PartialSize(), 2u);
  splitter.Feed("\r", collect);
  EXPECT_TRUE(splitter.AfterCr());
  EXPECT_EQ(splitter.PartialSize(), 0u);
  splitter.Clear();
  splitter.Feed("\nx", collect);  // after Clear the LF is a line end of its own
  EXPECT_EQ(lines, (Lines{"ab", "cd", ""}));
  EXPECT_TRUE(splitter.Finish(collect));
  EXPECT_FALSE(splitter.Finish(collect));
  EXPECT_EQ(lines.back(), "x");
}

}  // namespace
