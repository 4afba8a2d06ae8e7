// IPv4 address text, address literals and the test for a fully qualified host name.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <ostream>
#include <string>
#include <thread>

#include "NetTestPeers.h"
#include "net/clSocket.h"

namespace {

TEST(NetDottedAddress, TestFollowsTheHostAddressRules) {
  EXPECT_TRUE(kz::IsDottedAddress("192.168.1.10"));
  EXPECT_TRUE(kz::IsDottedAddress("0.0.0.0"));
  EXPECT_FALSE(kz::IsDottedAddress("255.255.255.255"));
  EXPECT_FALSE(kz::IsDottedAddress("256.1.1.1"));
  EXPECT_FALSE(kz::IsDottedAddress("localhost"));
  EXPECT_FALSE(kz::IsDottedAddress(""));
  EXPECT_FALSE(kz::IsDottedAddress("1.2.3.4 "));
}

struct LiteralRow {
  std::string name, ip, want;
};

void PrintTo(const LiteralRow& row, std::ostream* os) {
  *os << row.name;
}

class NetAddressLiteral : public testing::TestWithParam<LiteralRow> {};

TEST_P(NetAddressLiteral, Formats) {
  EXPECT_EQ(kz::AddressLiteral(GetParam().ip), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NetAddressLiteral,
    testing::Values(LiteralRow{"Ipv4", "192.0.2.7", "[192.0.2.7]"},
                    LiteralRow{"Loopback", "127.0.0.1", "[127.0.0.1]"},
                    LiteralRow{"Ipv6", "2001:db8::1", "[IPv6:2001:db8::1]"},
                    LiteralRow{"Ipv6Normalised", "2001:DB8:0:0::01", "[IPv6:2001:db8::1]"},
                    LiteralRow{"Ipv6Loopback", "::1", "[IPv6:::1]"}, LiteralRow{"Empty", "", ""},
                    LiteralRow{"HostName", "vm", ""}, LiteralRow{"Bracketed", "[192.0.2.7]", ""},
                    LiteralRow{"TrailingSpace", "192.0.2.7 ", ""}),
    [](const auto& info) { return info.param.name; });

struct FqdnRow {
  std::string name, host;
  bool want;
};

void PrintTo(const FqdnRow& row, std::ostream* os) {
  *os << row.name;
}

// Labels: n labels of 63 letters joined by dots.
std::string Labels(int n) {
  std::string name = std::string(63, 'a');
  for (int i = 1; i < n; ++i)
    name += "." + std::string(63, 'a');
  return name;
}

class NetFullyQualified : public testing::TestWithParam<FqdnRow> {};

TEST_P(NetFullyQualified, Judges) {
  EXPECT_EQ(kz::IsFullyQualifiedHostName(GetParam().host), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NetFullyQualified,
    testing::Values(
        FqdnRow{"TwoLabels", "vm.example", true}, FqdnRow{"ThreeLabels", "jana-pc.doma.cz", true},
        FqdnRow{"TrailingDot", "mail.example.org.", true},
        FqdnRow{"DigitsInside", "a1.b2.cz", true}, FqdnRow{"BareName", "vm", false},
        FqdnRow{"BareWithHyphen", "jana-pc", false}, FqdnRow{"Empty", "", false},
        FqdnRow{"Localhost", "localhost", false},
        FqdnRow{"LocalhostLocaldomain", "localhost.localdomain", false},
        FqdnRow{"UnderLocalhost", "vm.localhost", false},
        FqdnRow{"LocalhostAsInnerLabel", "localhost-x.example", true},
        FqdnRow{"DottedQuad", "192.0.2.7", false}, FqdnRow{"Underscore", "my_pc.example", false},
        FqdnRow{"EmptyLabel", "a..example", false}, FqdnRow{"LeadingDot", ".example.org", false},
        FqdnRow{"TwoTrailingDots", "a.example..", false},
        FqdnRow{"LeadingHyphen", "-a.example", false},
        FqdnRow{"TrailingHyphen", "a-.example", false}, FqdnRow{"Space", "a b.example", false},
        FqdnRow{"LabelOf63", std::string(63, 'a') + ".cz", true},
        FqdnRow{"LabelOf64", std::string(64, 'a') + ".cz", false},
        FqdnRow{"Of253", Labels(3) + "." + std::string(61, 'a'), true},
        FqdnRow{"LongerThan253", Labels(4), false}, FqdnRow{"Utf8", "po\xC5\xA1ta.cz", false}),
    [](const auto& info) { return info.param.name; });

// The machine's fully qualified name is empty or passes the same test.
TEST(NetFullyQualified, MachineNameIsEmptyOrQualified) {
  const std::string name = kz::GetFullyQualifiedHostName();
  EXPECT_TRUE(name.empty() || kz::IsFullyQualifiedHostName(name)) << name;
}

}  // namespace
