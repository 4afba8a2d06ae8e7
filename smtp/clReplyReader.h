// TclReplyReader cuts the bytes a line-oriented server sends into reply lines, with bounded
// memory: a line ends at CR LF, a lone LF or a lone CR (core/LineSplitter.h does the
// cutting); a line longer than kMaxReplyLineLength raises, however it arrives. Reply text
// is 7-bit: a NUL becomes a space and a byte above 127 becomes "?".
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "core/LineSplitter.h"

namespace kz {

inline constexpr std::size_t kMaxReplyLineLength = 65536;
inline constexpr int kMaxReplyLines = 1000;

class TclReplyReader {
 public:
  // Feed appends received bytes. A partial line that has grown past the limit raises
  // EclTcpClientError (-102) at once; a complete line past it raises when NextLine
  // reaches it, so the lines before it are still read.
  void Feed(std::string_view bytes);
  // NextLine takes the next complete line (without its terminator); false when none is
  // complete yet.
  bool NextLine(std::string& line);
  // HasPending: bytes were received that no line has taken yet.
  bool HasPending() const { return !FLines.empty() || FTooLong || FSplitter.PartialSize() > 0; }
  void Clear();

  // ReplyText turns reply bytes into the 7-bit text described above.
  static std::string ReplyText(std::string_view bytes);

 private:
  LineSplitter FSplitter;
  std::deque<std::string> FLines;
  // A complete line past the limit came after the lines in FLines; nothing after it is
  // read.
  bool FTooLong = false;
};

}  // namespace kz
