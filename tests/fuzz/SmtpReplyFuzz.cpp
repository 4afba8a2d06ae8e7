// Fuzzes the reply reader and the reply framing: the first byte picks the size of the
// segments the rest arrives in; every line taken must be short enough, 7-bit and free of
// line ends and NULs, and every line the framing lets through must be three digits then a
// space, a hyphen or nothing, with the code of its reply's first line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "smtp/clReplyFraming.h"
#include "smtp/clReplyReader.h"
#include "smtp/clSmtpError.h"

namespace {

// Framing follows the replies line by line, as the client reads them.
class Framing {
 public:
  void Take(const std::string& line) {
    try {
      kz::CheckReplyLine(line, open_ ? first_ : line);
    } catch (const EclSmtpError& e) {
      if (e.ErrorCode != kz::kMalformedReplyCode && e.ErrorCode != kz::kMixedReplyCodesCode)
        std::abort();
      open_ = false;  // the session would end here; the next line starts afresh
      return;
    }
    const std::optional<kz::TclReplyLine> parsed = kz::ParseReplyLine(line);
    if (!parsed || parsed->Code < 0 || parsed->Code > 999 || line.size() < 3)
      std::abort();
    for (std::size_t i = 0; i < 3; ++i) {
      if (line[i] < '0' || line[i] > '9')
        std::abort();
    }
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-')
      std::abort();
    if (parsed->Last != (line.size() == 3 || line[3] == ' '))
      std::abort();
    if (open_ && kz::ParseReplyLine(first_)->Code != parsed->Code)
      std::abort();
    if (!open_)
      first_ = line;
    open_ = !parsed->Last;
  }

 private:
  std::string first_;
  bool open_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const std::size_t segment = 1 + data[0] % 64;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  kz::TclReplyReader reader;
  Framing framing;
  std::size_t taken = 0;
  try {
    for (std::size_t i = 0; i < input.size(); i += segment) {
      reader.Feed(input.substr(i, segment));
      std::string line;
      while (reader.NextLine(line)) {
        taken += line.size();
        if (line.size() > kz::kMaxReplyLineLength)
          std::abort();
        for (char c : line) {
          if (c == '\r' || c == '\n' || c == '\0' || static_cast<unsigned char>(c) > 127)
            std::abort();
        }
        framing.Take(line);
      }
    }
  } catch (const EclTcpClientError& e) {
    if (e.ErrorCode != kz::kReplyLineTooLongCode)
      std::abort();
  }
  if (taken > input.size())
    std::abort();
  return 0;
}
