#include "smtp/clSmtp.h"

#include <cstdint>
#include <optional>
#include <stdexcept>

#include "core/CodePage.h"
#include "core/LineSplitter.h"
#include "core/Store.h"
#include "core/StringUtils.h"
#include "mail/clEmailAddress.h"
#include "mail/clMailMessage.h"
#include "net/clPosixSocket.h"
#include "smtp/clReplyFraming.h"
#include "smtp/clSmtpHeader.h"

using namespace kz;

// ---- TclCustomSmtp ----

namespace {
constexpr int kStartTlsOk[] = {220};
}  // namespace

TclCustomSmtp::TclCustomSmtp() : TclCustomMail(25) {}

void TclCustomSmtp::SetUseEHLO(bool value) {
  if (kz::Store(FUseEHLO, value))
    DoChanged();
}

void TclCustomSmtp::SetMailAgent(std::string_view value) {
  if (kz::Store(FMailAgent, value))
    DoChanged();
}

void TclCustomSmtp::SetHostName(std::string_view value) {
  if (kz::Store(FHostName, value))
    DoChanged();
}

int TclCustomSmtp::ParseResponseCode(std::string_view ALine) const {
  const std::optional<TclReplyLine> line = ParseReplyLine(ALine);
  return line && line->Last ? line->Code : 0;
}

void TclCustomSmtp::CheckReplyLine(std::string_view ALine, std::string_view AFirstLine) {
  try {
    kz::CheckReplyLine(ALine, AFirstLine);
  } catch (const EclSmtpError& e) {
    EndSession(e);
  }
}

std::string TclCustomSmtp::HeloNameFor(std::string_view AHostName, std::string_view AFqdn,
                                       std::string_view ALocalIP) {
  if (!Trim(AHostName).empty())
    return std::string(AHostName);
  if (!AFqdn.empty())
    return std::string(AFqdn);
  std::string literal = AddressLiteral(ALocalIP);
  if (!literal.empty())
    return literal;
  return "[127.0.0.1]";
}

std::string TclCustomSmtp::GetHeloName() {
  if (!Trim(FHostName).empty())
    return FHostName;
  const TclNetworkStream* stream = Connection().NetworkStream();
  return HeloNameFor(FHostName, GetFullyQualifiedHostName(),
                     stream != nullptr ? std::string_view(stream->IP()) : std::string_view());
}

void TclCustomSmtp::OpenSmtp() {
  WaitResponse({220});
  // StartTls greets again after the switch.
  if (FUseEHLO) {
    SendEhlo({250, 530});
    ExplicitStartTls();
    Authorize();
  } else {
    SendHelo({250, 530});
    ExplicitStartTls();
  }
}

void TclCustomSmtp::SendEhlo(TclOkResponses AOkResponses) {
  SendCommandSync("EHLO %s", {GetHeloName()}, AOkResponses);
  ParseExtensions();
  ParseAuthMethods();
}

void TclCustomSmtp::SendHelo(TclOkResponses AOkResponses) {
  FExtensions.clear();
  FAuthMethods.clear();
  SendCommandSync("HELO %s", {GetHeloName()}, AOkResponses);
}

void TclCustomSmtp::ParseExtensions() {
  FExtensions.clear();
  const std::vector<std::string>& lines = Response();
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.find('-') == 3 || line.find(' ') == 3)
      FExtensions.push_back(line.substr(4));
  }
}

void TclCustomSmtp::ParseAuthMethods() {
  FAuthMethods.clear();
  for (const std::string& extension : FExtensions) {
    if (!StartsWith(extension, "AUTH"))
      continue;
    const std::string_view rest =
        std::string_view(extension).substr(std::min<std::size_t>(5, extension.size()));
    std::size_t pos = 0;
    while (pos < rest.size()) {
      std::size_t end = rest.find(' ', pos);
      if (end == std::string_view::npos)
        end = rest.size();
      const std::string_view word = rest.substr(pos, end - pos);
      pos = end + 1;
      if (word.empty())
        continue;
      bool known = false;
      for (const std::string& method : FAuthMethods)
        known = known || EqualsNoCase(method, word);
      if (!known)
        FAuthMethods.emplace_back(word);
    }
  }
}

void TclCustomSmtp::StartTls() {
  // No keep-alive command may run inside the switch: from STARTTLS to the new greeting.
  InProgressGuard guard(FInProgress);
  SendCommand("STARTTLS");
  ReadResponse(kStartTlsOk);
  // Whatever came after the 220 was sent before the encryption starts and could be taken
  // for a reply of the protected session: end the session instead (CVE-2011-0411 class).
  if (HasUnreadData())
    EndSession(EclSmtpError(std::string(kStartTlsInjectionText), kStartTlsInjectionCode));
  FExtensions.clear();
  FAuthMethods.clear();
  TclCustomMail::StartTls();
  // What the server said before the switch may have been forged on the way; only the
  // greeting of the protected session tells its extensions and log-in mechanisms.
  if (FUseEHLO)
    SendEhlo({250});
  else
    SendHelo({250});
}

std::string TclCustomSmtp::EnvelopeAddress(std::string_view AFullAddress) {
  // A line break or NUL anywhere in the given text is refused too, so that the parser can
  // never quietly turn a hostile text into some other address (or the null sender).
  if (AFullAddress.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
    throw EclSmtpError(std::string(kBadAddressText), kBadAddressCode);
  const std::string address = TclEmailAddressItem(AFullAddress).Email();
  const std::string bytes = AnsiEncode(address);
  if (bytes.find_first_of(std::string_view("\r\n\0<>", 5)) != std::string::npos)
    throw EclSmtpError(std::string(kBadAddressText), kBadAddressCode);
  return address;
}

std::int64_t TclCustomSmtp::ServerSizeLimit() const {
  for (const std::string& extension : FExtensions) {
    const std::string_view text = Trim(extension);
    if (text.size() < 4 || !EqualsNoCase(text.substr(0, 4), "SIZE") ||
        (text.size() > 4 && text[4] != ' '))
      continue;
    const std::string_view number = Trim(text.substr(4));
    std::int64_t limit = 0;
    for (char c : number) {
      // A limit that is not a number (or one beyond any message) is no limit.
      if (c < '0' || c > '9' || limit > (INT64_MAX - 9) / 10)
        return 0;
      limit = limit * 10 + (c - '0');
    }
    return limit;
  }
  return -1;
}

void TclCustomSmtp::SendMailFrom(std::string_view AFrom, std::int64_t ASize) {
  const std::string address = EnvelopeAddress(AFrom);
  const std::int64_t limit = ServerSizeLimit();
  if (limit < 0 || ASize < 0) {
    SendCommandSync("MAIL FROM:<%s>", {address}, {250});
    return;
  }
  const std::string size = std::to_string(ASize);
  if (limit > 0 && ASize > limit) {
    throw EclSmtpError(FormatCommand(kMessageTooLargeText, {size, std::to_string(limit)}),
                       kMessageTooLargeCode);
  }
  SendCommandSync("MAIL FROM:<%s> SIZE=%s", {address, size}, {250});
}

void TclCustomSmtp::SendRecipients(const std::vector<std::string>& AList) {
  if (AList.empty())
    throw EclSmtpError(std::string(kEmptyRecipientsText), kEmptyRecipientsCode);
  for (const std::string& recipient : AList) {
    const std::string address = EnvelopeAddress(recipient);
    // 251 (will forward) and 252 (cannot verify, will try) accept the recipient too.
    SendCommandSync("RCPT TO:<%s>", {address}, {250, 251, 252});
  }
}

void TclCustomSmtp::SendData(const std::vector<std::string>& ALines) {
  if (ALines.empty())
    throw EclSmtpError(std::string(kEmptyDataText), kEmptyDataCode);
  // From DATA to the reply to the final dot no keep-alive command may run: it would take
  // that reply, and a refused message would count as sent.
  InProgressGuard guard(FInProgress);
  SendCommandSync("DATA", {354});
  SendMultipleLines(ALines, ".");
  WaitResponse({250});
}

void TclCustomSmtp::SendQuit() {
  SendSilentCommand("QUIT", {221});
}

void TclCustomSmtp::SendReset() {
  SendCommandSync("RSET", {250});
}

void TclCustomSmtp::SendNoop() {
  SendCommandSync("NOOP", {250});
}

void TclCustomSmtp::PrepareHeader(std::string_view AFrom, std::vector<std::string>& AHeader) {
  kz::PrepareHeaderForSend(AHeader, kXMailerText, GenerateMessageId(AFrom));
}

void TclCustomSmtp::SendMessage(std::string_view AFrom, std::vector<std::string>& ALines,
                                const std::vector<std::string>& ARecipients) {
  // No lines, no header to complete: the header steps must not turn an empty message into
  // one of two header fields, which SendData would then send.
  if (!ALines.empty())
    PrepareHeader(AFrom, ALines);
  SendMailFrom(AFrom, kz::LinesSize(ALines));
  SendRecipients(ARecipients);
  SendData(ALines);
}

void TclCustomSmtp::SetMessageIdLeft(std::string_view value) {
  if (!value.empty() && !kz::IsMessageIdLeft(value))
    throw std::invalid_argument("SetMessageIdLeft: the left side must be dot-atom text");
  if (kz::Store(FMessageIdLeft, value))
    DoChanged();
}

std::string TclCustomSmtp::GenerateMessageId(std::string_view AFrom) {
  const std::string left = FMessageIdLeft.empty() ? kz::RandomMessageIdLeft() : FMessageIdLeft;
  const std::string sender = AFrom.empty() ? std::string() : TclEmailAddressItem(AFrom).Email();
  std::string right = kz::MessageIdRight(sender, {});
  if (right.empty())
    right = GetHeloName();
  return "<" + left + "@" + right + ">";
}

// ---- TclSmtp ----

TclSmtp::~TclSmtp() {
  // The farewell needs this object whole: close here, not in the base destructor.
  try {
    Close();
  } catch (const EclError&) {
  }
}

void TclSmtp::SetMailFrom(std::string_view value) {
  if (kz::Store(FMailFrom, value))
    DoChanged();
}

void TclSmtp::SetMailToList(const std::vector<std::string>& value) {
  if (kz::Store(FMailToList, value))
    DoChanged();
}

void TclSmtp::SetMailData(const std::vector<std::string>& value) {
  if (kz::Store(FMailData, value))
    DoChanged();
}

void TclSmtp::Send(TclMailMessage* AMessage) {
  std::vector<std::string> recipients = FMailToList;
  if (AMessage == nullptr) {
    SendMessage(FMailFrom, FMailData, recipients);
    return;
  }
  std::string sender = FMailFrom;
  const std::string from = AMessage->From().FullAddress();
  if (!from.empty())
    sender = from;
  AMessage->ToList().GetEmailList(recipients, false);
  AMessage->CCList().GetEmailList(recipients, false);
  AMessage->BCCList().GetEmailList(recipients, false);
  // The message's own cached lines are completed in place, so that the header steps stay
  // with the message until it is rebuilt.
  SendMessage(sender, AMessage->MessageSourceForSend(), recipients);
}

void TclSmtp::Envelope(const std::vector<std::string>& AHeader, std::string& ASender,
                       std::vector<std::string>& ARecipients) const {
  ASender = FMailFrom;
  if (ASender.empty()) {
    const std::vector<std::string> from = kz::HeaderFieldValues(AHeader, "from");
    if (!from.empty())
      ASender = TclEmailAddressItem(from.front()).FullAddress();
  }
  ARecipients = FMailToList;
  if (ARecipients.empty()) {
    for (std::string_view field : {"to", "cc", "bcc"}) {
      for (const std::string& value : kz::HeaderFieldValues(AHeader, field)) {
        TclEmailAddressList list;
        list.SetEmailAddresses(value);
        list.GetEmailList(ARecipients, false);
      }
    }
  }
}

void TclSmtp::Send(std::vector<std::string>& AMessage) {
  std::string sender;
  std::vector<std::string> recipients;
  Envelope(AMessage, sender, recipients);
  SendMessage(sender, AMessage, recipients);
}

namespace {

// ReadHeaderLines takes the header lines (up to and including the empty line that ends
// the header) from the stream and leaves its position right after them.
std::vector<std::string> ReadHeaderLines(TStream& AMessage) {
  std::vector<std::string> header;
  LineSplitter splitter;
  char chunk[4096];
  for (std::size_t n; (n = AMessage.Read(std::span<char>(chunk, sizeof chunk))) > 0;) {
    bool ended = false;
    const std::size_t used = splitter.Feed(std::string_view(chunk, n), [&](std::string_view line) {
      header.emplace_back(line);
      ended = line.empty();
      return !ended;
    });
    if (!ended)
      continue;
    // The header ends here: give back what was read past it, and the LF of a CR LF whose
    // CR ended the chunk belongs to the header too.
    AMessage.Seek(static_cast<std::int64_t>(used) - static_cast<std::int64_t>(n),
                  SeekOrigin::Current);
    if (splitter.AfterCr()) {
      char next = 0;
      if (AMessage.Read(std::span<char>(&next, 1)) == 1 && next != '\n')
        AMessage.Seek(-1, SeekOrigin::Current);
    }
    return header;
  }
  splitter.Finish([&](std::string_view line) { header.emplace_back(line); });
  return header;
}

}  // namespace

void TclSmtp::Send(TStream& AMessage) {
  std::vector<std::string> header = ReadHeaderLines(AMessage);
  std::string sender;
  std::vector<std::string> recipients;
  Envelope(header, sender, recipients);
  PrepareHeader(sender, header);
  SendMailFrom(sender, kz::LinesSize(header) + AMessage.Remaining());
  SendRecipients(recipients);
  SendDataStream(header, AMessage);
}

void TclSmtp::SendDataStream(const std::vector<std::string>& AHeader, TStream& ABody) {
  if (AHeader.empty() && ABody.Remaining() <= 0)
    throw EclSmtpError(std::string(kEmptyDataText), kEmptyDataCode);
  InProgressGuard guard(FInProgress);
  SendCommandSync("DATA", {354});
  SendMultipleLines(AHeader, ABody, ".");
  WaitResponse({250});
}
