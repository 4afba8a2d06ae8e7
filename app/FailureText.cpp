#include "app/FailureText.h"

#include <cerrno>
#include <cstdio>
#include <typeinfo>

#include "core/DateTime.h"
#include "core/Error.h"
#include "core/StringUtils.h"
#include "net/clCertificate.h"
#include "net/clSocketError.h"
#include "net/clSspi.h"
#include "smtp/clSmtp.h"
#include "smtp/clSmtpError.h"

namespace failure {
namespace {

std::string Quoted(std::string_view s) {
  return "„" + std::string(s) + "“";
}

std::string DateText(TDateTime value) {
  const kz::DateTimeParts p = kz::DecodeDateTime(value);
  char text[16];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d", p.Day, p.Month, p.Year);
  return text;
}

// The argument between the angle brackets of "MAIL FROM: <a>" or "RCPT TO: <a>".
std::string AngleArgument(std::string_view command) {
  const std::size_t open = command.find('<');
  const std::size_t close = command.rfind('>');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    return {};
  return std::string(command.substr(open + 1, close - open - 1));
}

bool IsVerb(std::string_view command, std::string_view verb) {
  return kz::StartsWith(command, verb) &&
         (command.size() == verb.size() || command[verb.size()] == ' ' ||
          command[verb.size()] == ':');
}

// Server names the server and port as a sentence starts with them.
std::string Server(const SendContext& c) {
  std::string s = "Server " + c.server;
  if (c.port >= 0)
    s += " na portu " + std::to_string(c.port);
  return s;
}

// Provider and certificate statuses are 0x8xxxxxxx held in an int; the stack's own codes
// are small negative numbers.
bool IsStatusCode(int code) {
  return code <= -0x10000;
}

bool IsCertificateStatus(int code) {
  return (static_cast<unsigned>(code) & 0xFFFF0000u) == 0x800B0000u;
}

std::string Certificate(const SendContext& c) {
  return "Certifikát serveru " + c.server;
}

std::string CertificateSentence(int code, const SendContext& c) {
  const auto& seen = c.certificate;
  if (code == kz::kCertECnNoMatch) {
    if (seen && !seen->issuedTo.empty()) {
      return Certificate(c) + " je vystaven pro název " + Quoted(seen->issuedTo) + ", ne pro " +
             Quoted(c.server) + ". Zkontrolujte název serveru: zadejte ten, pro který certifikát " +
             "platí.";
    }
    return Certificate(c) + " nepatří k názvu " + Quoted(c.server) +
           ". Zkontrolujte název serveru.";
  }
  if (code == kz::kCertEExpired) {
    std::string s = Certificate(c) + " není v době své platnosti";
    if (seen && !seen->validFrom.empty())
      s += " (platí od " + seen->validFrom + " do " + seen->validTo + ")";
    return s + ". Zkontrolujte datum a čas počítače; jsou-li správně, musí certifikát obnovit " +
           "správce serveru.";
  }
  if (code == kz::kCertEUntrustedRoot || code == kz::kCertEChaining) {
    std::string s = Certificate(c) + " nevydala důvěryhodná certifikační autorita";
    if (seen && !seen->issuedBy.empty())
      s += " (vydal jej " + Quoted(seen->issuedBy) + ")";
    return s + ". Zkontrolujte název serveru; jde-li o správný server, obraťte se na jeho správce.";
  }
  if (code == kz::kCertEWrongUsage || code == kz::kCertEPurpose || code == kz::kCertERole) {
    return Certificate(c) + " není určen k zabezpečení serveru. Zkontrolujte název serveru " +
           "a port.";
  }
  if (code == kz::kCertERevoked)
    return Certificate(c) + " byl odvolán. Obraťte se na správce serveru.";
  if (code == kz::kCertERevocationFailure) {
    return "U certifikátu serveru " + c.server +
           " nelze ověřit, zda nebyl odvolán. Zkuste to později, nebo se obraťte na správce " +
           "serveru.";
  }
  return Certificate(c) + " je neplatný nebo poškozený. Obraťte se na správce serveru.";
}

std::string TlsSentence(const SendContext& c) {
  return "Zabezpečené spojení (TLS) se serverem " + c.server +
         (c.port >= 0 ? " na portu " + std::to_string(c.port) : std::string()) +
         " se nepodařilo navázat. Zkontrolujte port: 465 je šifrovaný od začátku, 25 a 587 " +
         "přecházejí na šifrování příkazem STARTTLS.";
}

std::string SocketSentence(int code, const SendContext& c) {
  if (code == ECONNREFUSED)
    return Server(c) + " odmítl spojení. Zkontrolujte název serveru a port.";
  if (code == ENETUNREACH || code == EHOSTUNREACH || code == ENETDOWN || code == EHOSTDOWN) {
    return Server(c) + " není dosažitelný. Zkontrolujte připojení k síti, název serveru a port.";
  }
  if (code == kz::kTimeoutErrorCode || code == ETIMEDOUT) {
    return Server(c) + " neodpověděl včas. Zkontrolujte název serveru, port a připojení k síti.";
  }
  if (code > kz::kGaiErrorBase) {
    return "Název serveru " + Quoted(c.server) +
           " se nepodařilo najít. Zkontrolujte, zda je správně napsaný a zda je počítač " +
           "připojen k síti.";
  }
  if (code == kz::kInvalidAddressCode) {
    return "SMTP server " + Quoted(c.server) +
           " není platný název ani adresa. Opravte pole „smtp server“.";
  }
  if (code == kz::kInvalidPortCode) {
    return "Port " + std::to_string(c.port) +
           " není platný. Zadejte číslo portu od 1 do 65535 (obvykle 465 nebo 587).";
  }
  if (IsStatusCode(code))
    return IsCertificateStatus(code) ? CertificateSentence(code, c) : TlsSentence(c);
  if (code == ECONNRESET || code == ECONNABORTED || code == EPIPE || code == ENOTCONN ||
      code == kz::kNotActiveCode || code == kz::kServerClosedCode) {
    return Server(c) + " ukončil spojení. Zkontrolujte port a zkuste to znovu později.";
  }
  return "Spojení se serverem " + c.server +
         (c.port >= 0 ? " na portu " + std::to_string(c.port) : std::string()) +
         " se nezdařilo. Zkontrolujte název serveru, port a připojení k síti.";
}

// A reply of the server that refused the step the dialogue was in.
std::string ReplySentence(int code, const std::string& reply, const SendContext& c) {
  const std::string who = "Server " + c.server;
  const std::string_view text = reply.size() > 4 ? std::string_view(reply).substr(4) : "";
  const bool tooLarge = code == 552 || kz::StartsWith(text, "5.3.4");
  switch (c.step) {
    case Step::kStartTls:
      return TlsSentence(c);
    case Step::kLogIn:
      return who + " odmítl přihlášení uživatele " + Quoted(c.user) +
             ". Zkontrolujte uživatelské jméno a heslo.";
    case Step::kSender:
      if (code == 530)
        return who + " vyžaduje přihlášení. Zkontrolujte uživatelské jméno a heslo.";
      return who + " odmítl adresu odesílatele " + Quoted(c.address) +
             ". Zkontrolujte uživatelské jméno a váš email: server obvykle přijímá jen adresu " +
             "vašeho účtu.";
    case Step::kRecipient:
      return who + " odmítl příjemce " + Quoted(c.address) +
             ". Zkontrolujte jeho adresu v seznamu příjemců.";
    case Step::kData:
      if (tooLarge) {
        return who + " odmítl zprávu, protože je příliš velká. Zmenšete nebo odeberte " +
               "přílohy.";
      }
      return who + " odmítl zprávu. Zkontrolujte text a přílohy zprávy.";
    case Step::kConnect:
    case Step::kHello:
      break;
  }
  return who + " odmítl komunikaci. Zkontrolujte název serveru a port.";
}

// The path inside the quotes of "Cannot open file \"path\": reason".
std::string FilePath(std::string_view message) {
  const std::size_t open = message.find('"');
  const std::size_t close = message.find('"', open + 1);
  if (open == std::string_view::npos || close <= open)
    return {};
  return std::string(message.substr(open + 1, close - open - 1));
}

std::string FileSentence(const EclError& e, const SendContext& c) {
  const std::string path = FilePath(e.what());
  bool attachment = c.attachments.empty();
  for (const std::string& a : c.attachments)
    attachment = attachment || a == path;
  const std::string thing = attachment ? "Příloha " : "Soubor ";
  const std::string what = (attachment ? "přílohu " : "soubor ") + Quoted(path);
  switch (e.ErrorCode) {
    case ENOENT:
    case ENOTDIR:
      return thing + Quoted(path) + " neexistuje. Zkontrolujte cestu k " +
             (attachment ? "příloze, nebo ji vyberte znovu." : "souboru.");
    case EACCES:
    case EPERM:
      return "Nemáte oprávnění číst " + what + ". Zkontrolujte práva k souboru.";
    case EISDIR:
      return thing + Quoted(path) + " je složka, ne soubor. Vyberte soubor.";
    case EINVAL:
      return thing + Quoted(path) + " není obyčejný soubor (složku, rouru ani zařízení nelze " +
             "přiložit). Vyberte soubor.";
    default:
      return "Nelze přečíst " + what + ". Zkontrolujte cestu a soubor.";
  }
}

// The file errors of core's streams and of the attachment check, in English or in Czech.
bool IsFileError(const EclError& e) {
  const std::string_view m = e.what();
  return kz::StartsWith(m, "Cannot open file \"") || kz::StartsWith(m, "Cannot read file \"") ||
         kz::StartsWith(m, "Nelze číst soubor \"") ||
         (kz::StartsWith(m, "\"") && m.find("\" není obyčejný soubor") != std::string_view::npos);
}

std::string SettingsSentence(const EConvertError& e) {
  const std::string_view m = e.what();
  constexpr std::string_view kNotInteger = "' is not a valid integer value";
  if (m.size() > kNotInteger.size() + 1 && m.front() == '\'' &&
      m.substr(m.size() - kNotInteger.size()) == kNotInteger) {
    return "Port " + Quoted(m.substr(1, m.size() - kNotInteger.size() - 1)) +
           " není číslo od 0 do 65535. Opravte port v nastavení (obvykle 465 nebo 587).";
  }
  return "Uložené nastavení nelze přečíst. Otevřete nastavení, zkontrolujte pole a uložte je " +
         std::string("znovu.");
}

}  // namespace

SendWatch::SendWatch(TclSmtp& smtp)
    : smtp_(smtp), previousCommand_(smtp.OnSendCommand), previousVerify_(smtp.OnVerifyServer) {
  smtp.OnSendCommand = [this](TclTcpCommandClient* sender, std::string_view line) {
    const std::string_view text = kz::TrimRight(line);
    if (IsVerb(text, "EHLO") || IsVerb(text, "HELO")) {
      step_ = Step::kHello;
    } else if (IsVerb(text, "STARTTLS")) {
      step_ = Step::kStartTls;
    } else if (IsVerb(text, "AUTH")) {
      step_ = Step::kLogIn;
    } else if (IsVerb(text, "MAIL")) {
      step_ = Step::kSender;
      address_ = AngleArgument(text);
    } else if (IsVerb(text, "RCPT")) {
      step_ = Step::kRecipient;
      address_ = AngleArgument(text);
    } else if (IsVerb(text, "DATA")) {
      step_ = Step::kData;
    }
    if (previousCommand_)
      previousCommand_(sender, line);
  };
  smtp.OnVerifyServer = [this](void* sender, TclCertificate* certificate,
                               const std::string& statusText, int statusCode, bool& verified) {
    if (certificate) {
      certificate_ =
          CertificateSeen{certificate->IssuedTo(), certificate->IssuedBy(),
                          DateText(certificate->ValidFrom()), DateText(certificate->ValidTo())};
    }
    if (previousVerify_)
      previousVerify_(sender, certificate, statusText, statusCode, verified);
  };
}

SendWatch::~SendWatch() {
  smtp_.OnSendCommand = std::move(previousCommand_);
  smtp_.OnVerifyServer = std::move(previousVerify_);
}

SendContext SendWatch::Context(std::span<const std::string> attachments) const {
  SendContext c;
  c.server = smtp_.Server();
  c.port = smtp_.Port();
  c.user = smtp_.UserName();
  c.attachments = attachments;
  c.step = step_;
  c.address = address_;
  c.certificate = certificate_;
  return c;
}

std::string Failure::Shown() const {
  if (serverReply.empty())
    return sentence;
  return sentence + "\nOdpověď serveru: " + serverReply;
}

std::string Failure::HistoryText() const {
  if (detail.empty())
    return sentence;
  // An error of our own is already the sentence; its detail only adds the code.
  return RepeatsSentence() ? detail : sentence + " [" + detail + "]";
}

bool Failure::RepeatsSentence() const {
  return !sentence.empty() && detail.compare(0, sentence.size(), sentence) == 0;
}

std::string DetailText(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const EclError& e) {
    std::string s = e.what();
    char code[32];
    if (IsStatusCode(e.ErrorCode))
      std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(e.ErrorCode));
    else
      std::snprintf(code, sizeof code, "%d", e.ErrorCode);
    s += std::string(" (") + code + ")";
    if (const auto* sspi = dynamic_cast<const EclSSPIError*>(&e); sspi && !sspi->Detail.empty())
      s += ": " + sspi->Detail;
    return s;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "neznámá chyba";
  }
}

Failure Describe(const std::exception_ptr& error, const SendContext& context) {
  Failure f;
  if (!error)
    return f;
  f.detail = DetailText(error);
  try {
    std::rethrow_exception(error);
  } catch (const EclTcpClientError& e) {
    // A server's reply carries its code; the client's own refusals are negative.
    if (e.ErrorCode >= 200 && e.ErrorCode < 600) {
      f.serverReply = e.what();
      f.sentence = ReplySentence(e.ErrorCode, f.serverReply, context);
    } else if (e.ErrorCode == kz::kSaslUnavailableCode) {
      f.sentence = "Server " + context.server +
                   " nenabízí přihlášení s chráněným heslem (CRAM-MD5 ani NTLM). Zrušte " +
                   "zaškrtnutí „TLS/SSL“ a zkuste to znovu.";
    } else if (e.ErrorCode == kz::kInvalidChallengeCode) {
      f.sentence = "Server " + context.server + " přerušil přihlášení uživatele " +
                   Quoted(context.user) + ". Zkontrolujte uživatelské jméno a heslo.";
    } else if (e.ErrorCode == kz::kMessageTooLargeCode) {
      // The server's SIZE limit refused the message before its data went out.
      f.sentence = "Server " + context.server + " přijímá jen menší zprávy, než je tato. " +
                   "Zmenšete nebo odeberte přílohy.";
    } else if (e.ErrorCode == kz::kNoLoginMechanismCode) {
      f.sentence = "Server " + context.server + " nenabízí žádný způsob přihlášení, který " +
                   "Kadenza umí, a bez přihlášení se nic neodešle. Zkontrolujte název " +
                   "serveru, port a zaškrtnutí „TLS/SSL“.";
    } else if (e.ErrorCode == kz::kEmptyRecipientsCode) {
      f.sentence = "Seznam příjemců je prázdný. Doplňte alespoň jednoho příjemce.";
    } else if (e.ErrorCode == kz::kBadAddressCode) {
      f.sentence = "Adresa odesílatele nebo příjemce obsahuje znaky, které nelze odeslat. " +
                   std::string("Opravte seznam příjemců a uživatelské jméno.");
    } else if (e.ErrorCode == kz::kStartTlsInjectionCode) {
      f.sentence = TlsSentence(context);
    } else {
      f.sentence = SocketSentence(e.ErrorCode, context);
    }
  } catch (const EclSocketError& e) {
    f.sentence = SocketSentence(e.ErrorCode, context);
  } catch (const EclSSPIError& e) {
    f.sentence = IsCertificateStatus(e.ErrorCode) ? CertificateSentence(e.ErrorCode, context)
                                                  : TlsSentence(context);
  } catch (const EConvertError& e) {
    f.sentence = SettingsSentence(e);
  } catch (const EclError& e) {
    if (IsFileError(e)) {
      f.sentence = FileSentence(e, context);
    } else if (typeid(e) == typeid(EclError)) {
      // The application's own refusals are Czech already and name the field.
      f.sentence = e.what();
      if (e.ErrorCode == 0)
        f.detail.clear();
    } else {
      f.sentence = "Zprávu nelze sestavit. Zkontrolujte text a přílohy zprávy.";
    }
  } catch (const std::exception&) {
    f.sentence = "Odeslání se nezdařilo. Podrobnosti jsou v historii odeslání.";
  } catch (...) {
    f.sentence = "Odeslání se nezdařilo z neznámého důvodu.";
  }
  return f;
}

}  // namespace failure
