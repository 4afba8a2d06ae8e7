#include "mail/clEncoder.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "core/StringUtils.h"
#include "mail/clEncoderCodecs.h"
#include "support/CaseName.h"

// The encode methods by name in the test output and the case names.
static const char* MethodText(TclEncodeMethod method) {
  const char* const names[] = {"None", "QuotedPrintable", "Base64", "UUEncode", "EightBit"};
  return names[static_cast<int>(method)];
}
static void PrintTo(TclEncodeMethod method, std::ostream* os) {
  *os << MethodText(method);
}

namespace {

std::string MethodName(const testing::TestParamInfo<TclEncodeMethod>& info) {
  return MethodText(info.param);
}

using M = TclEncodeMethod;

std::string Rep(char c, std::size_t n) {
  return std::string(n, c);
}

std::string EncodeWith(M method, std::string_view bytes, int cpl = 76, bool suppress = false) {
  TclEncoder e(method);
  e.SetCharsPerLine(cpl);
  e.SetSuppressCrlf(suppress);
  return e.EncodeBytes(bytes);
}

std::string DecodeWith(M method, std::string_view bytes) {
  return TclEncoder(method).DecodeBytes(bytes);
}

struct CodecRow {
  std::string name;
  M method;
  std::string input;
  std::string want;
  int cpl = 76;
  bool suppress = false;
};

void PrintTo(const CodecRow& r, std::ostream* os) {
  *os << r.name;
}

class EncodeTable : public testing::TestWithParam<CodecRow> {};

TEST_P(EncodeTable, Encodes) {
  const CodecRow& r = GetParam();
  EXPECT_EQ(EncodeWith(r.method, r.input, r.cpl, r.suppress), r.want);
}

INSTANTIATE_TEST_SUITE_P(
    QuotedPrintable, EncodeTable,
    testing::Values(
        CodecRow{"empty", M::cmQuotedPrintable, "", ""},
        CodecRow{"equals", M::cmQuotedPrintable, "a=b", "a=3Db"},
        CodecRow{"hundred", M::cmQuotedPrintable, Rep('x', 100),
                 Rep('x', 71) + "=\r\n" + Rep('x', 29)},
        CodecRow{"exactly_full_line_no_trailing_break", M::cmQuotedPrintable, Rep('x', 71),
                 Rep('x', 71)},
        CodecRow{"one_past", M::cmQuotedPrintable, Rep('x', 72), Rep('x', 71) + "=\r\nx"},
        CodecRow{"escape_at_limit", M::cmQuotedPrintable, Rep('x', 70) + "=y",
                 Rep('x', 70) + "=3D=\r\ny"},
        CodecRow{"hard_break", M::cmQuotedPrintable, "abc\r\ndef", "abc\r\ndef"},
        CodecRow{"hard_break_resets_line", M::cmQuotedPrintable,
                 Rep('x', 60) + "\r\n" + Rep('y', 60), Rep('x', 60) + "\r\n" + Rep('y', 60)},
        CodecRow{"lone_cr", M::cmQuotedPrintable, "a\rb", "a=0Db"},
        CodecRow{"final_cr", M::cmQuotedPrintable, "a\r", "a=0D"},
        CodecRow{"cr_cr_lf", M::cmQuotedPrintable, "a\r\r\nb", "a=0D\r\nb"},
        CodecRow{"lone_lf", M::cmQuotedPrintable, "a\nb", "a=0Ab"},
        CodecRow{"tab", M::cmQuotedPrintable, "a\tb", "a=09b"},
        CodecRow{"high_bytes", M::cmQuotedPrintable, "\xE8\x7F\xFF", "=E8=7F=FF"},
        CodecRow{"inner_space", M::cmQuotedPrintable, "a b", "a b"},
        CodecRow{"space_before_break", M::cmQuotedPrintable, "a \r\nb", "a=20\r\nb"},
        CodecRow{"space_at_end", M::cmQuotedPrintable, "a  ", "a =20"},
        CodecRow{"space_before_lone_cr", M::cmQuotedPrintable, "a \rb", "a =0Db"},
        CodecRow{"short_lines_never_hang", M::cmQuotedPrintable, "abc", "a=\r\nb=\r\nc", 4},
        CodecRow{"line_length_10", M::cmQuotedPrintable, "abcdefgh", "abcde=\r\nfgh", 10},
        CodecRow{"suppressed", M::cmQuotedPrintable, Rep('x', 100), Rep('x', 100), 76, true},
        CodecRow{"suppressed_hard_break", M::cmQuotedPrintable, "a\r\nb", "a=0D=0Ab", 76, true},
        CodecRow{"from_first_line", M::cmQuotedPrintable, "From me", "=46rom me"},
        CodecRow{"from_after_hard_break", M::cmQuotedPrintable, "a\r\nFrom b\r\nFromage",
                 "a\r\n=46rom b\r\nFromage"},
        CodecRow{"from_after_soft_break", M::cmQuotedPrintable, Rep('x', 71) + "From x",
                 Rep('x', 71) + "=\r\n=46rom x"},
        CodecRow{"from_inside_line", M::cmQuotedPrintable, "a From b", "a From b"},
        CodecRow{"from_without_space", M::cmQuotedPrintable, "From", "From"},
        CodecRow{"from_lowercase", M::cmQuotedPrintable, "from x", "from x"}),
    testsupport::RowName());

INSTANTIATE_TEST_SUITE_P(
    Base64, EncodeTable,
    testing::Values(
        CodecRow{"empty", M::cmBase64, "", ""}, CodecRow{"abc", M::cmBase64, "abc", "YWJj"},
        CodecRow{"one", M::cmBase64, "a", "YQ=="}, CodecRow{"two", M::cmBase64, "ab", "YWI="},
        CodecRow{"line_57", M::cmBase64, Rep('\0', 57), Rep('A', 76)},
        CodecRow{"line_58", M::cmBase64, Rep('\0', 58), Rep('A', 76) + "\r\nAA=="},
        CodecRow{"line_80", M::cmBase64, Rep('\0', 61), Rep('A', 80) + "\r\nAA==", 77},
        CodecRow{"below_76_is_76", M::cmBase64, Rep('\0', 58), Rep('A', 76) + "\r\nAA==", 10},
        CodecRow{"suppressed", M::cmBase64, Rep('\0', 120), Rep('A', 160), 76, true}),
    testsupport::RowName());

INSTANTIATE_TEST_SUITE_P(
    UUEncode, EncodeTable,
    testing::Values(CodecRow{"empty", M::cmUUEncode, "", ""},
                    CodecRow{"hello", M::cmUUEncode, "Hello world\n",
                             ",2&5L;&\\@=V]R;&0*\r\n`\r\n"},
                    CodecRow{"one_byte_no_padding", M::cmUUEncode, "a", "!80\r\n`\r\n"},
                    CodecRow{"zero_is_grave", M::cmUUEncode, Rep('\0', 3), "#````\r\n`\r\n"},
                    CodecRow{"two_lines", M::cmUUEncode, Rep('\0', 58),
                             "Y" + Rep('`', 76) + "\r\n!``\r\n`\r\n"},
                    CodecRow{"suppressed", M::cmUUEncode, "abc", "#86)C", 76, true},
                    CodecRow{"suppressed_records_unbroken", M::cmUUEncode, Rep('\0', 58),
                             "Y" + Rep('`', 76) + "!``", 76, true},
                    CodecRow{"count_stays_six_bit", M::cmUUEncode, Rep('\0', 64),
                             "_" + Rep('`', 84) + "\r\n!``\r\n`\r\n", 132}),
    testsupport::RowName());

INSTANTIATE_TEST_SUITE_P(PassThrough, EncodeTable,
                         testing::Values(CodecRow{"none", M::cmNone, "a\r\n\xFF\tb",
                                                  "a\r\n\xFF\tb"},
                                         CodecRow{"8bit", M::cm8Bit, Rep('x', 300), Rep('x', 300)}),
                         testsupport::RowName());

class DecodeTable : public testing::TestWithParam<CodecRow> {};

TEST_P(DecodeTable, Decodes) {
  const CodecRow& r = GetParam();
  EXPECT_EQ(DecodeWith(r.method, r.input), r.want);
}

INSTANTIATE_TEST_SUITE_P(
    QuotedPrintable, DecodeTable,
    testing::Values(CodecRow{"escape", M::cmQuotedPrintable, "a=3Db", "a=b"},
                    CodecRow{"lower_hex", M::cmQuotedPrintable, "=c3=a9", "\xC3\xA9"},
                    CodecRow{"soft_break", M::cmQuotedPrintable, "ab=\r\ncd", "abcd"},
                    CodecRow{"soft_break_lf", M::cmQuotedPrintable, "ab=\ncd", "abcd"},
                    CodecRow{"hard_break", M::cmQuotedPrintable, "ab\r\ncd", "ab\r\ncd"},
                    CodecRow{"lone_lf_is_a_break", M::cmQuotedPrintable, "ab\ncd", "ab\r\ncd"},
                    CodecRow{"lone_cr_is_a_break", M::cmQuotedPrintable, "ab\rcd", "ab\r\ncd"},
                    CodecRow{"bad_escape_kept", M::cmQuotedPrintable, "a=G1", "a=G1"},
                    CodecRow{"half_escape_kept", M::cmQuotedPrintable, "a=4\r\n", "a=4\r\n"},
                    CodecRow{"final_soft_break", M::cmQuotedPrintable, "abc=", "abc"},
                    CodecRow{"trailing_break", M::cmQuotedPrintable, "abc\r\n", "abc\r\n"}),
    testsupport::RowName());

INSTANTIATE_TEST_SUITE_P(
    Base64, DecodeTable,
    testing::Values(CodecRow{"abc", M::cmBase64, "YWJj", "abc"},
                    CodecRow{"across_lines", M::cmBase64, "YW\r\nJj\n", "abc"},
                    CodecRow{"padding", M::cmBase64, "YQ==", "a"},
                    CodecRow{"incomplete_final_quartet", M::cmBase64, "YWI", "ab"},
                    CodecRow{"single_char_carries_no_byte", M::cmBase64, "YWJjY", "abc"},
                    CodecRow{"empty", M::cmBase64, "", ""}),
    testsupport::RowName());

INSTANTIATE_TEST_SUITE_P(
    UUEncode, DecodeTable,
    testing::Values(
        CodecRow{"with_begin", M::cmUUEncode,
                 "begin 644 a.txt\r\n,2&5L;&\\@=V]R;&0*\r\n`\r\nend\r\n", "Hello world\n"},
        CodecRow{"lf_lines", M::cmUUEncode, "!80\n`\n", "a"},
        CodecRow{"padded_group", M::cmUUEncode, "!80``\r\n`\r\n", "a"},
        CodecRow{"stripped_trailing_spaces", M::cmUUEncode, "#\r\n", std::string(3, '\0')},
        CodecRow{"data_after_end_ignored", M::cmUUEncode, "!80\r\n`\r\n!80\r\n", "a"},
        CodecRow{"records_on_one_line", M::cmUUEncode, "!80!80#86)C", "aaabc"},
        CodecRow{"padded_full_group", M::cmUUEncode, "$86)C80``\r\n`\r\n", "abca"},
        CodecRow{"end_record_on_the_line", M::cmUUEncode, "!80`!80", "a"}),
    testsupport::RowName());

TEST(QuotedPrintableDecode, ManyLoneBreaks) {
  std::string in, want;
  for (int i = 0; i < 5000; ++i) {
    in += i % 3 == 0 ? "\r" : "\n";
    in += "ab=41";
    want += "\r\nabA";
  }
  EXPECT_EQ(DecodeWith(M::cmQuotedPrintable, in), want);
  EXPECT_EQ(DecodeWith(M::cmQuotedPrintable, std::string(20000, '\n')).size(), 40000u);
}

TEST(Base64Decode, WrongSymbolKeepsWhatCameBefore) {
  TMemoryStream src(std::string("YWJj YWJj")), dst;
  TclEncoder e(M::cmBase64);
  try {
    e.Decode(src, dst);
    FAIL() << "no error";
  } catch (const EclEncoderError& err) {
    EXPECT_STREQ(err.what(), "Wrong symbols in source stream.");
  }
  EXPECT_EQ(dst.Data(), "abc");
}

TEST(Encoder, MethodAboveFourIsUnsupported) {
  TclEncoder e(static_cast<M>(5));
  TMemoryStream src(std::string("abc")), dst;
  EXPECT_THROW(
      {
        try {
          e.Encode(src, dst);
        } catch (const EclEncoderError& err) {
          EXPECT_STREQ(err.what(), "Unsupported format.");
          throw;
        }
      },
      EclEncoderError);
  EXPECT_THROW(e.Decode(src, dst), EclEncoderError);
  EXPECT_EQ(dst.Size(), 0);
}

TEST(Encoder, EncodesFromThePositionAndAppends) {
  TMemoryStream src(std::string("xxabc")), dst(std::string(">"));
  src.SetPosition(2);
  dst.Seek(0, SeekOrigin::End);
  TclEncoder(M::cmBase64).Encode(src, dst);
  EXPECT_EQ(dst.Data(), ">YWJj");
}

TEST(Encoder, StringFormsUseWindows1250) {
  EXPECT_EQ(TclEncoder::Encode("abc", M::cmBase64), "YWJj");
  EXPECT_EQ(TclEncoder::Encode("\xC4\x8D", M::cmQuotedPrintable), "=E8");  // č
  EXPECT_EQ(TclEncoder::Decode("=E8", M::cmQuotedPrintable), "\xC4\x8D");
  EXPECT_EQ(TclEncoder::Encode("\xD0\x96", M::cmBase64), "Pw==");  // Ж is "?"
  EXPECT_EQ(TclEncoder::Encode("\xC4\x8D", M::cmNone), "\xC4\x8D");
  TMemoryStream dst;
  TclEncoder::Decode("YWJj", dst, M::cmBase64);
  EXPECT_EQ(dst.Data(), "abc");
}

TEST(Encoder, EncodeToStringHasNoLineBreaks) {
  const std::string text(500, 'q');
  for (M m : {M::cmBase64, M::cmQuotedPrintable, M::cmUUEncode}) {
    const std::string s = TclEncoder::EncodeToString(text + "\r\nz", m);
    EXPECT_EQ(s.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(TclEncoder::Decode(s, m), text + "\r\nz");
  }
  TMemoryStream src(std::string(200, '\x01'));
  EXPECT_EQ(TclEncoder::EncodeToString(src, M::cmBase64).find('\n'), std::string::npos);
}

struct LengthRow {
  M method;
  int requested;
  int effective;
};
void PrintTo(const LengthRow& r, std::ostream* os) {
  *os << static_cast<int>(r.method) << "_" << r.requested;
}

class EffectiveLength : public testing::TestWithParam<LengthRow> {};
TEST_P(EffectiveLength, Is) {
  EXPECT_EQ(EffectiveLineLength(GetParam().method, GetParam().requested), GetParam().effective);
}
INSTANTIATE_TEST_SUITE_P(
    All, EffectiveLength,
    testing::Values(LengthRow{M::cmQuotedPrintable, 3, 4}, LengthRow{M::cmQuotedPrintable, 76, 76},
                    LengthRow{M::cmQuotedPrintable, 500, 132}, LengthRow{M::cmBase64, 0, 76},
                    LengthRow{M::cmBase64, 75, 76}, LengthRow{M::cmBase64, 76, 76},
                    LengthRow{M::cmBase64, 77, 80}, LengthRow{M::cmBase64, 79, 80},
                    LengthRow{M::cmBase64, 81, 80}, LengthRow{M::cmBase64, 82, 84},
                    LengthRow{M::cmBase64, 101, 104}, LengthRow{M::cmUUEncode, 1, 3},
                    LengthRow{M::cmUUEncode, 200, 132}, LengthRow{M::cmNone, 0, 76},
                    LengthRow{M::cm8Bit, 5, 5}),
    testsupport::PrintedName());

struct PreferRow {
  std::string name;
  std::string text;
  M want;
  int cpl = 76;
};
void PrintTo(const PreferRow& r, std::ostream* os) {
  *os << r.name;
}

class Preferred : public testing::TestWithParam<PreferRow> {};
TEST_P(Preferred, Text) {
  TclEncoder e;
  e.SetCharsPerLine(GetParam().cpl);
  EXPECT_EQ(e.GetPreferredEncoding(std::string_view(GetParam().text)), GetParam().want);
}
INSTANTIATE_TEST_SUITE_P(
    All, Preferred,
    testing::Values(
        PreferRow{"empty", "", M::cmNone}, PreferRow{"ascii", "Hello\r\nworld", M::cmNone},
        PreferRow{"tab", "a\tb", M::cmBase64}, PreferRow{"nul", std::string(1, '\0'), M::cmBase64},
        PreferRow{"line_at_limit", std::string(76, 'x'), M::cmNone},
        PreferRow{"long_last_line", std::string(77, 'x'), M::cmQuotedPrintable},
        PreferRow{"long_first_line", std::string(77, 'x') + "\r\nab", M::cmQuotedPrintable},
        PreferRow{"raw_property_not_effective", std::string(20, 'x'), M::cmQuotedPrintable, 10},
        PreferRow{"czech", "Dobr\xC3\xBD den, pane", M::cmQuotedPrintable},
        PreferRow{"mostly_czech", "\xC5\xA1\xC4\x8D\xC5\x99", M::cmBase64},
        // Characters windows-1250 lacks count as non-ASCII, never as "?".
        PreferRow{"some_cyrillic", "Hello, \xD0\xBC\xD0\xB8\xD1\x80!", M::cmQuotedPrintable},
        PreferRow{"all_cyrillic", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", M::cmBase64},
        PreferRow{"greek", "Hi \xCE\xB1", M::cmQuotedPrintable},
        PreferRow{"emoji", "Hello \xF0\x9F\x98\x80 world", M::cmQuotedPrintable}),
    testsupport::RowName());

TEST(Preferred, StreamFormKeepsThePosition) {
  TMemoryStream s(std::string("ab\tc"));
  s.SetPosition(1);
  EXPECT_EQ(TclEncoder().GetPreferredEncoding(s), M::cmBase64);
  EXPECT_EQ(s.Position(), 1);
  s.SetPosition(3);
  EXPECT_EQ(TclEncoder().GetPreferredEncoding(s), M::cmNone);
}

TEST(Progress, EncoderReportsStartAndEnd) {
  TclEncoder e(M::cmQuotedPrintable);
  std::vector<std::pair<std::int64_t, std::int64_t>> calls;
  e.OnProgress = [&](TclEncoder* sender, std::int64_t done, std::int64_t total) {
    EXPECT_EQ(sender, &e);
    calls.emplace_back(done, total);
  };
  TMemoryStream src(std::string(100000, 'a')), dst;
  e.Encode(src, dst);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], std::make_pair(std::int64_t{0}, std::int64_t{100000}));
  EXPECT_EQ(calls[1], std::make_pair(std::int64_t{100000}, std::int64_t{100000}));
}

TEST(Progress, Base64DecoderReportsEachBatch) {
  TclEncoder e(M::cmBase64);
  e.SetBatchSize(10);
  std::vector<std::int64_t> positions;
  e.OnProgress = [&](TclEncoder*, std::int64_t done, std::int64_t total) {
    EXPECT_EQ(total, 35);
    positions.push_back(done);
  };
  TMemoryStream src(std::string(35, 'A')), dst;
  e.Decode(src, dst);
  EXPECT_EQ(positions, (std::vector<std::int64_t>{10, 20, 30, 35}));
}

// Random data with many of the bytes the codecs treat specially.
std::string RandomBytes(std::mt19937& rng, std::size_t n) {
  static constexpr char kSpecial[] = {'\r', '\n', ' ', '=', '\t', '\0', '\xFF', 'a', '_', '?'};
  std::string s(n, '\0');
  std::uniform_int_distribution<int> byte(0, 255), pick(0, 3);
  for (char& c : s) {
    c = pick(rng) == 0 ? kSpecial[static_cast<std::size_t>(byte(rng)) % sizeof kSpecial]
                       : static_cast<char>(byte(rng));
  }
  return s;
}

class RoundTrip : public testing::TestWithParam<M> {};
TEST_P(RoundTrip, RandomData) {
  std::mt19937 rng(1234);
  for (int cpl : {1, 4, 7, 40, 76, 77, 132, 1000}) {
    for (std::size_t n : {0u, 1u, 2u, 3u, 57u, 58u, 63u, 64u, 500u, 5000u}) {
      const std::string data = RandomBytes(rng, n);
      for (bool suppress : {false, true}) {
        const std::string enc = EncodeWith(GetParam(), data, cpl, suppress);
        ASSERT_EQ(DecodeWith(GetParam(), enc), data) << "cpl " << cpl << " n " << n;
      }
    }
  }
}
INSTANTIATE_TEST_SUITE_P(AllMethods, RoundTrip,
                         testing::Values(M::cmNone, M::cmQuotedPrintable, M::cmBase64,
                                         M::cmUUEncode, M::cm8Bit),
                         MethodName);

TEST(QuotedPrintable, LinesStayWithinTheLimit) {
  std::mt19937 rng(99);
  const std::string enc = EncodeWith(M::cmQuotedPrintable, RandomBytes(rng, 20000));
  for (const auto& line : kz::SplitLines(enc))
    EXPECT_LE(line.size(), 76u) << line;
}

// Streaming: any chunking of the input gives the same output.
std::string RunChunked(kz::Codec& codec, std::string_view in, std::size_t chunk) {
  std::string out;
  for (std::size_t i = 0; i < in.size(); i += chunk)
    codec.Update(in.substr(i, chunk), out);
  codec.Finish(out);
  return out;
}

class Chunking : public testing::TestWithParam<M> {};
TEST_P(Chunking, SameOutputForEveryChunkSize) {
  std::mt19937 rng(7);
  const std::string data = RandomBytes(rng, 20000);
  const std::string whole = EncodeWith(GetParam(), data);
  for (std::size_t chunk : {1u, 2u, 3u, 16u, 1024u, 4096u}) {
    auto enc = CreateEncoderCodec(GetParam(), 76, false);
    ASSERT_EQ(RunChunked(*enc, data, chunk), whole) << "encode, chunk " << chunk;
    auto dec = CreateDecoderCodec(GetParam());
    ASSERT_EQ(RunChunked(*dec, whole, chunk), data) << "decode, chunk " << chunk;
  }
}
INSTANTIATE_TEST_SUITE_P(AllMethods, Chunking,
                         testing::Values(M::cmQuotedPrintable, M::cmBase64, M::cmUUEncode),
                         MethodName);

TEST(Chunking, QuotedPrintableDecoderAcrossLoneBreaks) {
  const std::string in = "a=\r\nb\rc\nd=4\r\n=41=\n=\r";
  const std::string whole = DecodeWith(M::cmQuotedPrintable, in);
  EXPECT_EQ(whole, "ab\r\nc\r\nd=4\r\nA");
  for (std::size_t chunk = 1; chunk < in.size(); ++chunk) {
    auto dec = CreateDecoderCodec(M::cmQuotedPrintable);
    EXPECT_EQ(RunChunked(*dec, in, chunk), whole) << chunk;
  }
}

}  // namespace

namespace {

TEST(Chunking, QuotedPrintableFromCutAnywhere) {
  const std::string in = "From a\r\nFrom b\r\n" + std::string(71, 'x') + "From c\r\nFrom";
  const std::string whole = EncodeWith(M::cmQuotedPrintable, in);
  EXPECT_EQ(whole, "=46rom a\r\n=46rom b\r\n" + std::string(71, 'x') + "=\r\n=46rom c\r\nFrom");
  for (std::size_t chunk = 1; chunk < in.size(); ++chunk) {
    auto enc = CreateEncoderCodec(M::cmQuotedPrintable, 76, false);
    EXPECT_EQ(RunChunked(*enc, in, chunk), whole) << chunk;
  }
}

}  // namespace
