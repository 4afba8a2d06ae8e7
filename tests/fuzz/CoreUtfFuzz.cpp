// Fuzzes the UTF-8 decoder and the windows-1250 tables: any byte sequence must decode
// without crashing, re-encode to valid UTF-8, and survive a code-page round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/CodePage.h"
#include "core/Utf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::string utf8 = kz::Utf16ToUtf8(kz::Utf8ToUtf16(in));
  if (!kz::IsValidUtf8(utf8))
    std::abort();
  if (kz::IsValidUtf8(in) && utf8 != in)
    std::abort();
  if (kz::AnsiEncode(kz::AnsiDecode(in)) != in)
    std::abort();
  return 0;
}
