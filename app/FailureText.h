// FailureText: what a person reads when a send fails. Each class of failure the mail stack
// raises (told apart by exception class, ErrorCode and the dialogue step it happened in)
// becomes one Czech sentence that names the server and port, the certificate's name, the
// address or the attachment concerned and says what to check. The library's own text and
// code stay beside it as the detail, which the send history keeps. No Qt is needed here,
// so the setup window and `kadenza --send-now` describe failures alike.
#pragma once

#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/FailureKind.h"
#include "smtp/clTcpCommandClient.h"

class TclSmtp;

namespace failure {

// The dialogue step a failure happened in, as the commands sent so far tell it.
enum class Step { kConnect, kHello, kStartTls, kLogIn, kSender, kRecipient, kData };

// What the server's certificate said, when TLS got as far as the certificate check.
struct CertificateSeen {
  std::string issuedTo;  // the name it was issued for (its common name)
  std::string issuedBy;
  std::string validFrom;  // dd.mm.yyyy
  std::string validTo;
};

// What a sentence can name: the settings of the send and what the dialogue had reached.
struct SendContext {
  std::string server;
  int port = -1;  // -1: not known (the settings did not get that far)
  std::string user;
  std::span<const std::string> attachments;
  Step step = Step::kConnect;
  std::string address;  // the address of the last MAIL FROM or RCPT TO
  std::optional<CertificateSeen> certificate;
};

// SendWatch follows one SMTP component through a dialogue: the commands it sends (the
// farewell QUIT aside: it runs after a failure and says nothing about it) and the server's
// certificate. Create it before Open; it chains the handlers already set and puts them back
// when it ends, so the component's owner keeps its own.
class SendWatch {
 public:
  explicit SendWatch(TclSmtp& smtp);
  ~SendWatch();
  SendWatch(const SendWatch&) = delete;
  SendWatch& operator=(const SendWatch&) = delete;

  // Context answers the component's server, port and user with the step reached.
  SendContext Context(std::span<const std::string> attachments = {}) const;
  // Stage: once DATA has gone out the server may hold the message, so a failure without
  // its reply leaves the outcome unknown.
  retry::SendStage Stage() const {
    return step_ == Step::kData ? retry::SendStage::kAfterFinalDot
                                : retry::SendStage::kBeforeFinalDot;
  }
  // Kind: whether a failure of this dialogue may be tried again.
  retry::FailureKind Kind(const std::exception_ptr& error) const {
    return retry::ClassifyError(error, Stage());
  }

 private:
  TclSmtp& smtp_;
  TclTcpCommandClient::TclTcpTextEvent previousCommand_;
  TclVerifyPeerEvent previousVerify_;
  Step step_ = Step::kConnect;
  std::string address_;
  std::optional<CertificateSeen> certificate_;
};

struct Failure {
  std::string sentence;     // one Czech sentence: what happened and what to check
  std::string serverReply;  // the server's own words when the server refused, else empty
  std::string detail;       // the library's text and code, e.g. "Timeout error occured (-1)"

  // Shown is what a window or a terminal shows: the sentence, and the server's words on a
  // line of their own when it answered.
  std::string Shown() const;
  // HistoryText is the sentence with the detail in square brackets.
  std::string HistoryText() const;
  // RepeatsSentence: the detail is the sentence with its code behind it (an error that was
  // written in Czech for the user in the first place), so it tells nothing more.
  bool RepeatsSentence() const;
};

// Describe turns a failure of a send, a test message or a settings check into its sentence.
Failure Describe(const std::exception_ptr& error, const SendContext& context);

// DetailText is the library's text with its code: provider and certificate statuses in hex
// ("0x800B010F"), others in decimal; the TLS library's own reason follows when it gave one.
std::string DetailText(const std::exception_ptr& error);

}  // namespace failure
