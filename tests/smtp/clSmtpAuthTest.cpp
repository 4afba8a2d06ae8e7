// The log-in building blocks against published examples: MD4 (RFC 1320), HMAC-MD5
// (RFC 2104), CRAM-MD5 (RFC 2195), the NTLMv2 worked example of MS-NLMP 4.2.4, the strict
// challenge decoder, the CHALLENGE parser's bounds; plus the header steps and the TLS
// choice by port.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <ostream>
#include <regex>

#include "smtp/clAuthUtils.h"
#include "smtp/clNtlm.h"
#include "smtp/clSmtp.h"
#include "smtp/clSmtpHeader.h"
#include "smtp/clSspiAuth.h"
#include "support/CaseName.h"
#include "support/Growth.h"

using namespace kz;

namespace {

std::string Hex(std::string_view bytes) {
  static constexpr char d[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

std::string Unhex(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    if (hex[i] == ' ') {
      --i;
      continue;
    }
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

TEST(SmtpAuthUtils, Md4Rfc1320) {
  EXPECT_EQ(Hex(DigestBytes(Md4(""))), "31d6cfe0d16ae931b73c59d7e0c089c0");
  EXPECT_EQ(Hex(DigestBytes(Md4("abc"))), "a448017aaf21d8525fc10ae87aa6729d");
  EXPECT_EQ(Hex(DigestBytes(Md4("12345678901234567890123456789012345678901234567890123456789012"
                                "345678901234567890"))),
            "e33b4ddc9c38f2199c3e7b164fcc0536");
}

TEST(SmtpAuthUtils, HmacMd5AndCramMd5) {
  // RFC 2104 test case 2 and the CRAM-MD5 example of RFC 2195.
  EXPECT_EQ(HmacMd5Hex("Jefe", "what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738");
  EXPECT_EQ(HmacMd5Hex("tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>"),
            "b913a602c7eda7a495b4e6e7334d3890");
  EXPECT_EQ(Base64Encode("tim b913a602c7eda7a495b4e6e7334d3890"),
            "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");
}

struct B64Row {
  std::string text;
  bool valid;
  std::string bytes;
};

void PrintTo(const B64Row& row, std::ostream* os) {
  *os << testing::PrintToString(row.text);
}

class SmtpBase64Strict : public testing::TestWithParam<B64Row> {};

TEST_P(SmtpBase64Strict, Decodes) {
  const auto got = Base64DecodeStrict(GetParam().text);
  ASSERT_EQ(got.has_value(), GetParam().valid) << GetParam().text;
  if (got) {
    EXPECT_EQ(*got, GetParam().bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, SmtpBase64Strict,
                         testing::Values(B64Row{"", true, ""}, B64Row{"YQ==", true, "a"},
                                         B64Row{"YWI=", true, "ab"}, B64Row{"YWJj", true, "abc"},
                                         B64Row{"YQ=", false, ""}, B64Row{"YR==", false, ""},
                                         B64Row{"Y===", false, ""}, B64Row{"YQ==YWJj", false, ""},
                                         B64Row{"YW J", false, ""}, B64Row{"YWJj\r\n", false, ""},
                                         B64Row{"Y-_j", false, ""}, B64Row{"=YWJ", false, ""}),
                         testsupport::PrintedName());

// MS-NLMP 4.2.4: user "User", domain "Domain", password "Password", server challenge
// 0123456789abcdef, client challenge aa x 8, time stamp 0, target information
// NbDomainName "Domain" and NbComputerName "Server".
const std::string kExampleChallenge = Unhex(
    "4e544c4d53535000020000000c000c003800000033828ae20123456789abcdef000000000000000024002400"
    "44000000060070170000000f53006500720076006500720002000c0044006f006d00610069006e0001000c00"
    "53006500720076006500720000000000");

TEST(SmtpNtlm, Nlmp424WorkedExample) {
  EXPECT_EQ(Hex(DigestBytes(NtHash("Password"))), "a4f49c406510bdcab6824ee7c30fd852");
  const TclDigest16 key = NtowfV2("User", "Password", "Domain");
  EXPECT_EQ(Hex(DigestBytes(key)), "0c868a403bfd7a93a3001ef22ef02e3f");
  const std::string server = Unhex("0123456789abcdef");
  const std::string client(8, '\xaa');
  EXPECT_EQ(Hex(LmV2Response(key, server, client)),
            "86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa");
  const std::string info =
      Unhex("02000c0044006f006d00610069006e0001000c0053006500720076006500720000000000");
  const TclNtlmV2Result nt = NtlmV2Response(key, server, client, 0, info);
  EXPECT_EQ(Hex(nt.NtProofStr), "68cd0ab851e51c96aabc927bebef6a1c");
  EXPECT_EQ(Hex(nt.SessionBaseKey), "8de40ccadbc14a82f15cb0ad0de95ca3");
}

TEST(SmtpNtlm, ParsesTheExampleChallenge) {
  const auto c = ParseNtlmChallenge(kExampleChallenge);
  ASSERT_TRUE(c.has_value());
  EXPECT_EQ(c->Flags, 0xe28a8233u);
  EXPECT_EQ(Hex(c->ServerChallenge), "0123456789abcdef");
  EXPECT_EQ(c->TargetInfo.size(), 36u);
  EXPECT_FALSE(c->Timestamp.has_value());
}

struct ChallengeRow {
  std::string name;
  std::size_t at;  // byte to overwrite, or npos to cut the message at `value`
  std::uint32_t value;
  int width;
};

void PrintTo(const ChallengeRow& row, std::ostream* os) {
  *os << row.name;
}

class SmtpNtlmChallenge : public testing::TestWithParam<ChallengeRow> {};

TEST_P(SmtpNtlmChallenge, RefusesMalformed) {
  const ChallengeRow& row = GetParam();
  std::string m = kExampleChallenge;
  if (row.at == std::string::npos) {
    m.resize(row.value);
  } else {
    for (int i = 0; i < row.width; ++i)
      m[row.at + static_cast<std::size_t>(i)] = static_cast<char>(row.value >> (8 * i));
  }
  EXPECT_FALSE(ParseNtlmChallenge(m).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SmtpNtlmChallenge,
    testing::Values(ChallengeRow{"TargetInfoOffsetPastEnd", 44, 0x7FFFFFF0, 4},
                    ChallengeRow{"TargetInfoOffsetWrapsAround", 44, 0xFFFFFFFF, 4},
                    ChallengeRow{"TargetInfoLongerThanMessage", 40, 0x0100, 2},
                    ChallengeRow{"TargetNameOutside", 16, 0x1000, 4},
                    ChallengeRow{"AvPairLongerThanList", 70, 0xFF, 1},
                    ChallengeRow{"WrongType", 8, 3, 1}, ChallengeRow{"BadSignature", 0, 'X', 1},
                    ChallengeRow{"Truncated", std::string::npos, 31, 0},
                    ChallengeRow{"TargetInfoCutShort", std::string::npos, 100, 0}),
    [](const auto& info) { return info.param.name; });

// Our AUTHENTICATE message checked by an independent NTLM implementation: Debian's
// python3-ntlm-auth computes the NTLMv2 response from the same inputs (its MD4 needs
// OpenSSL's legacy provider, switched on for that process only).
TEST(SmtpNtlm, AuthenticateMessageMatchesNtlmAuth) {
  TclNtAuthClientSspi sspi;
  sspi.SetFixedClientChallenge(std::string(8, '\x11'));
  sspi.SetFixedTimestamp(0x01d0000000000000ULL);
  TMemoryStream buffer;
  const TclAuthIdentity identity("DOM\\J\xC3\xBCrgen",
                                 "p\xC5\x99\xC3\xADli\xC5\xA1 \xF0\x9F\x98\x80");
  ASSERT_FALSE(sspi.GenChallenge("NTLM", buffer, "server", &identity));
  EXPECT_EQ(Hex(buffer.Data()), Hex(NtlmNegotiateMessage()));
  buffer.Clear();
  buffer.Write(std::string_view(kExampleChallenge));
  buffer.SetPosition(0);
  ASSERT_TRUE(sspi.GenChallenge("NTLM", buffer, "server", &identity));

  char dir[] = "/tmp/kz-ntlm-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string base = dir;
  std::ofstream(base + "/ossl.cnf")
      << "openssl_conf = init\n[init]\nproviders = p\n[p]\ndefault = d\nlegacy = l\n"
         "[d]\nactivate = 1\n[l]\nactivate = 1\n";
  std::ofstream(base + "/auth.bin", std::ios::binary) << buffer.Data();
  std::ofstream(base + "/challenge.bin", std::ios::binary) << kExampleChallenge;
  std::ofstream(base + "/check.py") << R"(
import struct, sys
from ntlm_auth.compute_response import ComputeResponse
from ntlm_auth.messages import TargetInfo
auth = open(sys.argv[1] + '/auth.bin', 'rb').read()
chal = open(sys.argv[1] + '/challenge.bin', 'rb').read()
def field(at):
    length, _, offset = struct.unpack('<HHI', auth[at:at + 8])
    return auth[offset:offset + length]
nt = field(20)
user = field(36).decode('utf-16-le')
domain = field(28).decode('utf-16-le')
ti_len, _, ti_off = struct.unpack('<HHI', chal[40:48])
info = TargetInfo()
info.unpack(chal[ti_off:ti_off + ti_len])
timestamp = nt[24:32]
client = nt[32:40]
want, _ = ComputeResponse._get_NTLMv2_response(user, 'p\u0159\u00edli\u0161 \U0001F600', domain,
                                                chal[24:32], client, timestamp, info)
print('user', user, 'domain', domain)
sys.exit(0 if want == nt else 1)
)";
  const std::string cmd = "OPENSSL_CONF=" + base + "/ossl.cnf /usr/bin/python3 " + base +
                          "/check.py " + base + " > " + base + "/out.txt 2>&1";
  const int rc = std::system(cmd.c_str());
  std::ifstream out(base + "/out.txt");
  const std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
  EXPECT_EQ(rc, 0) << text;
  EXPECT_NE(text.find("user J\xC3\xBCrgen domain DOM"), std::string::npos) << text;
  std::system(("rm -rf " + base).c_str());
}

struct IdentityRow {
  std::string given, user, domain;
};

void PrintTo(const IdentityRow& row, std::ostream* os) {
  *os << testing::PrintToString(row.given);
}

class SmtpAuthIdentity : public testing::TestWithParam<IdentityRow> {};

TEST_P(SmtpAuthIdentity, Splits) {
  const TclAuthIdentity id(GetParam().given, "pw");
  EXPECT_EQ(id.User(), GetParam().user);
  EXPECT_EQ(id.Domain(), GetParam().domain);
  EXPECT_EQ(id.Password(), "pw");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SmtpAuthIdentity,
    testing::Values(IdentityRow{"CORP\\joe", "joe", "CORP"}, IdentityRow{"CORP/joe", "joe", "CORP"},
                    IdentityRow{"joe", "joe", ""}, IdentityRow{"a\\b/c", "b/c", "a"},
                    IdentityRow{"a/b\\c", "c", "a/b"}, IdentityRow{"\\joe", "joe", ""}),
    testsupport::PrintedName());

// ---- header steps ----

// Removing the Bcc fields of a header of many fields takes time in proportion to its size:
// ten times the fields may take at most thirty times as long (a quadratic removal would take
// a hundred times as long). A check of the shape of the cost, with generous bounds.
TEST(SmtpHeader, RemovingManyFieldsGrowsLinearly) {
  const double ratio = testsupport::GrowthRatio(
      [](std::size_t n) {
        std::vector<std::string> lines;
        lines.reserve(3 * n + 1);
        for (std::size_t i = 0; i < n; ++i) {
          lines.emplace_back("Bcc: a@x.cz");
          lines.emplace_back("\tb@x.cz");
          lines.emplace_back("X-Keep: 1");
        }
        lines.emplace_back("");
        PrepareHeaderForSend(lines, "", "");
        EXPECT_EQ(lines.size(), n + 1);
      },
      10000);
  std::cout << "PrepareHeaderForSend: tenfold input, " << ratio << " times the time\n";
  EXPECT_LT(ratio, 30.0);
}

TEST(SmtpHeader, AddsBeforeTheBlankLineAndRemovesEveryBcc) {
  std::vector<std::string> lines = {"From: a@x", "BCC: c@z",  "\td@w", "To: b@y",       "Bcc: e@v",
                                    "Bcc : f@u", "bcc\t:g@t", "",      "Bcc: body text"};
  PrepareHeaderForSend(lines, "m", "");
  PrepareHeaderForSend(lines, "other", "");
  EXPECT_EQ(lines, (std::vector<std::string>{"From: a@x", "To: b@y", "X-Mailer: m", "",
                                             "Bcc: body text"}));
  std::vector<std::string> noBody = {"Subject: s"};
  PrepareHeaderForSend(noBody, "", "<1@x>");
  EXPECT_EQ(noBody.back(), "Message-ID: <1@x>");
  EXPECT_EQ(HeaderFieldValues({"To: a@x,", " b@y", "Cc: c", "to : d"}, "TO"),
            (std::vector<std::string>{"a@x, b@y", "d"}));
}

// ---- the TLS choice by port ----

class PortProbe : public TclSmtp {
 public:
  using TclSmtp::IsStartTlsPort;
};

TEST(SmtpTlsMode, SubmissionPortTakesStartTls) {
  PortProbe smtp;
  EXPECT_EQ(smtp.Port(), 25);
  EXPECT_TRUE(smtp.IsStartTlsPort(25));
  EXPECT_TRUE(smtp.IsStartTlsPort(587));
  EXPECT_FALSE(smtp.IsStartTlsPort(465));
  EXPECT_FALSE(smtp.IsStartTlsPort(2525));
}

TEST(SmtpMessageId, IsRandomAtTheEhloNameWithoutASender) {
  TclSmtp smtp;
  smtp.SetHostName("host.example");
  const std::string a = smtp.GenerateMessageId();
  const std::string b = smtp.GenerateMessageId();
  const std::regex shape("<[0-9a-f]{32}@host\\.example>");
  EXPECT_TRUE(std::regex_match(a, shape)) << a;
  EXPECT_NE(a, b);
}

TEST(SmtpMessageId, LeftSideIsTheCallersWhenSet) {
  TclSmtp smtp;
  smtp.SetMessageIdLeft("k.1a2b");
  EXPECT_EQ(smtp.GenerateMessageId("Jana <jana@example.cz>"), "<k.1a2b@example.cz>");
  EXPECT_EQ(smtp.GenerateMessageId("Jana <jana@example.cz>"), "<k.1a2b@example.cz>");
  EXPECT_THROW(smtp.SetMessageIdLeft("a b"), std::invalid_argument);
  EXPECT_THROW(smtp.SetMessageIdLeft("a@b"), std::invalid_argument);
  EXPECT_EQ(smtp.MessageIdLeft(), "k.1a2b");
  smtp.SetMessageIdLeft("");
  EXPECT_TRUE(std::regex_match(smtp.GenerateMessageId("jana@example.cz"),
                               std::regex("<[0-9a-f]{32}@example\\.cz>")));
}

struct RightRow {
  std::string name, sender, want;
};

void PrintTo(const RightRow& row, std::ostream* os) {
  *os << row.name;
}

class SmtpMessageIdRight : public testing::TestWithParam<RightRow> {};

TEST_P(SmtpMessageIdRight, IsTheSendersDomainOrTheFallback) {
  EXPECT_EQ(kz::MessageIdRight(GetParam().sender, "[192.0.2.7]"), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SmtpMessageIdRight,
    testing::Values(RightRow{"Domain", "jana@posta.cz", "posta.cz"},
                    RightRow{"LowerCased", "jana@Posta.CZ", "posta.cz"},
                    RightRow{"TrailingDot", "jana@posta.cz.", "posta.cz"},
                    RightRow{"LastAtCounts", "\"a@b\"@posta.cz", "posta.cz"},
                    RightRow{"Ipv4Literal", "jana@[192.0.2.9]", "[192.0.2.9]"},
                    RightRow{"Ipv6Literal", "jana@[IPv6:2001:DB8::9]", "[IPv6:2001:db8::9]"},
                    RightRow{"Ipv6WithoutTag", "jana@[2001:db8::9]", "[192.0.2.7]"},
                    RightRow{"BadLiteral", "jana@[999.0.0.1]", "[192.0.2.7]"},
                    RightRow{"BareDomain", "jana@vm", "[192.0.2.7]"},
                    RightRow{"Localhost", "jana@localhost.localdomain", "[192.0.2.7]"},
                    RightRow{"NoDomain", "jana", "[192.0.2.7]"},
                    RightRow{"Empty", "", "[192.0.2.7]"},
                    RightRow{"NonAscii", "jana@po\xC5\xA1ta.cz", "[192.0.2.7]"},
                    RightRow{"AngleInDomain", "jana@a>b.cz", "[192.0.2.7]"}),
    [](const auto& info) { return info.param.name; });

struct LeftRow {
  std::string name, left;
  bool want;
};

void PrintTo(const LeftRow& row, std::ostream* os) {
  *os << row.name;
}

class SmtpMessageIdLeft : public testing::TestWithParam<LeftRow> {};

TEST_P(SmtpMessageIdLeft, IsDotAtomText) {
  EXPECT_EQ(kz::IsMessageIdLeft(GetParam().left), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SmtpMessageIdLeft,
    testing::Values(LeftRow{"Hex", "0123abcdef", true}, LeftRow{"Dots", "a.b.c", true},
                    LeftRow{"Signs", "a!#$%&'*+-/=?^_`{|}~", true}, LeftRow{"Empty", "", false},
                    LeftRow{"LeadingDot", ".a", false}, LeftRow{"TrailingDot", "a.", false},
                    LeftRow{"TwoDots", "a..b", false}, LeftRow{"At", "a@b", false},
                    LeftRow{"Angle", "a>", false}, LeftRow{"Space", "a b", false},
                    LeftRow{"CrLf", "a\r\nb", false}, LeftRow{"Quote", "\"a\"", false},
                    LeftRow{"NonAscii", "\xC5\xA1", false}),
    [](const auto& info) { return info.param.name; });

TEST(SmtpClient, SettersFireOnChangedOnlyOnChange) {
  TclSmtp smtp;
  int changed = 0;
  smtp.OnChanged = [&](TclTcpClient*) { ++changed; };
  smtp.SetPort(25);
  smtp.SetServer("");
  EXPECT_EQ(changed, 0);
  smtp.SetPort(2525);
  smtp.SetUseSasl(true);
  smtp.SetMailToList({"a@b"});
  EXPECT_EQ(changed, 3);
}

}  // namespace
