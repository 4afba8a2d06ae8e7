// Runs the mime-encode example as a process: its output must match the encoder's, its
// errors must reach standard error with a non-zero exit status.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <ostream>
#include <random>
#include <sstream>
#include <string>

#include "mail/clEncoder.h"
#include "support/CaseName.h"

namespace {

using M = TclEncodeMethod;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

class Scratch {
 public:
  Scratch() : base_("/tmp/kadenza-mime-" + std::to_string(::getpid())) {}
  ~Scratch() {
    for (const char* ext : {".in", ".out", ".err"})
      std::remove((base_ + ext).c_str());
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  // Runs `feeder | mime-encode args`; the feeder reads the input file.
  Result Run(const std::string& input, const std::string& args,
             const std::string& feeder = "cat") const {
    std::ofstream(base_ + ".in", std::ios::binary) << input;
    const std::string cmd = feeder + " < " + base_ + ".in | " MIME_ENCODE " " + args + " > " +
                            base_ + ".out 2> " + base_ + ".err";
    Result r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(base_ + ".out");
    r.err = ReadFile(base_ + ".err");
    return r;
  }

 private:
  std::string base_;
};

std::string Sample() {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string s = "Line one\r\nline two with = and trailing space \r\n";
  for (int i = 0; i < 300000; ++i)
    s += static_cast<char>(i % 7 == 0 ? '\n' : byte(rng));
  return s;
}

struct CliRow {
  std::string name;
  M method;
  std::string args;
};
void PrintTo(const CliRow& r, std::ostream* os) {
  *os << r.name;
}

class MimeEncodeCli : public testing::TestWithParam<CliRow> {};

TEST_P(MimeEncodeCli, MatchesTheEncoderAndRoundTrips) {
  const Scratch scratch;
  const std::string data = Sample();
  TclEncoder e(GetParam().method);
  const Result enc = scratch.Run(data, "--method " + GetParam().args);
  ASSERT_EQ(enc.status, 0) << enc.err;
  EXPECT_EQ(enc.out, e.EncodeBytes(data));
  const Result dec = scratch.Run(enc.out, "--decode --method " + GetParam().args);
  ASSERT_EQ(dec.status, 0) << dec.err;
  EXPECT_EQ(dec.out, data);
}

INSTANTIATE_TEST_SUITE_P(All, MimeEncodeCli,
                         testing::Values(CliRow{"base64", M::cmBase64, "base64"},
                                         CliRow{"qp", M::cmQuotedPrintable, "quoted-printable"},
                                         CliRow{"uuencode", M::cmUUEncode, "uuencode"},
                                         CliRow{"7bit", M::cmNone, "7bit"},
                                         CliRow{"8bit", M::cm8Bit, "8bit"}),
                         testsupport::RowName());

TEST(MimeEncodeCliOptions, CharsPerLine) {
  const Scratch scratch;
  const Result r = scratch.Run(std::string(300, 'a'), "--method base64 --chars-per-line 100");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find("\r\n"), 100u);
}

TEST(MimeEncodeCliOptions, InputArrivingInPiecesAcrossAQuartet) {
  const Scratch scratch;
  // The first piece ends inside a quartet and inside a CR LF pair.
  const Result r =
      scratch.Run("", "--decode --method base64",
                  "(printf 'YW\\r'; sleep 0.2; printf '\\nJjYQ'; sleep 0.2; printf '=='; true)");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "abca");
}

struct ErrorRow {
  std::string name;
  std::string input;
  std::string args;
  std::string message;
};
void PrintTo(const ErrorRow& r, std::ostream* os) {
  *os << r.name;
}

class MimeEncodeCliErrors : public testing::TestWithParam<ErrorRow> {};
TEST_P(MimeEncodeCliErrors, ReportOnStandardError) {
  const Scratch scratch;
  const Result r = scratch.Run(GetParam().input, GetParam().args);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
}
INSTANTIATE_TEST_SUITE_P(
    All, MimeEncodeCliErrors,
    testing::Values(ErrorRow{"bad_base64", "YWJj*", "--decode --method base64",
                             "Wrong symbols in source stream."},
                    ErrorRow{"unknown_method", "", "--method rot13", "unknown method 'rot13'"},
                    ErrorRow{"no_method", "", "--decode", "--method is required"},
                    ErrorRow{"bad_number", "", "--method base64 --chars-per-line x",
                             "'x' is not a valid integer value"},
                    ErrorRow{"unknown_option", "", "--method base64 --fast",
                             "unknown argument '--fast'"}),
    testsupport::RowName());

}  // namespace
