// Fuzzes the reply reader: the first byte picks the size of the segments the rest arrives
// in; every line taken must be short enough, 7-bit and free of line ends and NULs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "smtp/clReplyReader.h"
#include "smtp/clTcpClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const std::size_t segment = 1 + data[0] % 64;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  kz::TclReplyReader reader;
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
