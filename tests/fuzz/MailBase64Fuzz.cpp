// Fuzzes the Base64 decoder (and its encoder through a round trip).
#include "tests/fuzz/MailDecoderFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzDecoder(TclEncodeMethod::cmBase64, data, size);
  return 0;
}
