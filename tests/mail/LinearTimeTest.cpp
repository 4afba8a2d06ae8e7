// Growth checks: splitting and parsing addresses and removing header fields must take time
// in proportion to the input. Each row runs at a size and at ten times that size; the time
// may grow at most thirtyfold (a quadratic step would grow a hundredfold). The bound is
// loose on purpose: the check is about the shape of the cost, not about speed.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "mail/clEmailAddress.h"
#include "mail/clMailUtils.h"
#include "support/Growth.h"

namespace {

struct GrowthRow {
  std::string what;
  std::size_t size;  // the smaller size; the larger is ten times it
  std::function<void(std::size_t)> work;
};
void PrintTo(const GrowthRow& r, std::ostream* os) {
  *os << r.what;
}

std::string Repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i)
    out += piece;
  return out;
}

void SplitRecipients(std::size_t n) {
  TclEmailAddressList list;
  list.SetEmailAddresses(Repeat("\"O'Neil, Pat\" <p@x.cz>\n", n));
  ASSERT_EQ(static_cast<std::size_t>(list.Count()), n);
}

// A name that repeats most of the address: a naive search for the address compares
// almost the whole address at every position of the name.
void ParseNearMatches(std::size_t n) {
  const std::string text = std::string(n, 'a') + " " + std::string(n / 2, 'a') + "@b";
  TclEmailAddressItem item{std::string_view(text)};
  ASSERT_EQ(item.Email().size(), n / 2 + 2);
}

void RemoveManyFields(std::size_t n) {
  std::vector<std::string> lines;
  lines.reserve(3 * n + 2);
  for (std::size_t i = 0; i < n; ++i) {
    lines.emplace_back("Bcc: hidden@x.cz");
    lines.emplace_back("\tmore@x.cz");
    lines.emplace_back("X-Keep: 1");
  }
  lines.emplace_back("");
  lines.emplace_back("Bcc: body text");
  RemoveHeaderField(lines, "bcc");
  ASSERT_EQ(lines.size(), n + 2);
}

class LinearTime : public testing::TestWithParam<GrowthRow> {};
TEST_P(LinearTime, TenfoldInputTakesAboutTenfoldTime) {
  const GrowthRow& row = GetParam();
  const double ratio = testsupport::GrowthRatio(row.work, row.size);
  std::cout << row.what << ": tenfold input, " << ratio << " times the time\n";
  EXPECT_LT(ratio, 30.0);
}
INSTANTIATE_TEST_SUITE_P(All, LinearTime,
                         testing::Values(GrowthRow{"SplitRecipients", 2000, SplitRecipients},
                                         GrowthRow{"ParseNearMatches", 20000, ParseNearMatches},
                                         GrowthRow{"RemoveManyFields", 10000, RemoveManyFields}),
                         [](const testing::TestParamInfo<GrowthRow>& info) {
                           return info.param.what;
                         });

}  // namespace
