// The codecs behind TclEncoder, fed chunk by chunk so that a caller can stream data of any
// size through them with bounded memory. Each keeps the state a chunk boundary may cut
// (a base64 quartet, a pending CR or "=", a partial uuencode line) until the next chunk.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "mail/clEncoder.h"

namespace kz {

// Codec: one streaming conversion (an encoder or a decoder of one method).
class Codec {
 public:
  virtual ~Codec() = default;
  Codec() = default;
  Codec(const Codec&) = delete;
  Codec& operator=(const Codec&) = delete;

  // Update converts the next chunk and appends the result to `out`. A decoding error
  // raises EclEncoderError after appending everything decoded before the bad character.
  virtual void Update(std::string_view in, std::string& out) = 0;
  // Finish flushes what the last chunk left pending; the codec is then spent.
  virtual void Finish(std::string& out) = 0;
};

}  // namespace kz

// EffectiveLineLength: the line length a method really uses for a requested CharsPerLine:
// quoted-printable 4..132; base64 76, or the next multiple of 4 (rounded half to even) from
// 76 up; uuencode 3..132; other methods the value, or 76 when it is below 1.
int EffectiveLineLength(TclEncodeMethod method, int charsPerLine);

// The factories raise EclEncoderError "Unsupported format." for a method above cm8Bit.
// cmNone and cm8Bit give a codec that copies its input.
std::unique_ptr<kz::Codec> CreateEncoderCodec(TclEncodeMethod method, int charsPerLine,
                                              bool suppressCrlf);
std::unique_ptr<kz::Codec> CreateDecoderCodec(TclEncodeMethod method);

// The per-method codecs (one source file each).
std::unique_ptr<kz::Codec> MakeBase64Encoder(int lineLength, bool suppressCrlf);
std::unique_ptr<kz::Codec> MakeBase64Decoder();
std::unique_ptr<kz::Codec> MakeQuotedPrintableEncoder(int lineLength, bool suppressCrlf);
std::unique_ptr<kz::Codec> MakeQuotedPrintableDecoder();
std::unique_ptr<kz::Codec> MakeUUEncoder(int lineLength, bool suppressCrlf);
std::unique_ptr<kz::Codec> MakeUUDecoder();
