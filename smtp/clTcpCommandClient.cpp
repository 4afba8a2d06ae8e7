#include "smtp/clTcpCommandClient.h"

#include "core/CodePage.h"
#include "core/Store.h"
#include "core/StringUtils.h"
#include "net/clSspi.h"
#include "smtp/clDataWriter.h"

using namespace kz;

namespace {

// The largest piece one read of a reply takes from the connection: a server that floods
// cannot make a single read grow without bound.
constexpr std::int64_t kReplyChunk = 65536;

constexpr int kDataEndMarker[] = {1};

bool IsDataEndList(std::span<const int> list) {
  return list.size() == 1 && list[0] == 1;
}

// Restores the connection's per-read limit and time-out that a bounded read changed.
class ReadLimitGuard {
 public:
  ReadLimitGuard(TclTcpClientConnection& connection, int timeOut)
      : connection_(connection), savedTimeOut_(connection.TimeOut()) {
    connection_.SetBytesToProceed(kReplyChunk);
    connection_.SetTimeOut(timeOut);
  }
  ~ReadLimitGuard() {
    connection_.SetBytesToProceed(-1);
    connection_.SetTimeOut(savedTimeOut_);
  }
  ReadLimitGuard(const ReadLimitGuard&) = delete;
  ReadLimitGuard& operator=(const ReadLimitGuard&) = delete;

 private:
  TclTcpClientConnection& connection_;
  int savedTimeOut_;
};

}  // namespace

void TclTcpCommandClient::SetUserName(std::string_view value) {
  if (kz::Store(FUserName, value))
    DoChanged();
}

void TclTcpCommandClient::SetPassword(std::string_view value) {
  if (kz::Store(FPassword, value))
    DoChanged();
}

void TclTcpCommandClient::DoSendCommand(std::string_view AText) {
  if (OnSendCommand)
    OnSendCommand(this, AText);
}

void TclTcpCommandClient::DoReceiveResponse(const std::vector<std::string>& AList) {
  if (OnReceiveResponse)
    OnReceiveResponse(this, AList);
}

void TclTcpCommandClient::DoProgress(std::int64_t ABytesProceed, std::int64_t ATotalBytes) {
  if (OnProgress)
    OnProgress(this, ABytesProceed, ATotalBytes);
}

void TclTcpCommandClient::InternalOpen() {
  FReader.Clear();
  FResponse.clear();
  FLastResponseCode = 0;
  TclTcpClient::InternalOpen();
  OpenProtocol();
}

void TclTcpCommandClient::InternalClose() {
  try {
    if (Active() && !FInProgress) {
      InProgressGuard closing(FClosing);
      CloseProtocol();
    }
  } catch (...) {
    TclTcpClient::InternalClose();
    throw;
  }
  TclTcpClient::InternalClose();
}

std::string TclTcpCommandClient::FormatCommand(std::string_view AFormat,
                                               std::initializer_list<std::string_view> AArgs) {
  std::string out;
  auto arg = AArgs.begin();
  for (std::size_t i = 0; i < AFormat.size(); ++i) {
    if (AFormat[i] == '%' && i + 1 < AFormat.size() && AFormat[i + 1] == 's') {
      if (arg != AArgs.end())
        out += *arg++;
      ++i;
    } else {
      out += AFormat[i];
    }
  }
  return out;
}

bool TclTcpCommandClient::IsAcceptedCode(int ACode, std::span<const int> AOkResponses) {
  for (int ok : AOkResponses) {
    if (ok == 0)
      return false;
    if (ok == ACode)
      return true;
  }
  return false;
}

void TclTcpCommandClient::SendCommand(std::string_view ACommand) {
  WriteCommand(ACommand, false);
}

void TclTcpCommandClient::WriteCommand(std::string_view ACommand, bool ASecret) {
  // A keep-alive command must not slip in while this one is written.
  InProgressGuard guard(FInProgress);
  CheckConnected();
  // The check runs on the bytes that go out, after the code-page conversion.
  std::string bytes = AnsiEncode(ACommand);
  if (bytes.find_first_of("\r\n") != std::string::npos)
    throw EclTcpClientError(std::string(kCommandLineBreakText), kCommandLineBreakCode);
  CheckNothingUnread();
  bytes += "\r\n";
  Connection().InitProgress(0, 0);
  TMemoryStream data(std::move(bytes));
  Connection().WriteData(&data);
  if (data.Remaining() > 0)
    RaiseSocketError(Connection().IsAborted() ? ECONNABORTED : ENOTCONN);
  DoSendCommand(ASecret ? std::string("<hidden>\r\n") : std::string(ACommand) + "\r\n");
}

void TclTcpCommandClient::SendAndWait(std::string_view ACommand, TclOkResponses AOkResponses) {
  SendCommand(ACommand);
  WaitResponse(AOkResponses);
}

void TclTcpCommandClient::SendCommandSync(std::string_view ACommand,
                                          std::span<const int> AOkResponses) {
  InProgressGuard guard(FInProgress);
  SendCommand(ACommand);
  WaitResponse(AOkResponses);
}

void TclTcpCommandClient::SendCommandSync(std::string_view AFormat,
                                          std::initializer_list<std::string_view> AArgs,
                                          TclOkResponses AOkResponses) {
  SendCommandSync(FormatCommand(AFormat, AArgs), AOkResponses);
}

void TclTcpCommandClient::SendSecretCommandSync(std::string_view ACommand,
                                                TclOkResponses AOkResponses) {
  InProgressGuard guard(FInProgress);
  WriteCommand(ACommand, true);
  WaitResponse(AOkResponses);
}

void TclTcpCommandClient::SendSilentCommand(std::string_view ACommand,
                                            TclOkResponses AOkResponses) {
  try {
    SendCommandSync(ACommand, AOkResponses);
  } catch (const EclSocketError&) {
  } catch (const EclSSPIError&) {
  }
}

void TclTcpCommandClient::SendSilentCommand(std::string_view AFormat,
                                            std::initializer_list<std::string_view> AArgs,
                                            TclOkResponses AOkResponses) {
  SendSilentCommand(FormatCommand(AFormat, AArgs), AOkResponses);
}

void TclTcpCommandClient::WaitResponse(std::span<const int> AOkResponses) {
  ReadResponse(AOkResponses);
  // Lines that came with the reply's last line would be taken for the next command's
  // answer.
  if (FReader.HasPending())
    EndSession(UnsolicitedError());
}

void TclTcpCommandClient::ReadResponse(std::span<const int> AOkResponses) {
  // No keep-alive command may run between a command and its reply: it would take the
  // reply as its own.
  InProgressGuard guard(FInProgress);
  FResponse.clear();
  WaitForReply(0, AOkResponses);
  DoReceiveResponse(FResponse);
}

EclTcpClientError TclTcpCommandClient::UnsolicitedError() {
  std::string text(kUnsolicitedReplyText);
  std::string line;
  if (FReader.NextLine(line))
    text += ": \"" + line.substr(0, 80) + (line.size() > 80 ? "...\"" : "\"");
  return EclTcpClientError(text, kUnsolicitedReplyCode);
}

void TclTcpCommandClient::CheckNothingUnread() {
  // Bytes in the socket are read first: the LF of a CR LF that ended the last reply may
  // come late, and it is no line.
  if (!FReader.HasPending() && HasUnreadData())
    ReadChunk(TimeOut() < 0 ? -1 : TickCount() + TimeOut());
  if (FReader.HasPending())
    EndSession(UnsolicitedError());
}

std::string TclTcpCommandClient::ReplyText() const {
  return std::string(Trim(JoinLines(FResponse)));
}

int TclTcpCommandClient::WaitForReply(std::size_t AStart, std::span<const int> AOkResponses) {
  // The whole reply must arrive within the time-out counted from here: a server that
  // drips one byte at a time never trips the connection's inactivity time-out.
  const std::int64_t deadline = TimeOut() < 0 ? -1 : TickCount() + TimeOut();
  const bool untilDataEnd = IsDataEndList(AOkResponses);
  FLastResponseCode = 0;
  std::size_t taken = 0;
  for (;;) {
    std::string line;
    while (FReader.NextLine(line)) {
      if (!untilDataEnd && ++taken > static_cast<std::size_t>(kMaxReplyLines))
        throw EclTcpClientError(std::string(kReplyTooManyLinesText), kReplyTooManyLinesCode);
      FResponse.push_back(std::move(line));
      if (FResponse.size() <= AStart)
        continue;
      if (!untilDataEnd)
        CheckReplyLine(FResponse.back(), FResponse[AStart]);
      const int code = ParseResponseCode(FResponse.back());
      if (code == 0)
        continue;
      FLastResponseCode = code;
      if (IsAcceptedCode(code, AOkResponses))
        return static_cast<int>(FResponse.size() - 1);
      if (!untilDataEnd)
        throw EclTcpClientError(ReplyText(), code);
    }
    ReadChunk(deadline);
  }
}

void TclTcpCommandClient::ReadChunk(std::int64_t ADeadline) {
  if (!Active())
    throw EclTcpClientError(std::string(kServerClosedText), kServerClosedCode);
  int timeOut = -1;
  if (ADeadline >= 0) {
    const std::int64_t left = ADeadline - TickCount();
    if (left <= 0)
      RaiseSocketError(kTimeoutErrorText, kTimeoutErrorCode);
    timeOut = static_cast<int>(left);
  }
  TMemoryStream data;
  {
    ReadLimitGuard guard(Connection(), timeOut);
    Connection().InitProgress(0, 0);
    Connection().ReadData(&data);
  }
  FReader.Feed(data.Data());
  if (data.Size() == 0 && !Active())
    throw EclTcpClientError(std::string(kServerClosedText), kServerClosedCode);
}

bool TclTcpCommandClient::HasUnreadData() {
  if (FReader.HasPending())
    return true;
  return Connection().HasUnreadBytes();
}

void TclTcpCommandClient::ForwardProgress(std::int64_t ABytesProceed, std::int64_t ATotalBytes) {
  // Stuffed dots are not in the total; reports past it are dropped.
  if (ABytesProceed <= ATotalBytes)
    DoProgress(ABytesProceed, ATotalBytes);
}

namespace {

// Installs the progress forwarding on the connection for one block transfer.
class ProgressForwarding {
 public:
  ProgressForwarding(TclTcpClientConnection& connection, TclSocketProgressEvent handler)
      : connection_(connection) {
    connection_.OnProgress = std::move(handler);
  }
  ~ProgressForwarding() { connection_.OnProgress = nullptr; }
  ProgressForwarding(const ProgressForwarding&) = delete;
  ProgressForwarding& operator=(const ProgressForwarding&) = delete;

 private:
  TclTcpClientConnection& connection_;
};

}  // namespace

void TclTcpCommandClient::SendMultipleLines(const std::vector<std::string>& ALines,
                                            std::string_view ALinesTrailer) {
  SendBlock(ALines, nullptr, ALinesTrailer);
}

void TclTcpCommandClient::SendMultipleLines(const std::vector<std::string>& ALines, TStream& AMore,
                                            std::string_view ALinesTrailer) {
  SendBlock(ALines, &AMore, ALinesTrailer);
}

void TclTcpCommandClient::SendBlock(const std::vector<std::string>& ALines, TStream* AMore,
                                    std::string_view ALinesTrailer) {
  if (BatchSize() < 1)
    RaiseSocketError(kInvalidBatchSizeText, kInvalidBatchSizeCode);
  std::string trailer(ALinesTrailer);
  if (!trailer.empty() && trailer.back() != '\n')
    trailer += "\r\n";
  ProgressForwarding forwarding(Connection(),
                                [this](TclConnection*, std::int64_t done, std::int64_t total) {
                                  ForwardProgress(done, total);
                                });
  InProgressGuard guard(FInProgress);
  CheckConnected();
  TclDataWriter writer(Connection(), BatchSize(), trailer == ".\r\n");
  std::int64_t total = writer.Check(ALines) + static_cast<std::int64_t>(trailer.size());
  if (AMore != nullptr)
    total += writer.Check(*AMore);
  Connection().InitProgress(0, total);
  writer.Write(ALines);
  if (AMore != nullptr)
    writer.Write(*AMore);
  writer.Flush();
  if (!trailer.empty())
    writer.WriteRaw(trailer);
}

void TclTcpCommandClient::WaitMultipleLines(std::int32_t ATotalBytes) {
  ProgressForwarding forwarding(Connection(),
                                [this](TclConnection*, std::int64_t done, std::int64_t total) {
                                  ForwardProgress(done, total);
                                });
  InProgressGuard guard(FInProgress);
  if (ATotalBytes >= 1) {
    std::int64_t held = 0;
    for (const std::string& line : FResponse)
      held += static_cast<std::int64_t>(line.size()) + 2;
    Connection().InitProgress(held, ATotalBytes);
  } else {
    Connection().InitProgress(0, 0);
  }
  if (!FResponse.empty())
    FResponse.erase(FResponse.begin());
  if (FResponse.empty() || FResponse.back() != ".")
    WaitForReply(FResponse.size(), kDataEndMarker);
  for (std::string& line : FResponse) {
    if (line.size() >= 2 && line[0] == '.' && line[1] == '.')
      line.erase(0, 1);
  }
  if (!FResponse.empty())
    FResponse.pop_back();
  if (ATotalBytes > 0)
    DoProgress(ATotalBytes, ATotalBytes);
}
