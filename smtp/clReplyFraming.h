// SMTP reply framing (RFC 5321 4.2): a reply line is three digits, then a space (the last
// line of the reply), a hyphen (more lines follow) or the end of the line (a last line
// without text); every line of one reply carries the same code. Anything else means the
// client and the server no longer agree on where replies begin and end, which is a
// protocol error that ends the session: a loose reading could take a refusal for a success.
#pragma once

#include <optional>
#include <string_view>

namespace kz {

struct TclReplyLine {
  int Code = 0;
  bool Last = false;
};

// ParseReplyLine reads the code and kind of one reply line; none when the line is not one.
std::optional<TclReplyLine> ParseReplyLine(std::string_view ALine);

// CheckReplyLine raises EclSmtpError -204 when ALine is not a reply line and -205 when its
// code differs from that of AFirstLine, the first line of the same reply.
void CheckReplyLine(std::string_view ALine, std::string_view AFirstLine);

}  // namespace kz
