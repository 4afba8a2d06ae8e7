// Cross-checks against an independent implementation: Python's binascii, base64, quopri and
// email modules (Debian's /usr/bin/python3) decode what we encode, and we decode theirs.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/StringUtils.h"
#include "mail/clEmailAddress.h"
#include "mail/clEncoder.h"
#include "mail/clMailUtils.h"
#include "support/CaseName.h"

namespace {

using M = TclEncodeMethod;
using Cases = std::vector<std::string>;

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  if (bytes.empty())
    return "-";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Unhex(std::string_view hex) {
  if (hex == "-")
    return {};
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return out;
}

// A scratch folder removed with the test.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/kadenza-mail-XXXXXX";
    const char* made = mkdtemp(tmpl);
    if (made == nullptr)
      throw std::runtime_error("mkdtemp failed");
    path_ = made;
  }
  ~TempDir() {
    std::remove((path_ + "/in").c_str());
    std::remove((path_ + "/out").c_str());
    rmdir(path_.c_str());
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs one mode of the Python peer over all cases and returns its results.
Cases Python(const std::string& mode, const Cases& cases) {
  TempDir dir;
  {
    std::ofstream in(dir.path() + "/in");
    for (const auto& c : cases)
      in << Hex(c) << "\n";
  }
  const std::string cmd = "/usr/bin/python3 " MAIL_TEST_DIR "/mail_peer.py " + mode + " " +
                          dir.path() + "/in " + dir.path() + "/out";
  const int rc = std::system(cmd.c_str());
  if (rc != 0)
    throw std::runtime_error("python peer failed: " + cmd);
  std::ifstream out(dir.path() + "/out");
  Cases results;
  for (std::string line; std::getline(out, line);)
    results.push_back(Unhex(line));
  if (results.size() != cases.size())
    throw std::runtime_error("python peer lost cases");
  return results;
}

Cases BinaryCases() {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> byte(0, 255);
  Cases cases{"",
              "a",
              "ab",
              "abc",
              "a=b",
              "line one\r\nline two\r\n",
              "trailing space \r\nx ",
              "lone\rcr and lone\nlf",
              std::string(200, 'x'),
              std::string(1000, '\xFF')};
  for (std::size_t n : {1u, 57u, 58u, 100u, 3000u}) {
    std::string s(n, '\0');
    for (char& c : s)
      c = static_cast<char>(byte(rng));
    cases.push_back(s);
  }
  return cases;
}

std::string EncodeAs(M m, const std::string& data) {
  return TclEncoder(m).EncodeBytes(data);
}

struct MethodRow {
  M method;
  std::string pythonDecoder;
  std::string pythonEncoder;
};
void PrintTo(const MethodRow& r, std::ostream* os) {
  *os << r.pythonDecoder;
}

class PythonCodec : public testing::TestWithParam<MethodRow> {};

TEST_P(PythonCodec, PythonDecodesOurs) {
  const Cases data = BinaryCases();
  Cases encoded;
  for (const auto& d : data)
    encoded.push_back(EncodeAs(GetParam().method, d));
  const Cases decoded = Python(GetParam().pythonDecoder, encoded);
  for (std::size_t i = 0; i < data.size(); ++i)
    EXPECT_EQ(decoded[i], data[i]) << encoded[i];
}

TEST_P(PythonCodec, WeDecodeTheirs) {
  const Cases data = BinaryCases();
  const Cases encoded = Python(GetParam().pythonEncoder, data);
  for (std::size_t i = 0; i < data.size(); ++i) {
    EXPECT_EQ(TclEncoder(GetParam().method).DecodeBytes(encoded[i]), data[i]) << encoded[i];
  }
}

INSTANTIATE_TEST_SUITE_P(All, PythonCodec,
                         testing::Values(MethodRow{M::cmQuotedPrintable, "decode-qp",
                                                   "encode-qp-binary"},
                                         MethodRow{M::cmBase64, "decode-base64", "encode-base64"},
                                         MethodRow{M::cmUUEncode, "decode-uu", "encode-uu"}),
                         testsupport::PrintedName());

TEST(PythonQuotedPrintable, TextLineBreaksBecomeCrLf) {
  const Cases text{"first line\nsecond line with = sign\n", "čeština\nnext\n",
                   std::string(150, 'w') + "\nend"};
  const Cases encoded = Python("encode-qp-text", text);
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::string want;
    for (char c : text[i])
      want += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(TclEncoder(M::cmQuotedPrintable).DecodeBytes(encoded[i]), want);
  }
}

const Cases kSubjects{"Weekly report",
                      "Příliš žluťoučký kůň úpěl ďábelské ódy",
                      "Привет, мир",
                      "Emoji 😀 with _underscore_ and ?question? and = equals",
                      "Long " + std::string(120, 'x') + " subject",
                      "Dlouhý předmět " + std::string(60, 'a') + " a ještě čeština na konci řádku"};

std::string SubjectField(const std::string& value) {
  std::vector<std::string> lines;
  AddHeaderField(lines, "Subject", value);
  return kz::JoinLines(lines);
}

TEST(PythonHeader, PythonReadsOurEncodedWords) {
  for (M m : {M::cmNone, M::cmQuotedPrintable, M::cmBase64}) {
    Cases fields;
    for (const auto& s : kSubjects)
      fields.push_back(SubjectField(EncodeHeaderValue(s, "UTF-8", m, 76)));
    const Cases read = Python("read-subject", fields);
    for (std::size_t i = 0; i < kSubjects.size(); ++i) {
      EXPECT_EQ(read[i], kSubjects[i]) << fields[i];
    }
  }
}

// Random subjects built from pieces that stress the encoders: multi-byte characters cut
// across words, underscores, question marks, equals signs, runs of spaces.
Cases RandomSubjects() {
  static const char* const kPieces[] = {"a",          "Zz", "\u017d", "\u0159", "\u042f",
                                        "\U0001F600", " ",  "  ",     "_",      "?",
                                        "=",          ",",  "(",      ")",      "xxxxxxxxxx"};
  std::mt19937 rng(11);
  std::uniform_int_distribution<std::size_t> piece(0, std::size(kPieces) - 1), count(1, 60);
  Cases subjects;
  for (int i = 0; i < 120; ++i) {
    std::string s = "S";
    for (std::size_t k = count(rng); k > 0; --k)
      s += kPieces[piece(rng)];
    subjects.push_back(s + "E");
  }
  return subjects;
}

TEST(PythonHeader, PythonReadsRandomSubjects) {
  const Cases subjects = RandomSubjects();
  for (M m : {M::cmNone, M::cmQuotedPrintable, M::cmBase64}) {
    Cases fields;
    for (const auto& s : subjects) {
      fields.push_back(SubjectField(EncodeHeaderValue(s, "UTF-8", m, 76)));
    }
    const Cases read = Python("read-subject", fields);
    for (std::size_t i = 0; i < subjects.size(); ++i) {
      EXPECT_EQ(read[i], subjects[i]) << fields[i];
    }
  }
}

// Python reads our subjects in several charsets, and decodes each word on its own: no word
// holds part of a character, whatever the charset's byte values.
TEST(PythonHeader, EveryWordHoldsWholeCharacters) {
  const std::string czech = "Dlouhý příšerný žluťoučký kůň úpěl ďábelské ódy";
  const std::string lineEndBytes = "\xC4\x8A\xC4\x8D\xE0\xB4\x8A";  // U+010A U+010D U+0D0A
  struct Case {
    std::string text, charSet;
    M method;
  };
  std::vector<Case> cases;
  for (M m : {M::cmQuotedPrintable, M::cmBase64}) {
    cases.push_back({czech + " " + czech, "UTF-8", m});
    cases.push_back({czech + " " + czech, "iso-8859-2", m});
    cases.push_back({lineEndBytes + czech + lineEndBytes, "utf-16", m});
    cases.push_back({lineEndBytes + czech, "utf-32", m});
    cases.push_back({"\xF0\x9F\x98\x80 " + czech + " \xF0\x9F\x98\x81", "UTF-8", m});
  }
  cases.push_back({lineEndBytes + czech, "utf-16", M::cm8Bit});
  Cases fields;
  for (const Case& c : cases)
    fields.push_back(SubjectField(EncodeHeaderValue(c.text, c.charSet, c.method, 76)));
  const Cases read = Python("read-subject", fields);
  const Cases alone = Python("words-alone", fields);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(read[i], cases[i].text) << fields[i];
    EXPECT_EQ(alone[i], cases[i].text) << fields[i];
  }
}

TEST(PythonHeader, WeReadPythonsEncodedWords) {
  Cases subjects = RandomSubjects();
  subjects.insert(subjects.end(), kSubjects.begin(), kSubjects.end());
  for (const std::string mode : {"encode-header-q", "encode-header-b"}) {
    const Cases fields = Python(mode, subjects);
    for (std::size_t i = 0; i < subjects.size(); ++i) {
      const std::vector<std::string> lines = kz::SplitLines(fields[i]);
      TclHeaderFieldList list;
      GetHeaderFieldList(0, lines, list);
      EXPECT_EQ(DecodeHeaderValue(GetHeaderFieldValue(lines, list, "subject"), "utf-8"),
                subjects[i])
          << fields[i];
    }
  }
}

TEST(PythonHeader, PythonReadsOurAddresses) {
  const Cases names{"Jiří Novák",  "Plain Name",  "Ann",
                    "Иван Петров", "Smith, John", "Jiří (práce) \"Jirka\" \\ Nový, st.",
                    "J (work)",    "Smith,John",  "a@b.cz",
                    "x <y@z.cz>",  "list: a; b",  "[team]",
                    "Dr. No",      "O'Brien",     "Say \"Hi\" \\o/"};
  Cases fields;
  for (const auto& n : names) {
    const std::string full = JoinEmailAddress(n, "someone@example.com");
    std::vector<std::string> lines;
    AddHeaderField(lines, "From", EncodeHeaderAddress(full, "UTF-8", M::cmNone, 76));
    fields.push_back(kz::JoinLines(lines));
  }
  const Cases read = Python("read-from", fields);
  const Cases alone = Python("words-alone", fields);
  auto withoutSpaces = [](std::string s) {
    std::erase(s, ' ');
    return s;
  };
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (fields[i].find("?=\r\n\t=?") == std::string::npos) {
      EXPECT_EQ(read[i], names[i] + "\nsomeone@example.com") << fields[i];
      continue;
    }
    // Python (3.11) puts a space between adjacent encoded words of a display name, against
    // RFC 2047, 6.2, and so misreads its own long names too; so a name of several words is
    // compared without spaces there, and exactly word by word.
    EXPECT_EQ(withoutSpaces(read[i]), withoutSpaces(names[i] + "\nsomeone@example.com"))
        << fields[i];
    EXPECT_EQ(alone[i], names[i]) << fields[i];
  }
}

// A recipient list as the setup window hands it over, written into a To field the way the
// composer writes it, reads back in Python as exactly the recipients typed.
struct RecipientsRow {
  std::string typed;
  std::string want;  // "name|address" lines
};
void PrintTo(const RecipientsRow& r, std::ostream* os) {
  *os << testing::PrintToString(r.typed);
}

class PythonRecipients : public testing::TestWithParam<RecipientsRow> {};
TEST_P(PythonRecipients, ReadsEveryRecipient) {
  TclEmailAddressList list;
  list.SetEmailAddresses(GetParam().typed);
  std::vector<std::string> items;
  for (int i = 0; i < list.Count(); ++i)
    items.push_back(EncodeHeaderAddress(list[i].FullAddress(), "UTF-8", M::cmNone, 76));
  std::vector<std::string> lines;
  AddHeaderFieldItems(lines, "To", items, ",");
  const std::string field = kz::JoinLines(lines);
  EXPECT_EQ(Python("read-to", {field})[0], GetParam().want) << field;
}
INSTANTIATE_TEST_SUITE_P(
    All, PythonRecipients,
    testing::Values(RecipientsRow{"a@x.cz\nb@x.cz\nc@x.cz\n", "|a@x.cz\n|b@x.cz\n|c@x.cz"},
                    RecipientsRow{"Pat O'Brien <p@x.cz>, d'Artagnan <d@x.cz>\nd.o'neil@x.cz",
                                  "Pat O'Brien|p@x.cz\nd'Artagnan|d@x.cz\n|d.o'neil@x.cz"},
                    RecipientsRow{"\"Novák, Jiří\" <j@x.cz>; \"Team: all\" <t@x.cz>",
                                  "Novák, Jiří|j@x.cz\nTeam: all|t@x.cz"},
                    RecipientsRow{"'Ann' <a@x.cz>\r\n\"x@evil.cz\" <b@x.cz>",
                                  "Ann|a@x.cz\nx@evil.cz|b@x.cz"}),
    testsupport::PrintedName());

}  // namespace
