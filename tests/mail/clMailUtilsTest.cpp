#include "mail/clMailUtils.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "core/StringUtils.h"
#include "support/CaseName.h"

namespace {

using M = TclEncodeMethod;
using Lines = std::vector<std::string>;

struct EncodeRow {
  std::string name;
  std::string text;
  std::string charSet;
  M method;
  int cpl;
  std::string want;
};
void PrintTo(const EncodeRow& r, std::ostream* os) {
  *os << r.name;
}

class HeaderEncode : public testing::TestWithParam<EncodeRow> {};
TEST_P(HeaderEncode, Encodes) {
  const EncodeRow& r = GetParam();
  EXPECT_EQ(EncodeHeaderValue(r.text, r.charSet, r.method, r.cpl), r.want);
}
INSTANTIATE_TEST_SUITE_P(
    All, HeaderEncode,
    testing::Values(
        EncodeRow{"empty", "", "UTF-8", M::cmBase64, 76, ""},
        EncodeRow{"plain_ascii", "Weekly report", "UTF-8", M::cmNone, 76, "Weekly report"},
        EncodeRow{"czech_prefers_q", "Zpráva", "UTF-8", M::cmNone, 76, "=?UTF-8?Q?Zpr=C3=A1va?="},
        EncodeRow{"mostly_czech_prefers_b", "čšř", "utf-8", M::cmNone, 76, "=?utf-8?B?xI3FocWZ?="},
        EncodeRow{"text_like_a_word_is_encoded", "a =?x?q?y?= b", "UTF-8", M::cmNone, 76,
                  "=?UTF-8?Q?a_=3D=3Fx=3Fq=3Fy=3F=3D_b?="},
        EncodeRow{"q_specials", "a b_c?", "UTF-8", M::cmQuotedPrintable, 76,
                  "=?UTF-8?Q?a_b=5Fc=3F?="},
        EncodeRow{"long_ascii_becomes_q", std::string(30, 'x') + " " + std::string(30, 'y'),
                  "UTF-8", M::cmNone, 40,
                  "=?UTF-8?Q?" + std::string(30, 'x') + "_?=\r\n=?UTF-8?Q?" + std::string(30, 'y') +
                      "?="},
        EncodeRow{"word_breaks_inside_when_no_space_in_its_second_half",
                  "a " + std::string(60, 'x'), "UTF-8", M::cmNone, 40,
                  "=?UTF-8?Q?a_" + std::string(38, 'x') + "?=\r\n=?UTF-8?Q?" +
                      std::string(22, 'x') + "?="},
        EncodeRow{"charset_bytes", "č", "iso-8859-2", M::cmQuotedPrintable, 76,
                  "=?iso-8859-2?Q?=E8?="},
        EncodeRow{"hard_break_starts_word", "ab\r\ncd", "UTF-8", M::cmQuotedPrintable, 76,
                  "=?UTF-8?Q?ab?=\r\n=?UTF-8?Q?cd?="},
        // 75 characters at most: 12 for "=?UTF-8?B?" and "?=", 60 for 45 bytes.
        EncodeRow{"base64_words_of_45_bytes", std::string(60, 'a'), "UTF-8", M::cmBase64, 76,
                  "=?UTF-8?B?" +
                      [] {
                        std::string s;
                        for (int i = 0; i < 15; ++i)
                          s += "YWFh";
                        return s;
                      }() +
                      "?=\r\n=?UTF-8?B?YWFhYWFhYWFhYWFhYWFh?="},
        EncodeRow{"q_punctuation_is_escaped", "Re: a.b, \"c\"", "UTF-8", M::cmQuotedPrintable, 76,
                  "=?UTF-8?Q?Re=3A_a=2Eb=2C_=22c=22?="},
        EncodeRow{"eight_bit_utf16_becomes_words", "\xC4\x8A", "utf-16", M::cm8Bit, 76,
                  "=?utf-16?B?//4KAQ==?="},
        EncodeRow{"eight_bit_is_raw_charset_bytes", "čau", "iso-8859-2", M::cm8Bit, 76,
                  "\xE8"
                  "au"},
        EncodeRow{"uuencode_is_raw_charset_bytes", "čau", "utf-8", M::cmUUEncode, 76,
                  "\xC4\x8D"
                  "au"}),
    testsupport::RowName());

// Every encoded word holds whole characters of its charset (it decodes alone without a
// replacement character) and is at most 75 characters long; together they give the text.
struct WordsRow {
  std::string name;
  std::string text;
  std::string charSet;
  M method;
};
void PrintTo(const WordsRow& r, std::ostream* os) {
  *os << r.name;
}

class HeaderWords : public testing::TestWithParam<WordsRow> {};
TEST_P(HeaderWords, WholeCharactersInShortWords) {
  const WordsRow& r = GetParam();
  const std::string encoded = EncodeHeaderValue(r.text, r.charSet, r.method, 76);
  const Lines words = kz::SplitLines(encoded);
  std::string joined;
  for (const std::string& word : words) {
    EXPECT_LE(word.size(), 75u) << word;
    EXPECT_TRUE(word.starts_with("=?" + r.charSet + "?")) << word;
    const std::string alone = DecodeHeaderValue(word, "us-ascii");
    EXPECT_EQ(alone.find("\xEF\xBF\xBD"), std::string::npos) << word;
    joined += alone;
  }
  EXPECT_GT(words.size(), 1u);
  EXPECT_EQ(joined, r.text);
  EXPECT_EQ(DecodeHeaderValue(encoded, "us-ascii"), r.text);
}
const std::string kCzech = "Příliš žluťoučký kůň úpěl ďábelské ódy";
// U+010A and U+0D0A have bytes equal to LF and CR in UTF-16 and UTF-32.
const std::string kLineEndBytes = "\xC4\x8A\xC4\x8D\xE0\xB4\x8A x \xC4\x8A";
INSTANTIATE_TEST_SUITE_P(
    All, HeaderWords,
    testing::Values(
        WordsRow{"czech_q", kCzech + " " + kCzech, "UTF-8", M::cmQuotedPrintable},
        WordsRow{"czech_b", kCzech + " " + kCzech, "UTF-8", M::cmBase64},
        WordsRow{"czech_preferred", kCzech + kCzech + kCzech, "UTF-8", M::cmNone},
        WordsRow{"emoji_b",
                 std::string(20, 'a') + "\xF0\x9F\x98\x80\xF0\x9F\x98\x81" + std::string(60, 'b'),
                 "UTF-8", M::cmBase64},
        WordsRow{"latin2_q", kCzech + kCzech, "iso-8859-2", M::cmQuotedPrintable},
        WordsRow{"utf16_b", kLineEndBytes + kCzech + kLineEndBytes, "utf-16", M::cmBase64},
        WordsRow{"utf16_q", kLineEndBytes + kCzech, "utf-16", M::cmQuotedPrintable},
        WordsRow{"utf32_b", kLineEndBytes + kCzech, "utf-32", M::cmBase64},
        WordsRow{"utf32_8bit", kLineEndBytes + kCzech, "utf-32", M::cm8Bit}),
    testsupport::RowName());

TEST(HeaderEncode, RoundTripsThroughDecode) {
  for (const std::string& text :
       std::vector<std::string>{"Příliš žluťoučký kůň úpěl ďábelské ódy", "Привет, мир",
                                "emoji 😀 and _?= signs", std::string(200, 'z') + " ž"}) {
    for (M m : {M::cmNone, M::cmQuotedPrintable, M::cmBase64}) {
      const std::string enc = EncodeHeaderValue(text, "UTF-8", m, 76);
      Lines lines;
      AddHeaderField(lines, "Subject", enc);
      for (const auto& line : lines)
        EXPECT_LE(line.size(), 998u);
      TclHeaderFieldList fields;
      GetHeaderFieldList(0, lines, fields);
      const std::string value = GetHeaderFieldValue(lines, fields, "subject");
      EXPECT_EQ(DecodeHeaderValue(value, "UTF-8"), text) << enc;
    }
  }
}

struct DecodeRow {
  std::string name;
  std::string in;
  std::string charSet;
  std::string want;
};
void PrintTo(const DecodeRow& r, std::ostream* os) {
  *os << r.name;
}

class HeaderDecode : public testing::TestWithParam<DecodeRow> {};
TEST_P(HeaderDecode, Decodes) {
  EXPECT_EQ(DecodeHeaderValue(GetParam().in, GetParam().charSet), GetParam().want);
}
INSTANTIATE_TEST_SUITE_P(
    All, HeaderDecode,
    testing::Values(
        DecodeRow{"plain", "Hello", "utf-8", "Hello"},
        DecodeRow{"q", "=?UTF-8?Q?Zpr=C3=A1va_dne?=", "", "Zpráva dne"},
        DecodeRow{"q_lower_letter", "=?utf-8?q?a=5Fb?=", "", "a_b"},
        DecodeRow{"b", "=?utf-8?B?xI3FocWZ?=", "", "čšř"},
        DecodeRow{"b_lower_letter", "=?utf-8?b?YWJj?=", "", "abc"},
        DecodeRow{"text_around", "Re: =?UTF-8?Q?=C4=8Dau?= there", "", "Re: čau there"},
        DecodeRow{"space_between_words_dropped", "=?UTF-8?Q?a?= =?UTF-8?Q?b?=", "", "ab"},
        DecodeRow{"split_character_joined", "=?UTF-8?B?xA==?= =?UTF-8?B?jQ==?=", "", "č"},
        DecodeRow{"other_charset", "=?iso-8859-2?Q?=E8?=", "", "č"},
        DecodeRow{"mixed_charsets", "=?iso-8859-2?Q?=E8?==?koi8-r?Q?=E1?=", "", "čА"},
        DecodeRow{"language_suffix", "=?UTF-8*cs?Q?=C4=8D?=", "", "č"},
        DecodeRow{"unknown_letter_kept", "=?UTF-8?X?abc?= =?UTF-8?Q?d?=", "", "=?UTF-8?X?abc?= d"},
        DecodeRow{"bad_base64_kept", "=?UTF-8?B?a!b?=", "", "=?UTF-8?B?a!b?="},
        DecodeRow{"unterminated", "=?UTF-8?Q?abc", "", "=?UTF-8?Q?abc"},
        DecodeRow{"raw_8bit_in_charset",
                  "\xE8"
                  "au",
                  "iso-8859-2", "čau"},
        DecodeRow{"raw_utf8_kept", "čau", "iso-8859-2", "čau"}),
    testsupport::RowName());

TEST(HeaderDecode, ManyUnclosedWordsInLinearTime) {
  std::string text;
  for (int i = 0; i < 200000; ++i)
    text += "=?a?Q?";
  const std::string tail = "=?UTF-8?Q?=C4=8D?=";
  EXPECT_EQ(DecodeHeaderValue(text + tail, "utf-8"), text + "\xC4\x8D");
}

TEST(AddHeaderField, EmptyValueAddsNothing) {
  Lines lines;
  AddHeaderField(lines, "Subject", "");
  EXPECT_TRUE(lines.empty());
}

struct FoldRow {
  std::string name;
  std::string value;
  Lines want;
};
void PrintTo(const FoldRow& r, std::ostream* os) {
  *os << r.name;
}

class Folding : public testing::TestWithParam<FoldRow> {};
TEST_P(Folding, Folds) {
  Lines lines{"X: 1"};
  AddHeaderField(lines, "Subject", GetParam().value);
  Lines want{"X: 1"};
  want.insert(want.end(), GetParam().want.begin(), GetParam().want.end());
  EXPECT_EQ(lines, want);
}
INSTANTIATE_TEST_SUITE_P(
    All, Folding,
    testing::Values(
        FoldRow{"one_line", "hello", {"Subject: hello"}},
        FoldRow{"two_lines", "a\r\nb", {"Subject: a", "\tb"}},
        FoldRow{"trailing_break", "a\r\n", {"Subject: a"}},
        // A lone CR or LF cannot end the field and start another one.
        FoldRow{
            "lone_lf", "x\nBcc: victim@example.com", {"Subject: x", "\tBcc: victim@example.com"}},
        FoldRow{"lone_cr", "x\rBcc: v@e.com", {"Subject: x", "\tBcc: v@e.com"}},
        FoldRow{"empty_line_inside", "a\n\nb", {"Subject: a", "\t", "\tb"}},
        // Long lines fold before white space, the field name counted.
        FoldRow{"long_plain_text_folds_at_the_last_space",
                std::string(60, 'a') + " " + std::string(6, 'b') + " " + std::string(20, 'c'),
                {"Subject: " + std::string(60, 'a') + " " + std::string(6, 'b'),
                 " " + std::string(20, 'c')}},
        FoldRow{"exactly_76_stays",
                std::string(60, 'a') + " " + std::string(6, 'b'),
                {"Subject: " + std::string(60, 'a') + " " + std::string(6, 'b')}},
        FoldRow{"long_word_stays_whole_then_folds",
                std::string(90, 'a') + " b  c",
                {"Subject: " + std::string(90, 'a'), " b  c"}},
        FoldRow{"no_fold_after_the_colon",
                std::string(100, 'a'),
                {"Subject: " + std::string(100, 'a')}},
        FoldRow{"continuation_lines_fold_too",
                "x\r\n" + std::string(76, 'd') + " e",
                {"Subject: x", "\t" + std::string(76, 'd'), " e"}},
        FoldRow{"trailing_space_is_not_a_line",
                std::string(80, 'a') + "   ",
                {"Subject: " + std::string(80, 'a') + "   "}}),
    [](const testing::TestParamInfo<FoldRow>& info) { return info.param.name; });

// Encoded subjects: every line, "Subject: " included, within 76 characters; the text comes
// back whole; words end after a space where one lies in their second half.
struct SubjectRow {
  std::string name;
  std::string text;
  M method;
  std::string charSet;
};
void PrintTo(const SubjectRow& r, std::ostream* os) {
  *os << r.name;
}

std::string Repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i)
    out += s;
  return out;
}

class EncodedSubject : public testing::TestWithParam<SubjectRow> {};
TEST_P(EncodedSubject, LinesFitAndDecode) {
  const SubjectRow& r = GetParam();
  Lines lines;
  AddHeaderField(lines, "Subject", EncodeHeaderValue(r.text, r.charSet, r.method, 76, 9));
  ASSERT_GE(lines.size(), 2u);
  std::string value;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_LE(lines[i].size(), 76u) << lines[i];
    value += i == 0 ? lines[i].substr(9) : " " + lines[i].substr(1);
  }
  EXPECT_EQ(DecodeHeaderValue(value, r.charSet), r.text);
  // The first line is filled, not left short.
  EXPECT_GE(lines[0].size(), 45u) << lines[0];
}
INSTANTIATE_TEST_SUITE_P(
    All, EncodedSubject,
    testing::Values(SubjectRow{"czech_q", Repeat("Příliš žluťoučký kůň úpěl ďábelské ódy. ", 3),
                               M::cmQuotedPrintable, "UTF-8"},
                    SubjectRow{"czech_b", Repeat("Příliš žluťoučký kůň úpěl ďábelské ódy. ", 3),
                               M::cmBase64, "UTF-8"},
                    SubjectRow{"czech_preferred",
                               Repeat("Týdenní zpráva o stavu projektu č. 2 ", 3), M::cmNone,
                               "UTF-8"},
                    SubjectRow{"no_spaces", Repeat("žluťoučký", 20), M::cmQuotedPrintable, "UTF-8"},
                    SubjectRow{"four_byte_characters", Repeat("\xF0\x9F\x93\xA7 pošta ", 12),
                               M::cmBase64, "UTF-8"},
                    SubjectRow{"single_byte_charset", Repeat("Žádost o přijetí ", 8),
                               M::cmQuotedPrintable, "iso-8859-2"}),
    [](const testing::TestParamInfo<SubjectRow>& info) { return info.param.name; });

TEST(EncodedSubject, WordsEndAfterSpaces) {
  Lines lines;
  AddHeaderField(
      lines, "Subject",
      EncodeHeaderValue(Repeat("Týdenní zpráva ", 10), "UTF-8", M::cmQuotedPrintable, 76, 9));
  ASSERT_GE(lines.size(), 3u);
  for (std::size_t i = 0; i + 1 < lines.size(); ++i)
    EXPECT_TRUE(lines[i].ends_with("_?=")) << lines[i];
}

TEST(AddHeaderField, NoInjectedFieldEvenFromEncodedValues) {
  for (M m : {M::cmNone, M::cmQuotedPrintable, M::cmBase64}) {
    Lines lines;
    AddHeaderField(lines, "Subject",
                   EncodeHeaderValue("hi\nBcc: x@y.z\r\rTo: a@b.c", "UTF-8", m, 76));
    for (std::size_t i = 1; i < lines.size(); ++i) {
      ASSERT_FALSE(lines[i].empty());
      EXPECT_TRUE(lines[i][0] == '\t' || lines[i][0] == ' ') << lines[i];
    }
  }
}

TEST(AddHeaderFieldItems, BoundaryOnItsOwnLine) {
  Lines lines;
  AddHeaderFieldItems(lines, "Content-Type", {"multipart/mixed", "boundary=\"Mark=_1\""}, ";");
  EXPECT_EQ(lines, (Lines{"Content-Type: multipart/mixed;", "\tboundary=\"Mark=_1\""}));
  Lines other{"From: a@b.c"};
  AddHeaderFieldItems(other, "Content-Type", {"", "charset=x"}, ";");
  EXPECT_EQ(other, (Lines{"From: a@b.c"}));
}

TEST(EncodeHeaderAddress, EncodesTheNameOnly) {
  EXPECT_EQ(EncodeHeaderAddress("a@b.cz", "UTF-8", M::cmNone, 76), "a@b.cz");
  EXPECT_EQ(EncodeHeaderAddress("John Smith <j@b.cz>", "UTF-8", M::cmNone, 76),
            "\"John Smith\" <j@b.cz>");
  EXPECT_EQ(EncodeHeaderAddress("Jiří Novák <j@b.cz>", "UTF-8", M::cmNone, 76),
            "=?UTF-8?Q?Ji=C5=99=C3=AD_Nov=C3=A1k?= <j@b.cz>");
  // Characters a display name's encoded word may not hold are escaped, never quoted.
  EXPECT_EQ(EncodeHeaderAddress("\"Jiří (práce), st.\" <j@b.cz>", "UTF-8", M::cmNone, 76),
            "=?UTF-8?Q?Ji=C5=99=C3=AD_=28pr=C3=A1ce=29=2C_st=2E?= <j@b.cz>");
}

const Lines kHeader{
    "From: a@b.cz",           "Subject: Hello", " world",   "Content-Type: multipart/mixed;",
    "\tboundary=\"Mark=_1\"", "Bcc: x@y.cz,",   "\tz@y.cz", "",
    "body: not a field"};

TEST(HeaderFields, ListStopsAtTheEmptyLine) {
  TclHeaderFieldList fields{{"stale", 9}};
  EXPECT_EQ(GetHeaderFieldList(0, kHeader, fields), 7);
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields[1].Name, "subject");
  EXPECT_EQ(fields[1].Line, 1);
  EXPECT_EQ(fields[3].Name, "bcc");
  Lines noEnd{"A: 1", "B: 2"};
  EXPECT_EQ(GetHeaderFieldList(0, noEnd, fields), 2);
}

TEST(HeaderFields, ValuesAreUnfolded) {
  TclHeaderFieldList fields;
  GetHeaderFieldList(0, kHeader, fields);
  EXPECT_EQ(GetHeaderFieldValue(kHeader, fields, "Subject"), "Hello world");
  EXPECT_EQ(GetHeaderFieldValue(kHeader, fields, "bcc"), "x@y.cz, z@y.cz");
  EXPECT_EQ(GetHeaderFieldValue(kHeader, fields, "to"), "");
  const std::string ct = GetHeaderFieldValue(kHeader, fields, "content-type");
  EXPECT_EQ(GetHeaderParam(ct, ""), "multipart/mixed");
  EXPECT_EQ(GetHeaderParam(ct, "boundary="), "Mark=_1");
}

struct ParamRow {
  std::string value;
  std::string param;
  std::string want;
};
void PrintTo(const ParamRow& r, std::ostream* os) {
  *os << r.value << " " << r.param;
}

class HeaderParam : public testing::TestWithParam<ParamRow> {};
TEST_P(HeaderParam, Finds) {
  EXPECT_EQ(GetHeaderParam(GetParam().value, GetParam().param), GetParam().want);
}
INSTANTIATE_TEST_SUITE_P(
    All, HeaderParam,
    testing::Values(ParamRow{"text/plain; charset=\"UTF-8\"", "charset=", "UTF-8"},
                    ParamRow{"text/plain; CHARSET=utf-8", "charset=", "utf-8"},
                    ParamRow{"text/plain", "charset=", ""},
                    // Apostrophes do not protect a separator.
                    ParamRow{"attachment; filename='a;b.txt'; size=3", "filename=", "'a"},
                    ParamRow{"attachment; filename=\"a;b.txt\"; size=3", "filename=", "a;b.txt"},
                    ParamRow{"attachment; filename=\"x.txt\"", "name=", ""},
                    ParamRow{"a/b; filename=\"x\"; name=\"y\"", "name=", "y"},
                    ParamRow{" text/html ; charset=x", "", "text/html"}),
    testsupport::PrintedName());

TEST(HeaderFields, RemoveTakesContinuationLines) {
  Lines lines = kHeader;
  RemoveHeaderField(lines, "BCC");
  EXPECT_EQ(lines,
            (Lines{"From: a@b.cz", "Subject: Hello", " world", "Content-Type: multipart/mixed;",
                   "\tboundary=\"Mark=_1\"", "", "body: not a field"}));
  RemoveHeaderField(lines, "body");
  EXPECT_EQ(lines.back(), "body: not a field");
}

struct RemoveRow {
  Lines lines;
  int startFrom;
  Lines want;
};
void PrintTo(const RemoveRow& r, std::ostream* os) {
  *os << testing::PrintToString(r.lines) << " from " << r.startFrom;
}

class HeaderRemove : public testing::TestWithParam<RemoveRow> {};
TEST_P(HeaderRemove, DropsEveryFieldOfTheName) {
  Lines lines = GetParam().lines;
  RemoveHeaderField(lines, "x-drop", GetParam().startFrom);
  EXPECT_EQ(lines, GetParam().want);
}
INSTANTIATE_TEST_SUITE_P(
    All, HeaderRemove,
    testing::Values(
        RemoveRow{{"X-Drop: 1", " c", "A: 1", "x-drop : 2", "\tc", "\tc", "B: 2", "", "X-Drop: b"},
                  0,
                  {"A: 1", "B: 2", "", "X-Drop: b"}},
        RemoveRow{{"X-Drop: 1", "X-Drop: 2", "A: 1", " c"}, 1, {"X-Drop: 1", "A: 1", " c"}},
        RemoveRow{
            {"X-Drop: 1", "no colon", " c", "X-Dropped: 2"}, 0, {"no colon", " c", "X-Dropped: 2"}},
        RemoveRow{{"X-Drop: 1"}, 5, {"X-Drop: 1"}},
        RemoveRow{{"", "X-Drop: 1"}, 0, {"", "X-Drop: 1"}}),
    testsupport::PrintedName());

TEST(HeaderFields, InsertIfNeed) {
  Lines lines = kHeader;
  InsertHeaderFieldIfNeed(lines, "X-Mailer", "test - Kadenza");
  EXPECT_EQ(lines[7], "X-Mailer: test - Kadenza");
  EXPECT_EQ(lines[8], "");
  InsertHeaderFieldIfNeed(lines, "x-mailer", "other");
  InsertHeaderFieldIfNeed(lines, "Message-ID", "");
  EXPECT_EQ(lines.size(), kHeader.size() + 1);
  Lines noEnd{"A: 1"};
  InsertHeaderFieldIfNeed(noEnd, "B", "2");
  EXPECT_EQ(noEnd, (Lines{"A: 1", "B: 2"}));
  EXPECT_THROW(InsertHeaderFieldIfNeed(noEnd, "C", "1\r\nD: 2"), std::invalid_argument);
  EXPECT_THROW(InsertHeaderFieldIfNeed(noEnd, "C", "1\nD: 2"), std::invalid_argument);
}

}  // namespace
