#include "mail/clTranslator.h"
#include "support/CaseName.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct CharSetRow {
  std::string name;
  int codePage;
  std::string sample;  // UTF-8 text the charset can hold
};
void PrintTo(const CharSetRow& r, std::ostream* os) {
  *os << r.name;
}

class CharSetTable : public testing::TestWithParam<CharSetRow> {};

TEST_P(CharSetTable, MapsToItsCodePage) {
  EXPECT_EQ(TclTranslator::GetCodePage(GetParam().name), GetParam().codePage);
}

TEST_P(CharSetTable, ConvertsBothWays) {
  const CharSetRow& r = GetParam();
  const std::string bytes = TclTranslator::GetBytes(r.sample, r.name);
  EXPECT_EQ(TclTranslator::GetByteCount(r.sample, r.name), static_cast<int>(bytes.size()));
  EXPECT_EQ(TclTranslator::GetString(bytes, r.name), r.sample);
  if (r.codePage != 20127 && r.codePage != 65000 && r.codePage != 65001) {
    // Every sample holds a non-ASCII letter, so the bytes differ from plain ASCII.
    EXPECT_NE(bytes, std::string(r.sample)) << "not converted";
  }
}

const std::string kCzech = "Žluťoučký kůň";
const std::string kRussian = "Привет мир";
const std::string kLatin = "Grüße à côté";

INSTANTIATE_TEST_SUITE_P(
    All, CharSetTable,
    testing::Values(
        CharSetRow{"windows-1250", 1250, kCzech}, CharSetRow{"windows-1251", 1251, kRussian},
        CharSetRow{"windows-1252", 1252, kLatin}, CharSetRow{"windows-1253", 1253, "Καλημέρα"},
        CharSetRow{"windows-1254", 1254, "Günaydın"}, CharSetRow{"windows-1255", 1255, "שלום"},
        CharSetRow{"windows-1256", 1256, "مرحبا"},
        CharSetRow{"windows-1257", 1257, "Labas rytas ė"},
        CharSetRow{"windows-1258", 1258, "Xin chào"}, CharSetRow{"iso-8859-1", 28591, kLatin},
        CharSetRow{"iso-8859-2", 28592, kCzech}, CharSetRow{"iso-8859-3", 28593, "Ħ ġ"},
        CharSetRow{"iso-8859-4", 28594, "Ā ē ķ"}, CharSetRow{"iso-8859-5", 28595, kRussian},
        CharSetRow{"iso-8859-6", 28596, "مرحبا"}, CharSetRow{"iso-8859-7", 28597, "Καλημέρα"},
        CharSetRow{"iso-8859-8", 28598, "שלום"}, CharSetRow{"iso-8859-9", 28599, "Günaydın"},
        CharSetRow{"iso-8859-13", 28603, "Labas ė"}, CharSetRow{"iso-8859-15", 28605, "Prix 5 €"},
        CharSetRow{"ibm866", 866, kRussian}, CharSetRow{"cp866", 866, kRussian},
        CharSetRow{"utf-16", 1200, kCzech + "😀"}, CharSetRow{"utf-32", 12000, kRussian + "😀"},
        CharSetRow{"utf-7", 65000, kCzech}, CharSetRow{"utf-8", 65001, kCzech + "😀"},
        CharSetRow{"us-ascii", 20127, "plain"}, CharSetRow{"Latin1", 28591, kLatin},
        CharSetRow{"x-mac-cyrillic", 10007, kRussian}, CharSetRow{"koi8-u", 21866, "Привіт ґ"},
        CharSetRow{"koi8-r", 20866, kRussian}),
    testsupport::RowName());

TEST(CharSet, LookupIgnoresCaseAndDefaultsToAscii) {
  EXPECT_EQ(TclTranslator::GetCodePage("UTF-8"), 65001);
  EXPECT_EQ(TclTranslator::GetCodePage("utf-8"), 65001);
  EXPECT_EQ(TclTranslator::GetCodePage("LATIN1"), 28591);
  EXPECT_EQ(TclTranslator::GetCodePage("x-unknown"), 20127);
  EXPECT_EQ(TclTranslator::GetBytes("a\xC5\xBE", "x-unknown"), "a?");
}

TEST(CharSet, Utf16IsLittleEndianWithByteOrderMark) {
  EXPECT_EQ(TclTranslator::GetBytes("a", "utf-16"), std::string("\xFF\xFE"
                                                                "a\0",
                                                                4));
  EXPECT_EQ(TclTranslator::GetString(std::string("\xFE\xFF\0a", 4), "utf-16"), "a");
  EXPECT_EQ(TclTranslator::GetString(std::string("a\0b\0", 4), "utf-16"), "ab");
  EXPECT_EQ(TclTranslator::GetBytes("", "utf-16"), "");
}

TEST(CharSet, GetStringDropsOneFinalNulCharacter) {
  EXPECT_EQ(TclTranslator::GetString(std::string("ab\0", 3), "utf-8"), "ab");
  // In UTF-16 a zero byte is part of a character; only a whole NUL unit is dropped.
  EXPECT_EQ(TclTranslator::GetString(std::string("a\0", 2), "utf-16"), "a");
  EXPECT_EQ(TclTranslator::GetString(std::string("a\0\0\0", 4), "utf-16"), "a");
  EXPECT_EQ(TclTranslator::GetString("xxabcx", 2, 3, "us-ascii"), "abc");
}

TEST(CharSet, GetBytesIntoBufferStopsAtItsSize) {
  char buf[3];
  EXPECT_EQ(TclTranslator::GetBytes("abcdef", buf, "us-ascii"), 3u);
  EXPECT_EQ(std::string(buf, 3), "abc");
}

TEST(Translation, SupportedNamesInTableOrder) {
  std::vector<std::string> names{"stale"};
  TclTranslator::GetSupportedCharSets(names);
  EXPECT_EQ(names,
            (std::vector<std::string>{"ISO-8859-1", "ISO-8859-2", "Windows-1250", "ibm866",
                                      "ISO-8859-5", "koi8-r", "koi8-u", "KOI8-WIN", "WIN-KOI8",
                                      "Windows-1251", "x-mac-cyrillic", "Latin1"}));
}

std::string AllBytes() {
  std::string s(256, '\0');
  for (int i = 0; i < 256; ++i)
    s[static_cast<std::size_t>(i)] = static_cast<char>(i);
  return s;
}

TEST(Translation, IdentityTables) {
  for (const char* cs : {"ISO-8859-1", "Windows-1250", "windows-1251", "latin1", "unknown"}) {
    EXPECT_EQ(TclTranslator::TranslateBytesFrom(cs, AllBytes()), AllBytes()) << cs;
    EXPECT_EQ(TclTranslator::TranslateBytesTo(cs, AllBytes()), AllBytes()) << cs;
  }
}

TEST(Translation, Iso88592DiffersAtSixCodes) {
  const std::string from = TclTranslator::TranslateBytesFrom("iso-8859-2", AllBytes());
  const std::string to = TclTranslator::TranslateBytesTo("iso-8859-2", AllBytes());
  const unsigned char iso[] = {0xA1, 0xA6, 0xAC, 0xB1, 0xB6, 0xBC};
  const unsigned char win[] = {0xA5, 0x8C, 0x8F, 0xB9, 0x9C, 0x9F};
  int changed = 0;
  for (int b = 0; b < 256; ++b)
    changed += static_cast<unsigned char>(from[b]) != b ? 1 : 0;
  EXPECT_EQ(changed, 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(static_cast<unsigned char>(from[iso[i]]), win[i]);
    EXPECT_EQ(static_cast<unsigned char>(to[win[i]]), iso[i]);
  }
  EXPECT_EQ(static_cast<unsigned char>(from[0xA9]), 0xA9);  // letters with caron pass
}

struct CyrillicRow {
  std::string name;
  std::string iconvName;
};
void PrintTo(const CyrillicRow& r, std::ostream* os) {
  *os << r.name;
}

class CyrillicTable : public testing::TestWithParam<CyrillicRow> {};
// Every Cyrillic letter of the charset becomes the same letter of windows-1251, and back.
TEST_P(CyrillicTable, ConvertsLettersToAndFromWindows1251) {
  const std::string text = "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюяЁё";
  const std::string native = TclTranslator::GetBytes(text, GetParam().iconvName);
  const std::string win = TclTranslator::GetBytes(text, "windows-1251");
  EXPECT_EQ(TclTranslator::TranslateBytesFrom(GetParam().name, native), win);
  EXPECT_EQ(TclTranslator::TranslateBytesTo(GetParam().name, win), native);
}
INSTANTIATE_TEST_SUITE_P(All, CyrillicTable,
                         testing::Values(CyrillicRow{"ibm866", "cp866"},
                                         CyrillicRow{"ISO-8859-5", "iso-8859-5"},
                                         CyrillicRow{"koi8-r", "koi8-r"},
                                         CyrillicRow{"koi8-u", "koi8-u"},
                                         CyrillicRow{"KOI8-WIN", "koi8-r"},
                                         CyrillicRow{"x-mac-cyrillic", "x-mac-cyrillic"}),
                         testsupport::RowName());

TEST(Translation, Koi8rCapitalA) {
  EXPECT_EQ(TclTranslator::TranslateBytesFrom("koi8-r", "\xE1"), "\xC0");
  EXPECT_EQ(TclTranslator::TranslateBytesFrom("WIN-KOI8", "\xC0"), "\xE1");
  EXPECT_EQ(TclTranslator::TranslateBytesTo("WIN-KOI8", "\xE1"), "\xC0");
}

TEST(Translation, StreamsKeepTheirPositions) {
  TMemoryStream src(std::string("ab\xE1")), dst(std::string("0123"));
  src.SetPosition(2);
  dst.SetPosition(1);
  TclTranslator::TranslateFrom("koi8-r", src, dst);
  EXPECT_EQ(dst.Data(), "0ab\xC0");
  EXPECT_EQ(src.Position(), 2);
  EXPECT_EQ(dst.Position(), 1);
}

TEST(Translation, TextFormsGoThroughWindows1250) {
  // ISO-8859-2 0xA1 (Ą) read through the table is windows-1250 0xA5, also Ą.
  EXPECT_EQ(TclTranslator::TranslateFrom("iso-8859-2", "\xCB\x87"), "\xC4\x84");  // ˇ -> Ą
  EXPECT_EQ(TclTranslator::TranslateTo("iso-8859-2", "\xC4\x84"), "\xCB\x87");
  EXPECT_EQ(TclTranslator::TranslateTo("unknown", "abc"), "abc");
}

struct Utf8Row {
  std::string name;
  std::string in;
  std::string out;
};
void PrintTo(const Utf8Row& r, std::ostream* os) {
  *os << r.name;
}

class Utf8Translate : public testing::TestWithParam<Utf8Row> {};
TEST_P(Utf8Translate, FromUtf8) {
  EXPECT_EQ(TclTranslator::TranslateFromUtf8(GetParam().in), GetParam().out);
}
INSTANTIATE_TEST_SUITE_P(
    All, Utf8Translate,
    testing::Values(Utf8Row{"empty", "", ""}, Utf8Row{"ascii", "abc", "abc"},
                    Utf8Row{"two_and_three", "\xC5\xBE\xE2\x82\xAC", "\xC5\xBE\xE2\x82\xAC"},
                    Utf8Row{"four_byte", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
                    // Each byte of an encoded surrogate or a cut sequence is replaced.
                    Utf8Row{"encoded_surrogates", "\xED\xA0\xBDz",
                            "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz"},
                    Utf8Row{"truncated", "a\xE2\x82", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
                    Utf8Row{"stray_continuation", "\x80z", "\xEF\xBF\xBDz"},
                    Utf8Row{"overlong", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"}),
    testsupport::RowName());

TEST(Utf8Translate, ToUtf8WritesOneFourByteSequenceForAPair) {
  EXPECT_EQ(TclTranslator::TranslateToUtf8("a\xF0\x9F\x98\x80"), "a\xF0\x9F\x98\x80");
  EXPECT_EQ(TclTranslator::TranslateToUtf8(""), "");
  EXPECT_EQ(TclTranslator::TranslateToUtf8("\xFF"), "\xEF\xBF\xBD");
}

}  // namespace
