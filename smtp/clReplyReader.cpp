#include "smtp/clReplyReader.h"

#include <algorithm>

#include "smtp/clTcpClient.h"

namespace kz {

void TclReplyReader::Feed(std::string_view bytes) {
  Compact();
  FBuffer.append(bytes);
  // Only a line without its end can grow here; complete lines are checked when taken.
  const std::size_t lastEnd = FBuffer.find_last_of("\r\n");
  const std::size_t openFrom = lastEnd == std::string::npos ? FStart : lastEnd + 1;
  if (FBuffer.size() - std::max(openFrom, FStart) > kMaxReplyLineLength)
    throw EclTcpClientError(std::string(kReplyLineTooLongText), kReplyLineTooLongCode);
}

bool TclReplyReader::NextLine(std::string& line) {
  const std::size_t end = FBuffer.find_first_of("\r\n", FStart);
  if (end == std::string::npos)
    return false;
  std::size_t next = end + 1;
  if (FBuffer[end] == '\r') {
    if (next == FBuffer.size())
      return false;  // CR LF or a lone CR: the next byte decides
    if (FBuffer[next] == '\n')
      ++next;
  }
  if (end - FStart > kMaxReplyLineLength)
    throw EclTcpClientError(std::string(kReplyLineTooLongText), kReplyLineTooLongCode);
  line = ReplyText(std::string_view(FBuffer).substr(FStart, end - FStart));
  FStart = next;
  return true;
}

void TclReplyReader::Clear() {
  FBuffer.clear();
  FStart = 0;
}

void TclReplyReader::Compact() {
  if (FStart == 0)
    return;
  FBuffer.erase(0, FStart);
  FStart = 0;
}

std::string TclReplyReader::ReplyText(std::string_view bytes) {
  std::string text(bytes);
  for (char& c : text) {
    if (c == '\0')
      c = ' ';
    else if (static_cast<unsigned char>(c) > 127)
      c = '?';
  }
  return text;
}

}  // namespace kz
