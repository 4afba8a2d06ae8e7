// Fuzzes header decoding and writing: DecodeHeaderValue must give valid UTF-8 for any
// input, and no value may produce a header line that does not continue its field.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/StringUtils.h"
#include "core/Utf.h"
#include "mail/clMailUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  if (!kz::IsValidUtf8(DecodeHeaderValue(in, "iso-8859-2")))
    std::abort();
  if (!kz::IsValidUtf8(DecodeHeaderValue(in, "utf-8")))
    std::abort();

  const auto method = static_cast<TclEncodeMethod>(size % 3);
  std::vector<std::string> lines;
  AddHeaderField(lines, "Subject", EncodeHeaderValue(in, "UTF-8", method, 76));
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty() || (lines[i][0] != '\t' && lines[i][0] != ' '))
      std::abort();
  }
  for (const auto& line : lines) {
    if (line.find_first_of("\r\n") != std::string::npos)
      std::abort();
  }

  // Text encoded in any charset comes back whole, in words of at most 75 characters that
  // each decode on their own (whole characters only).
  if (!kz::IsValidUtf8(in) || in.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
    return 0;
  const bool hasReplacement = in.find("\xEF\xBF\xBD") != std::string::npos;
  for (const char* charSet : {"UTF-8", "utf-16", "utf-32"}) {
    for (TclEncodeMethod m : {TclEncodeMethod::cmQuotedPrintable, TclEncodeMethod::cmBase64}) {
      const std::string encoded = EncodeHeaderValue(in, charSet, m, 76);
      for (const std::string& word : kz::SplitLines(encoded)) {
        if (word.size() > 75)
          std::abort();
        if (!hasReplacement &&
            DecodeHeaderValue(word, "us-ascii").find("\xEF\xBF\xBD") != std::string::npos) {
          std::abort();
        }
      }
      if (DecodeHeaderValue(encoded, "us-ascii") != in)
        std::abort();
    }
  }
  return 0;
}
