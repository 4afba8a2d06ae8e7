#include "app/HexText.h"

#include <gtest/gtest.h>

#include "core/Error.h"
#include "support/CaseName.h"

namespace {

struct HexCase {
  std::string text;
  std::string hex;
};
void PrintTo(const HexCase& c, std::ostream* os) {
  *os << c.hex;
}

class HexRoundTrip : public testing::TestWithParam<HexCase> {};

TEST_P(HexRoundTrip, EncodesAndDecodes) {
  EXPECT_EQ(TextToHex(GetParam().text), GetParam().hex);
  EXPECT_EQ(HexToText(GetParam().hex), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HexRoundTrip,
    testing::Values(HexCase{"", ""}, HexCase{"abc", "616263"},
                    HexCase{"smtp.seznam.cz", "736D74702E73657A6E616D2E637A"},
                    // Czech letters keep their UTF-8 bytes instead of losing the high bits.
                    HexCase{"\xC4\x8D", "C48D"},
                    HexCase{"P\xC5\x99\xC3\xADli\xC5\xA1", "50C599C3AD6C69C5A1"},
                    HexCase{"\xF0\x9F\x98\x80", "F09F9880"}, HexCase{"a\r\nb", "610D0A62"}),
    testsupport::PrintedName());

struct DecodeCase {
  std::string hex;
  std::string want;
};
void PrintTo(const DecodeCase& c, std::ostream* os) {
  *os << c.hex;
}

class HexDecode : public testing::TestWithParam<DecodeCase> {};

TEST_P(HexDecode, Decodes) {
  EXPECT_EQ(HexToText(GetParam().hex), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HexDecode,
    testing::Values(DecodeCase{"6162", "ab"}, DecodeCase{"6a6B", "jk"},  // digits of either case
                    DecodeCase{"E9", "\xC3\xA9"},        // stored one byte per character: é
                    DecodeCase{"0D", "\r"},              // the old form of č read back
                    DecodeCase{"6BE96B", "k\xC3\xA9k"},  // not UTF-8 as a whole: bytes as U+00xx
                    DecodeCase{"00", std::string(1, '\0')}),
    testsupport::PrintedName());

TEST(HexText, InvalidPairRaisesConversionError) {
  for (const char* bad : {"6g", "zz", "61 2", "6\xC4\x8D"}) {
    EXPECT_THROW(HexToText(bad), EConvertError) << bad;
  }
  try {
    HexToText("616g");
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'$6g' is not a valid integer value");
  }
}

TEST(HexText, OddDigitCountIsAnErrorNotAShorterValue) {
  // A value cut in the middle of a pair has lost a byte: never a shorter text.
  for (const std::size_t digits : {std::size_t{1}, std::size_t{5}, std::size_t{2047}}) {
    try {
      HexToText(std::string(digits, '4'));
      FAIL() << digits << " digits were decoded";
    } catch (const EConvertError& e) {
      EXPECT_NE(std::string(e.what()).find("lichý počet šestnáctkových číslic (" +
                                           std::to_string(digits) + ")"),
                std::string::npos)
          << e.what();
    }
  }
  EXPECT_EQ(HexToText(std::string(2048, '4')), std::string(1024, 'D'));
}

}  // namespace
