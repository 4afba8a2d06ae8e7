// TclReplyReader cuts the bytes a line-oriented server sends into reply lines, with bounded
// memory: a line ends at CR LF, a lone LF or a lone CR; a line longer than
// kMaxReplyLineLength raises, however it arrives. Reply text is 7-bit: a NUL becomes a
// space and a byte above 127 becomes "?".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kz {

inline constexpr std::size_t kMaxReplyLineLength = 65536;
inline constexpr int kMaxReplyLines = 1000;

class TclReplyReader {
 public:
  // Feed appends received bytes. A partial line that has grown past the limit raises
  // EclTcpClientError (-102).
  void Feed(std::string_view bytes);
  // NextLine takes the next complete line (without its terminator); false when none is
  // complete yet. A CR at the very end of the received bytes waits for the next byte, which
  // tells whether it was a CR LF.
  bool NextLine(std::string& line);
  // HasPending: bytes were received that no line has taken yet.
  bool HasPending() const { return FStart < FBuffer.size(); }
  void Clear();

  // ReplyText turns reply bytes into the 7-bit text described above.
  static std::string ReplyText(std::string_view bytes);

 private:
  void Compact();

  std::string FBuffer;
  std::size_t FStart = 0;
};

}  // namespace kz
