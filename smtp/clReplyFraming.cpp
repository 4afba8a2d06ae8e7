#include "smtp/clReplyFraming.h"

#include <string>

#include "smtp/clSmtpError.h"

namespace kz {

namespace {

// Quoted: the line as an error shows it, cut to a length a message box can hold.
std::string Quoted(std::string_view ALine) {
  constexpr std::size_t kShown = 80;
  std::string text = "\"" + std::string(ALine.substr(0, kShown));
  if (ALine.size() > kShown)
    text += "...";
  return text + "\"";
}

}  // namespace

std::optional<TclReplyLine> ParseReplyLine(std::string_view ALine) {
  if (ALine.size() < 3)
    return std::nullopt;
  int code = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    if (ALine[i] < '0' || ALine[i] > '9')
      return std::nullopt;
    code = code * 10 + (ALine[i] - '0');
  }
  if (ALine.size() == 3 || ALine[3] == ' ')
    return TclReplyLine{code, true};
  if (ALine[3] == '-')
    return TclReplyLine{code, false};
  return std::nullopt;
}

void CheckReplyLine(std::string_view ALine, std::string_view AFirstLine) {
  const std::optional<TclReplyLine> line = ParseReplyLine(ALine);
  if (!line)
    throw EclSmtpError(std::string(kMalformedReplyText) + ": " + Quoted(ALine),
                       kMalformedReplyCode);
  const std::optional<TclReplyLine> first = ParseReplyLine(AFirstLine);
  if (first && first->Code != line->Code)
    throw EclSmtpError(std::string(kMixedReplyCodesText) + ": " + Quoted(AFirstLine) +
                           " and then " + Quoted(ALine),
                       kMixedReplyCodesCode);
}

}  // namespace kz
