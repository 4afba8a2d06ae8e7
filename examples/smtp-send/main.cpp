// smtp-send --server HOST [--port N] [--tls auto|none|implicit|explicit] [--user U]
//           [--password P|-] [--sasl] [--sasl-only] [--helo NAME]
//           [--socks4|--socks5 HOST:PORT] [--timeout MS] [--insecure]
//           (--message FILE [--from ADDR] [--to LIST]
//            | --from ADDR --to LIST [--cc LIST] [--bcc LIST] [--subject S] [--text FILE]
//              [--attach FILE]...)
//           [--trace] [--progress]
//
// Sends a ready message file (streamed, its lines as they are; the sender and recipients are --from
// and --to, else taken from its header) or composes a message from the options. --trace
// prints the SMTP dialogue with the log-in lines shown as "<hidden>"; --progress draws a
// progress bar on standard error. "--password -" reads the password from standard input.
// An error prints its text and code on standard error and exits with status 1.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/StringUtils.h"
#include "mail/clMailMessage.h"
#include "net/clErrorReport.h"
#include "smtp/clSmtp.h"

namespace {

struct Options {
  std::string server;
  int port = 25;
  TclClientTlsMode tls = ctAutomatic;
  std::string user, password, helo;
  bool sasl = false, saslOnly = false, insecure = false, trace = false, progress = false;
  TclFirewallSettings proxy;
  int timeOut = 60000;
  std::string messageFile, from, to, cc, bcc, subject, textFile;
  std::vector<std::string> attachments;
};

[[noreturn]] void Usage(const std::string& problem) {
  std::cerr
      << "smtp-send: " << problem << "\n"
      << "usage: smtp-send --server HOST [--port N] [--tls auto|none|implicit|explicit]\n"
      << "         [--user U] [--password P|-] [--sasl] [--sasl-only] [--helo NAME]\n"
      << "         [--socks4|--socks5 HOST:PORT] [--timeout MS] [--insecure]\n"
      << "         (--message FILE [--from ADDR] [--to LIST] | --from ADDR --to LIST\n"
      << "          [--cc LIST] [--bcc LIST] [--subject S] [--text FILE] [--attach FILE]...)\n"
      << "         [--trace] [--progress]\n";
  std::exit(2);
}

int ParseNumber(std::string_view text, int low, int high) {
  int n = 0;
  try {
    n = kz::ParseInt(text);
  } catch (const EclError&) {
    Usage("not a number: '" + std::string(text) + "'");
  }
  if (n < low || n > high)
    Usage("out of range: " + std::string(text));
  return n;
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc)
        Usage("missing value after " + std::string(arg));
      return argv[++i];
    };
    if (arg == "--server") {
      o.server = value();
    } else if (arg == "--port") {
      o.port = ParseNumber(value(), 1, 65535);
    } else if (arg == "--tls") {
      const std::string mode = value();
      if (mode == "auto")
        o.tls = ctAutomatic;
      else if (mode == "none")
        o.tls = ctNone;
      else if (mode == "implicit")
        o.tls = ctImplicit;
      else if (mode == "explicit")
        o.tls = ctExplicit;
      else
        Usage("unknown TLS mode '" + mode + "'");
    } else if (arg == "--user") {
      o.user = value();
    } else if (arg == "--password") {
      o.password = value();
      if (o.password == "-" && !std::getline(std::cin, o.password))
        Usage("no password on standard input");
    } else if (arg == "--sasl") {
      o.sasl = true;
    } else if (arg == "--sasl-only") {
      o.saslOnly = true;
    } else if (arg == "--helo") {
      o.helo = value();
    } else if (arg == "--socks4" || arg == "--socks5") {
      o.proxy.FirewallType = arg == "--socks4" ? ftSocks4 : ftSocks5;
      const std::string hostPort = value();
      const std::size_t colon = hostPort.rfind(':');
      if (colon == std::string::npos || colon == 0)
        Usage("expected HOST:PORT after " + std::string(arg));
      o.proxy.Server = hostPort.substr(0, colon);
      o.proxy.Port = ParseNumber(std::string_view(hostPort).substr(colon + 1), 1, 65535);
    } else if (arg == "--timeout") {
      o.timeOut = ParseNumber(value(), -1, 86400000);
    } else if (arg == "--insecure") {
      o.insecure = true;
    } else if (arg == "--message") {
      o.messageFile = value();
    } else if (arg == "--from") {
      o.from = value();
    } else if (arg == "--to") {
      o.to = value();
    } else if (arg == "--cc") {
      o.cc = value();
    } else if (arg == "--bcc") {
      o.bcc = value();
    } else if (arg == "--subject") {
      o.subject = value();
    } else if (arg == "--text") {
      o.textFile = value();
    } else if (arg == "--attach") {
      o.attachments.push_back(value());
    } else if (arg == "--trace") {
      o.trace = true;
    } else if (arg == "--progress") {
      o.progress = true;
    } else {
      Usage("unknown option " + std::string(arg));
    }
  }
  if (o.server.empty())
    Usage("--server is required");
  if (o.messageFile.empty()) {
    if (o.from.empty() || o.to.empty())
      Usage("without --message, --from and --to are required");
    if (o.textFile.empty() && o.attachments.empty())
      Usage("nothing to send: give --text or --attach");
  } else if (!o.cc.empty() || !o.bcc.empty() || !o.subject.empty() || !o.textFile.empty() ||
             !o.attachments.empty()) {
    Usage("--message sends a ready message; compose options do not apply");
  }
  return o;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw EclError("Cannot open " + path, 2);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> SplitList(const std::string& list) {
  TclEmailAddressList addresses;
  addresses.SetEmailAddresses(list);
  std::vector<std::string> out;
  addresses.GetEmailList(out);
  return out;
}

void Configure(TclSmtp& smtp, const Options& o) {
  smtp.SetServer(o.server);
  smtp.SetPort(o.port);
  smtp.SetUseTLS(o.tls);
  smtp.SetUserName(o.user);
  smtp.SetPassword(o.password);
  smtp.SetUseSasl(o.sasl);
  smtp.SetSaslOnly(o.saslOnly);
  smtp.SetHostName(o.helo);
  smtp.SetTimeOut(o.timeOut);
  smtp.SetBatchSize(kz::kBulkBatchSize);
  smtp.SetFirewallSettings(o.proxy);
  if (o.insecure) {
    smtp.SetCertificateFlags({cfIgnoreCommonNameInvalid, cfIgnoreDateInvalid,
                              cfIgnoreUnknownAuthority, cfIgnoreRevocation, cfIgnoreWrongUsage});
  }
  if (o.trace) {
    smtp.OnSendCommand = [](TclTcpCommandClient*, std::string_view text) {
      std::cout << "C: " << text << std::flush;
    };
    smtp.OnReceiveResponse = [](TclTcpCommandClient*, const std::vector<std::string>& lines) {
      for (const std::string& line : lines)
        std::cout << "S: " << line << "\n";
      std::cout << std::flush;
    };
  }
  if (o.progress) {
    smtp.OnProgress = [last = -1](TclTcpCommandClient*, std::int64_t done,
                                  std::int64_t total) mutable {
      if (total <= 0)
        return;
      const int percent = static_cast<int>(done * 100 / total);
      if (percent == last)
        return;
      last = percent;
      const int bar = percent / 4;
      std::fprintf(stderr, "\r[%.*s%*s] %3d%%", bar, "#########################", 25 - bar, "",
                   percent);
      if (percent >= 100)
        std::fputc('\n', stderr);
      std::fflush(stderr);
    };
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  TclSmtp smtp;
  Configure(smtp, o);
  try {
    if (!o.messageFile.empty()) {
      // The file is streamed: only its header is held as lines.
      TFileStream file(o.messageFile, TFileStream::Mode::Read);
      smtp.SetMailFrom(o.from);
      if (!o.to.empty())
        smtp.SetMailToList(SplitList(o.to));
      smtp.Open();
      smtp.Send(file);
    } else {
      TclMailMessage message;
      message.SetCharSet("UTF-8");
      message.BuildMessage(o.textFile.empty() ? std::string() : ReadText(o.textFile),
                           o.attachments);
      message.SetFrom(o.from);
      message.ToList().SetEmailAddresses(o.to);
      message.CCList().SetEmailAddresses(o.cc);
      message.BCCList().SetEmailAddresses(o.bcc);
      message.SetSubject(o.subject);
      smtp.Open();
      smtp.Send(&message);
    }
    smtp.Close();
  } catch (const EclError& e) {
    std::cerr << "smtp-send: " << kz::ErrorReport(e) << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "smtp-send: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
