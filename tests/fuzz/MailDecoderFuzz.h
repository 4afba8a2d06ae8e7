// Shared body of the decoder fuzz targets: decoding any input must not crash, must give the
// same result however the input is cut into chunks, and encode-then-decode must give the
// input back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mail/clEncoderCodecs.h"

inline std::string FuzzRun(kz::Codec& codec, std::string_view in, std::size_t chunk, bool& failed) {
  std::string out;
  failed = false;
  try {
    for (std::size_t i = 0; i < in.size(); i += chunk)
      codec.Update(in.substr(i, chunk), out);
    codec.Finish(out);
  } catch (const EclEncoderError&) {
    failed = true;
  }
  return out;
}

inline void FuzzDecoder(TclEncodeMethod method, const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return;
  const std::size_t chunk = data[0] % 17 + 1;
  const int cpl = data[0];
  const std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);

  bool wholeFailed = false, chunkFailed = false;
  const std::string whole = FuzzRun(*CreateDecoderCodec(method), in, in.size() + 1, wholeFailed);
  const std::string chunked = FuzzRun(*CreateDecoderCodec(method), in, chunk, chunkFailed);
  if (wholeFailed != chunkFailed)
    std::abort();
  if (!wholeFailed && whole != chunked)
    std::abort();

  bool failed = false;
  const std::string encoded = FuzzRun(*CreateEncoderCodec(method, cpl, false), in, chunk, failed);
  if (failed)
    std::abort();
  if (FuzzRun(*CreateDecoderCodec(method), encoded, chunk + 3, failed) != in || failed)
    std::abort();
}
