#include "core/CodePage.h"

#include <gtest/gtest.h>

#include "core/Error.h"

namespace {

TEST(AnsiCodePage, CzechLettersRoundTrip) {
  const std::string text =
      "P\xC5\x99\xC3\xADli\xC5\xA1 \xC5\xBEluou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88";
  const std::string bytes = kz::AnsiEncode(text);
  EXPECT_EQ(bytes, "P\xF8\xEDli\x9A \x9Eluou\xE8k\xFD k\xF9\xF2");
  EXPECT_EQ(kz::AnsiDecode(bytes), text);
  EXPECT_EQ(kz::EncodeCodePage(text, "windows-1250"), bytes);
  EXPECT_EQ(kz::DecodeCodePage(bytes, "windows-1250"), text);
}

TEST(AnsiCodePage, MissingCharactersBecomeReplacement) {
  EXPECT_EQ(kz::AnsiEncode("\xD0\x96\xF0\x9F\x98\x80x"), "??x");  // Cyrillic Zhe, emoji
  EXPECT_EQ(kz::AnsiEncode("\xD0\x96", '\x7F'), "\x7F");
  EXPECT_EQ(kz::AnsiEncode("\xFF"), "?");  // malformed input
}

TEST(AnsiCodePage, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  EXPECT_EQ(kz::AnsiEncode(kz::AnsiDecode(all)), all);
}

TEST(CodePage, OtherCharsets) {
  EXPECT_EQ(kz::EncodeCodePage("\xD0\x96", "koi8-r"), "\xF6");
  EXPECT_EQ(kz::DecodeCodePage("\xF6", "koi8-r"), "\xD0\x96");
  EXPECT_EQ(kz::EncodeCodePage("\xC4\x8D", "us-ascii"), "?");
  EXPECT_EQ(kz::DecodeCodePage("a\xFF", "us-ascii"), "a\xEF\xBF\xBD");
  EXPECT_TRUE(kz::IsCharsetSupported("iso-8859-2"));
  EXPECT_FALSE(kz::IsCharsetSupported("no-such-charset"));
  EXPECT_THROW(kz::EncodeCodePage("x", "no-such-charset"), EclError);
}

}  // namespace
