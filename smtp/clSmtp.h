// The SMTP client (RFC 5321): TclCustomSmtp runs the dialogue - greeting, EHLO or HELO,
// STARTTLS (RFC 3207) with a second EHLO, log-in (RFC 4954: LOGIN, CRAM-MD5, NTLM), and per
// message MAIL FROM (with SIZE, RFC 1870, where the server offers it), RCPT TO and DATA;
// QUIT on close. TclSmtp is the component a program uses: it completes the header
// (X-Mailer, Message-ID), removes Bcc, and sends ready message lines with the sender and
// recipients it holds or finds in the header.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "smtp/clMC.h"
#include "smtp/clSmtpError.h"

class TclCustomSmtp : public TclCustomMail {
 public:
  TclCustomSmtp();

  const std::vector<std::string>& Extensions() const { return FExtensions; }
  const std::vector<std::string>& AuthMethods() const { return FAuthMethods; }
  bool UseEHLO() const { return FUseEHLO; }
  void SetUseEHLO(bool value);
  const std::string& MailAgent() const { return FMailAgent; }
  void SetMailAgent(std::string_view value);
  const std::string& HostName() const { return FHostName; }
  void SetHostName(std::string_view value);

  // StartTls sends STARTTLS, switches the connection to TLS and greets again (EHLO, or
  // HELO without UseEHLO): Extensions and AuthMethods then hold that greeting's reply
  // alone. Anything the server sent after its 220 and before the handshake ends the
  // session (-203).
  void StartTls() override;
  // MessageIdLeft: the left side of generated Message-IDs; empty (the default) means 128
  // fresh random bits for every message. A caller that must give the same message the same
  // Message-ID on every attempt sets it; it must be dot-atom text (std::invalid_argument).
  const std::string& MessageIdLeft() const { return FMessageIdLeft; }
  void SetMessageIdLeft(std::string_view value);
  // GenerateMessageId: "<left@right>", the right side the domain of AFrom's address where it
  // has a usable one, else the EHLO name; the host name, time and uptime stay private.
  virtual std::string GenerateMessageId(std::string_view AFrom);
  std::string GenerateMessageId() { return GenerateMessageId({}); }

 protected:
  int GetDefaultPort() const override { return 25; }
  // 25 and the submission port 587 (RFC 6409, RFC 8314) speak plain text first.
  bool IsStartTlsPort(int APort) const override { return APort == 25 || APort == 587; }
  int ParseResponseCode(std::string_view ALine) const override;
  // CheckReplyLine holds each reply line to the framing of smtp/clReplyFraming.h; a line
  // that breaks it ends the session (-204, -205).
  void CheckReplyLine(std::string_view ALine, std::string_view AFirstLine) override;

  virtual void OpenSmtp();
  virtual void SendMailFrom(std::string_view AFrom) { SendMailFrom(AFrom, -1); }
  // This form declares the message size (ASize bytes; negative: unknown) where the server
  // offers SIZE, and refuses a message larger than the server's limit (-204) before any
  // command goes out.
  void SendMailFrom(std::string_view AFrom, std::int64_t ASize);
  virtual void SendRecipients(const std::vector<std::string>& AList);
  virtual void SendData(const std::vector<std::string>& ALines);
  virtual void SendQuit();
  virtual void SendReset();
  virtual void SendNoop();
  virtual void SendMessage(std::string_view AFrom, std::vector<std::string>& ALines,
                           const std::vector<std::string>& ARecipients);

  // GetHeloName: the name announced in EHLO/HELO. HostName when it is not blank, else the
  // machine's fully qualified name, else the address literal of the local end of the
  // connection ("[192.0.2.7]"): strict servers refuse a bare machine name.
  std::string GetHeloName();
  // PrepareHeader applies the header steps of a send to a message's header lines.
  void PrepareHeader(std::string_view AFrom, std::vector<std::string>& AHeader);
  // HeloNameFor is that choice from its inputs; "[127.0.0.1]" when there is no local address.
  static std::string HeloNameFor(std::string_view AHostName, std::string_view AFqdn,
                                 std::string_view ALocalIP);
  void Authorize();

 private:
  void SendEhlo(TclOkResponses AOkResponses);
  void SendHelo(TclOkResponses AOkResponses);
  void ParseExtensions();
  void ParseAuthMethods();
  // ServerSizeLimit: -1 when the server does not offer SIZE, 0 when it offers it without a
  // limit, else the limit in bytes.
  std::int64_t ServerSizeLimit() const;
  std::vector<std::string_view> MechanismPreference() const;
  // EnvelopeAddress: the address part of a full address, refused (-202) when its bytes
  // hold CR, LF, NUL, "<" or ">".
  static std::string EnvelopeAddress(std::string_view AFullAddress);

  void AuthLogin();
  void AuthCramMd5();
  void AuthNtlm();
  // Challenge: the decoded text of the current 334 reply; a malformed or oversized one
  // (or an empty one when ARequired) cancels the exchange with "*" and raises -401.
  std::string Challenge(bool ARequired);
  [[noreturn]] void CancelAuthentication();

  std::vector<std::string> FExtensions;
  std::vector<std::string> FAuthMethods;
  bool FUseEHLO = true;
  std::string FMailAgent = "Varonet v 7.0";
  std::string FHostName;
  std::string FMessageIdLeft;
};

class TclSmtp : public TclCustomSmtp {
 public:
  TclSmtp() = default;
  ~TclSmtp() override;

  const std::string& MailFrom() const { return FMailFrom; }
  void SetMailFrom(std::string_view value);
  const std::vector<std::string>& MailToList() const { return FMailToList; }
  void SetMailToList(const std::vector<std::string>& value);
  const std::vector<std::string>& MailData() const { return FMailData; }
  void SetMailData(const std::vector<std::string>& value);

  // Send(lines) sends ready message text; the header steps change the caller's lines.
  // The sender is MailFrom, else the header's From; the recipients are MailToList, else
  // the header's To, Cc and Bcc.
  void Send(std::vector<std::string>& AMessage);
  // Send(stream) sends ready message text from the stream's position on, as Send(lines)
  // does for its lines, holding only the header as lines: the body is read and sent a
  // chunk at a time, so a message of any size costs little memory.
  void Send(TStream& AMessage);
  // Send(message) sends a message object's cached source lines, completing their header in
  // place (a second send keeps the Message-ID). Its From, when set, replaces MailFrom; its
  // To, Cc and Bcc are added to MailToList. With no message, MailData is sent.
  void Send(TclMailMessage* AMessage);
  // Send() is Send(MailMessage()).
  void Send() { Send(MailMessage()); }
  void Reset() { SendReset(); }
  void Noop() { SendNoop(); }

 protected:
  void SendKeepAlive() override { Noop(); }
  // SendDataStream: DATA with the header lines followed by the rest of the stream.
  void SendDataStream(const std::vector<std::string>& AHeader, TStream& ABody);
  void OpenProtocol() override { OpenSmtp(); }
  void CloseProtocol() override { SendQuit(); }

 private:
  // Envelope: the sender and recipients for ready text with this header.
  void Envelope(const std::vector<std::string>& AHeader, std::string& ASender,
                std::vector<std::string>& ARecipients) const;

  std::string FMailFrom;
  std::vector<std::string> FMailToList;
  std::vector<std::string> FMailData;
};

namespace kz {
// The X-Mailer value added to every message that has none.
inline constexpr std::string_view kXMailerText = "www.kadenza.cz - Kadenza";
}  // namespace kz
