// Fuzzes the QuotedPrintable decoder (and its encoder through a round trip).
#include "tests/fuzz/MailDecoderFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzDecoder(TclEncodeMethod::cmQuotedPrintable, data, size);
  return 0;
}
