// The tcp-connect example as a user runs it: standard input to the peer, the peer's answer
// to standard output, errors with their code on standard error.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "NetTestPeers.h"
#include "TlsTestPeers.h"

namespace {

struct ShellRun {
  std::string output;
  int status = -1;
};

ShellRun Shell(const std::string& command) {
  ShellRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr)
    return run;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
    run.output.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(NetTcpConnectExample, CopiesStandardInputAndTheAnswer) {
  nettest::EchoServer echo;
  const ShellRun run = Shell("printf 'line one\\nline two\\n' | timeout 10 " TCP_CONNECT
                             " --timeout 5000 localhost " +
                             std::to_string(echo.Port()));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "line one\nline two\n");
}

TEST(NetTcpConnectExample, GoesThroughASocksProxy) {
  nettest::DantedProxy danted;
  ASSERT_TRUE(danted.Started()) << danted.Log();
  nettest::EchoServer echo;
  for (const char* version : {"--socks4", "--socks5"}) {
    const ShellRun run =
        Shell("printf 'via proxy' | timeout 10 " TCP_CONNECT " " + std::string(version) +
              " 127.0.0.1:" + std::to_string(danted.Port()) + " --resolve-locally localhost " +
              std::to_string(echo.Port()));
    EXPECT_EQ(run.status, 0) << version;
    EXPECT_EQ(run.output, "via proxy") << version;
  }
}

TEST(NetTcpConnectExample, ReportsAnErrorWithItsCode) {
  const int port = nettest::FreePort();
  const ShellRun run =
      Shell("timeout 10 " TCP_CONNECT " 127.0.0.1 " + std::to_string(port) + " </dev/null 2>&1");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "tcp-connect: Connection refused (code 111)\n");
}

TEST(NetTcpConnectExample, RefusesABadPort) {
  const ShellRun run = Shell("timeout 10 " TCP_CONNECT " 127.0.0.1 70000 </dev/null 2>/dev/null");
  EXPECT_EQ(run.status, 2);
}

// TLS from the first byte against s_server, which answers each line reversed.
struct TlsRun {
  const char* name;
  const char* cert;
  const char* host;
  const char* flags;
  int status;
  const char* output;
};

class NetTcpConnectTlsExample : public ::testing::TestWithParam<TlsRun> {};

TEST_P(NetTcpConnectTlsExample, ChecksTheServer) {
  const TlsRun& row = GetParam();
  ASSERT_TRUE(tlstest::TestCertificates::Get().Ready());
  tlstest::SServer server(row.cert, {"-rev"});
  ASSERT_NE(server.Port(), 0) << server.Log();
  const ShellRun run = Shell(
      "printf 'secure line\\n' | timeout 10 " TCP_CONNECT " --timeout 5000 " +
      std::string(row.flags) + " " + row.host + " " + std::to_string(server.Port()) + " 2>&1");
  EXPECT_EQ(run.status, row.status);
  EXPECT_EQ(run.output, row.output);
}

TEST(NetTcpConnectExample, TlsInsideASocksTunnel) {
  ASSERT_TRUE(tlstest::TestCertificates::Get().Ready());
  nettest::DantedProxy danted;
  ASSERT_TRUE(danted.Started()) << danted.Log();
  tlstest::SServer server("good", {"-rev"});
  const ShellRun run = Shell("printf 'tunnelled\\n' | timeout 10 " TCP_CONNECT
                             " --timeout 5000 --socks5 127.0.0.1:" +
                             std::to_string(danted.Port()) + " --tls localhost " +
                             std::to_string(server.Port()) + " 2>&1");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "dellennut\n");
}

INSTANTIATE_TEST_SUITE_P(
    Tls, NetTcpConnectTlsExample,
    ::testing::Values(
        TlsRun{"Trusted", "good", "localhost", "--tls", 0, "enil eruces\n"},
        TlsRun{"SelfSigned", "selfsigned", "localhost", "--tls", 1,
               "tcp-connect: A certificate chain processed correctly, but terminated in a root "
               "certificate which is not trusted by the trust provider (code 0x800B0109)\n"},
        TlsRun{"ByAddress", "good", "127.0.0.1", "--tls", 0, "enil eruces\n"},
        TlsRun{"WrongName", "otherhost", "localhost", "--tls", 1,
               "tcp-connect: The certificate's CN name does not match the passed value (code "
               "0x800B010F)\n"},
        TlsRun{"Insecure", "allwrong", "localhost", "--tls --insecure", 0, "enil eruces\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
