#include "smtp/clReplyReader.h"

#include "smtp/clTcpClient.h"

namespace kz {

namespace {

[[noreturn]] void RaiseLineTooLong() {
  throw EclTcpClientError(std::string(kReplyLineTooLongText), kReplyLineTooLongCode);
}

}  // namespace

void TclReplyReader::Feed(std::string_view bytes) {
  if (FTooLong)
    return;
  FSplitter.Feed(bytes, [this](std::string_view line) {
    if (line.size() > kMaxReplyLineLength) {
      FTooLong = true;
      return false;
    }
    FLines.push_back(ReplyText(line));
    return true;
  });
  if (!FTooLong && FSplitter.PartialSize() > kMaxReplyLineLength)
    RaiseLineTooLong();
}

bool TclReplyReader::NextLine(std::string& line) {
  if (FLines.empty()) {
    if (FTooLong)
      RaiseLineTooLong();
    return false;
  }
  line = std::move(FLines.front());
  FLines.pop_front();
  return true;
}

void TclReplyReader::Clear() {
  FSplitter.Clear();
  FLines.clear();
  FTooLong = false;
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
