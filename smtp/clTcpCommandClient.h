// TclTcpCommandClient: a line-oriented command/response client on top of TclTcpClient. It
// sends one command line at a time, reads the server's reply lines, lets the protocol tell
// which line is final and what its code is, and checks the code against the codes the
// caller accepts. It also sends a block of text lines (a message body) in batches.
//
// Accepted-code lists: a 0 entry ends the list early; the one-entry list {1} means "keep
// reading until a line whose code is 1" (the end-of-data marker of multi-line data).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "smtp/clReplyReader.h"
#include "smtp/clTcpClient.h"

using TclOkResponses = std::initializer_list<int>;

class TclTcpCommandClient : public TclTcpClient {
 public:
  using TclTcpListEvent =
      std::function<void(TclTcpCommandClient* Sender, const std::vector<std::string>& AList)>;
  using TclTcpTextEvent = std::function<void(TclTcpCommandClient* Sender, std::string_view AText)>;
  using TclClientProgressEvent = std::function<void(
      TclTcpCommandClient* Sender, std::int64_t ABytesProceed, std::int64_t ATotalBytes)>;

  explicit TclTcpCommandClient(int ADefaultPort) : TclTcpClient(ADefaultPort) {}

  const std::vector<std::string>& Response() const { return FResponse; }
  int LastResponseCode() const { return FLastResponseCode; }
  const std::string& UserName() const { return FUserName; }
  void SetUserName(std::string_view value);
  const std::string& Password() const { return FPassword; }
  void SetPassword(std::string_view value);

  // SendCommand writes one command line and does not wait. A command whose bytes hold CR
  // or LF is refused (-104) before anything is sent. A reply line that is waiting already
  // answers no command of ours and would be taken for this one's answer: it ends the
  // session (-106) before the command goes out.
  void SendCommand(std::string_view ACommand);
  // SendCommandSync writes the line and waits for an accepted reply.
  void SendCommandSync(std::string_view ACommand, std::span<const int> AOkResponses);
  void SendCommandSync(std::string_view ACommand, TclOkResponses AOkResponses) {
    SendCommandSync(ACommand, std::span<const int>(AOkResponses.begin(), AOkResponses.size()));
  }
  // The formatted form fills each "%s" of AFormat with the next argument.
  void SendCommandSync(std::string_view AFormat, std::initializer_list<std::string_view> AArgs,
                       TclOkResponses AOkResponses);
  // SendSilentCommand is SendCommandSync that swallows transport and reply errors.
  void SendSilentCommand(std::string_view ACommand, TclOkResponses AOkResponses);
  void SendSilentCommand(std::string_view AFormat, std::initializer_list<std::string_view> AArgs,
                         TclOkResponses AOkResponses);
  // SendMultipleLines sends the lines in batches of BatchSize, then the trailer (".": the
  // lines are dot-stuffed). A CR or LF inside a line ends a line on the wire.
  void SendMultipleLines(const std::vector<std::string>& ALines, std::string_view ALinesTrailer);
  // This form sends the lines and then the lines of the text from AMore's position on,
  // read a chunk at a time: a large message body need not be held as lines.
  void SendMultipleLines(const std::vector<std::string>& ALines, TStream& AMore,
                         std::string_view ALinesTrailer);
  // WaitResponse reads one reply; an unaccepted final code raises EclTcpClientError. Data
  // behind the reply's last line answers no command: it ends the session (-106).
  virtual void WaitResponse(std::span<const int> AOkResponses);
  void WaitResponse(TclOkResponses AOkResponses) {
    WaitResponse(std::span<const int>(AOkResponses.begin(), AOkResponses.size()));
  }
  // WaitMultipleLines reads a data block ended by a line "." into Response (un-stuffed).
  virtual void WaitMultipleLines(std::int32_t ATotalBytes);

  TclTcpListEvent OnReceiveResponse;
  TclTcpTextEvent OnSendCommand;
  TclClientProgressEvent OnProgress;

  // FormatCommand fills each "%s" of AFormat with the next argument.
  static std::string FormatCommand(std::string_view AFormat,
                                   std::initializer_list<std::string_view> AArgs);
  static bool IsAcceptedCode(int ACode, std::span<const int> AOkResponses);

 protected:
  virtual void OpenProtocol() = 0;
  virtual void CloseProtocol() = 0;
  // ParseResponseCode: the code of a final reply line, 0 for any other line.
  virtual int ParseResponseCode(std::string_view ALine) const = 0;
  // CheckReplyLine is the protocol's framing check of each line of a reply, given the
  // reply's first line; a line that breaks the framing raises (and ends the session).
  virtual void CheckReplyLine(std::string_view /*ALine*/, std::string_view /*AFirstLine*/) {}
  // ReadResponse is WaitResponse without the look past the reply, for a caller that
  // judges what follows the reply itself (STARTTLS).
  void ReadResponse(std::span<const int> AOkResponses);
  // EndSession closes without the protocol farewell (the dialogue is out of step, so a
  // farewell would be read wrongly too) and raises AError.
  template <class E>
  [[noreturn]] void EndSession(const E& AError) {
    // Inside the farewell the close that is under way ends the connection.
    if (!FClosing)
      CleanUpAfterFailure();
    throw AError;
  }
  void SendAndWait(std::string_view ACommand, TclOkResponses AOkResponses);

  void InternalOpen() override;
  void InternalClose() override;

  // SendSecretCommandSync is SendCommandSync for log-in lines: OnSendCommand shows
  // "<hidden>" instead of the text.
  void SendSecretCommandSync(std::string_view ACommand, TclOkResponses AOkResponses);
  // HasUnreadData: bytes from the server are waiting that no reply has taken.
  bool HasUnreadData();
  // CheckNothingUnread ends the session (-106) when a line from the server is waiting
  // that no command asked for.
  void CheckNothingUnread();
  // ReplyText: the reply lines joined with CR LF and trimmed.
  std::string ReplyText() const;

  virtual void DoSendCommand(std::string_view AText);
  virtual void DoReceiveResponse(const std::vector<std::string>& AList);
  virtual void DoProgress(std::int64_t ABytesProceed, std::int64_t ATotalBytes);

 private:
  void WriteCommand(std::string_view ACommand, bool ASecret);
  // UnsolicitedError: -106, quoting the first waiting line when there is one.
  EclTcpClientError UnsolicitedError();
  // WaitForReply reads lines until one is accepted; returns its index.
  int WaitForReply(std::size_t AStart, std::span<const int> AOkResponses);
  // ReadChunk reads what arrives, at most one bounded chunk, before ADeadline (ms ticks;
  // negative = none).
  void ReadChunk(std::int64_t ADeadline);
  void ForwardProgress(std::int64_t ABytesProceed, std::int64_t ATotalBytes);
  void SendBlock(const std::vector<std::string>& ALines, TStream* AMore,
                 std::string_view ALinesTrailer);

  std::string FUserName;
  std::string FPassword;
  std::vector<std::string> FResponse;
  int FLastResponseCode = 0;
  kz::TclReplyReader FReader;
  bool FClosing = false;

  friend class TclDataWriter;
};
