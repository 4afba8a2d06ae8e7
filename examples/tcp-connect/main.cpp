// tcp-connect [--socks4|--socks5 HOST:PORT] [--proxy-user U] [--proxy-password P]
//             [--resolve-locally] [--timeout MS] [--tls [--insecure]] HOST PORT
//
// Connects to HOST:PORT (through a SOCKS proxy when one is given), copies standard input
// to the connection and what arrives to standard output until both sides are done. With
// --tls the connection runs TLS from the first byte and the server's certificate is
// checked against the system's trust store and HOST; --insecure accepts any certificate.
// An error prints its text, the TLS library's reason when there is one, and its code (statuses
// in hexadecimal) on standard error and exits with status 1.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/StringUtils.h"
#include "net/clErrorReport.h"
#include "net/clFirewallUtils.h"
#include "net/clSocket.h"
#include "net/clSocks.h"
#include "net/clSspi.h"
#include "net/clTlsSocket.h"

namespace {

struct Options {
  std::string host;
  int port = 0;
  TclFirewallSettings proxy;
  int timeOut = 60000;
  bool tls = false;
  bool insecure = false;
};

// After the end of standard input a TLS session cannot half-close: the relay goes on
// reading until the peer closes or has been quiet this long, then closes the session.
constexpr int kTlsLingerMs = 1000;

[[noreturn]] void Usage(const std::string& problem) {
  std::cerr << "tcp-connect: " << problem << "\n"
            << "usage: tcp-connect [--socks4|--socks5 HOST:PORT] [--proxy-user U]\n"
            << "                   [--proxy-password P] [--resolve-locally] [--timeout MS]\n"
            << "                   [--tls [--insecure]] HOST PORT\n";
  std::exit(2);
}

int ParsePort(std::string_view text) {
  int port = 0;
  try {
    port = kz::ParseInt(text);
  } catch (const EclError&) {
    Usage("bad port '" + std::string(text) + "'");
  }
  if (port < 1 || port > 65535)
    Usage("port out of range: " + std::string(text));
  return port;
}

Options Parse(int argc, char** argv) {
  Options o;
  std::vector<std::string_view> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&]() -> std::string_view {
      if (i + 1 >= argc)
        Usage("missing value after " + std::string(arg));
      return argv[++i];
    };
    if (arg == "--socks4" || arg == "--socks5") {
      o.proxy.FirewallType = arg == "--socks4" ? ftSocks4 : ftSocks5;
      const std::string_view hostPort = value();
      const std::size_t colon = hostPort.rfind(':');
      if (colon == std::string_view::npos || colon == 0)
        Usage("expected HOST:PORT after " + std::string(arg));
      o.proxy.Server = hostPort.substr(0, colon);
      o.proxy.Port = ParsePort(hostPort.substr(colon + 1));
    } else if (arg == "--proxy-user") {
      o.proxy.UserName = value();
    } else if (arg == "--proxy-password") {
      o.proxy.Password = value();
    } else if (arg == "--resolve-locally") {
      o.proxy.NeedResolveIP = false;
    } else if (arg == "--timeout") {
      try {
        o.timeOut = kz::ParseInt(value());
      } catch (const EclError&) {
        Usage("bad time-out");
      }
    } else if (arg == "--tls") {
      o.tls = true;
    } else if (arg == "--insecure") {
      o.insecure = true;
    } else if (arg.starts_with("--")) {
      Usage("unknown option " + std::string(arg));
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2)
    Usage("expected HOST and PORT");
  o.host = positional[0];
  o.port = ParsePort(positional[1]);
  if (o.insecure && !o.tls)
    Usage("--insecure needs --tls");
  return o;
}

// Open chooses the stream (plain or TLS, with SOCKS around it when a proxy is given) and
// connects.
void Open(TclTcpClientConnection& c, TclHostIPResolver& resolver, const Options& o) {
  std::unique_ptr<TclNetworkStream> stream;
  if (o.tls) {
    auto tls = std::make_unique<TclTlsNetworkStream>();
    tls->SetTargetName(o.host);
    if (o.insecure) {
      tls->SetCertificateFlags({cfIgnoreCommonNameInvalid, cfIgnoreDateInvalid,
                                cfIgnoreUnknownAuthority, cfIgnoreRevocation, cfIgnoreWrongUsage});
    }
    stream = std::move(tls);
  } else {
    stream = std::make_unique<TclNetworkStream>();
  }
  if (o.proxy.Server.empty()) {
    c.SetNetworkStream(std::move(stream));
    c.Open(resolver.GetIPAddress(o.host, o.timeOut), o.port);
    return;
  }
  std::unique_ptr<TclSocksNetworkStream> socks;
  if (o.proxy.FirewallType == ftSocks4) {
    socks = std::make_unique<TclSocks4NetworkStream>(std::move(stream));
  } else {
    socks = std::make_unique<TclSocks5NetworkStream>(std::move(stream));
  }
  socks->SetTargetPort(static_cast<std::uint16_t>(o.port));
  socks->SetUserName(o.proxy.UserName);
  socks->SetPassword(o.proxy.Password);
  socks->SetTargetServer(o.proxy.NeedResolveIP ? o.host : resolver.GetIPAddress(o.host, o.timeOut));
  c.SetNetworkStream(std::move(socks));
  c.Open(resolver.GetIPAddress(o.proxy.Server, o.timeOut), o.proxy.Port);
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n <= 0)
      return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Relay copies stdin to the connection and the connection to stdout until the peer
// closes; at the end of stdin our sending side is shut down so the peer sees it (with TLS,
// the session is closed once the peer has gone quiet).
void Relay(TclTcpClientConnection& c, bool tls) {
  bool inputOpen = true;
  char buffer[8192];
  while (c.Active()) {
    pollfd fds[2] = {{inputOpen ? STDIN_FILENO : -1, POLLIN, 0}, {c.Socket(), POLLIN, 0}};
    // Decrypted bytes may already wait in the stream, where poll() cannot see them.
    const bool buffered = c.NetworkStream() != nullptr && c.NetworkStream()->HasReadData();
    const int ready = ::poll(fds, 2, buffered ? 0 : (tls && !inputOpen) ? kTlsLingerMs : -1);
    if (ready < 0)
      continue;
    if (ready == 0 && !buffered)
      return;  // TLS, input ended and the peer is quiet: the caller closes the session
    if (buffered || fds[1].revents != 0) {
      TMemoryStream in;
      c.ReadData(&in);
      if (!WriteAll(STDOUT_FILENO, in.Data()))
        return;
    }
    if (inputOpen && fds[0].revents != 0) {
      const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (n > 0) {
        TMemoryStream out(std::string(buffer, static_cast<std::size_t>(n)));
        c.WriteData(&out);
      } else {
        inputOpen = false;
        if (c.Active() && !tls)
          ::shutdown(c.Socket(), SHUT_WR);
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);
  try {
    TclHostIPResolver resolver;
    TclTcpClientConnection connection;
    connection.SetTimeOut(options.timeOut);
    Open(connection, resolver, options);
    Relay(connection, options.tls);
    connection.Close(true);
  } catch (const EclError& e) {
    std::cerr << "tcp-connect: " << kz::ErrorReport(e) << "\n";
    return 1;
  }
  return 0;
}
