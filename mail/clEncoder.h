// clEncoder: the mail content-transfer encodings (quoted-printable, base64, a uuencode
// variant, and the pass-through methods) over byte streams, and the choice of an encoding
// for given content. Quoted-printable and base64 follow RFC 2045.
//
// Text and bytes: every `std::string` parameter or result named "text" holds UTF-8; it is
// turned into bytes with the fixed single-byte code page windows-1250 (a character the code
// page lacks becomes "?") and decoded bytes are turned back into text the same way. Results
// documented as "bytes" hold the raw bytes; the encoded form of the three real methods is
// ASCII, so for those the two readings coincide.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/Error.h"
#include "core/Stream.h"

namespace kz {
class Codec;
}

enum class TclEncodeMethod : std::uint8_t {
  cmNone = 0,
  cmQuotedPrintable = 1,
  cmBase64 = 2,
  cmUUEncode = 3,
  cm8Bit = 4,
};

// The Content-Transfer-Encoding token of a method: "7bit", "quoted-printable", "base64",
// "8bit", and "" for cmUUEncode (whose header line is left out).
std::string_view EncodingToken(TclEncodeMethod method);

// Raised for a method value above cm8Bit and for a character outside the base64 alphabet.
class EclEncoderError : public EclError {
 public:
  using EclError::EclError;
};

inline constexpr const char* kUnsupportedFormat = "Unsupported format.";
inline constexpr const char* kWrongSymbols = "Wrong symbols in source stream.";

// TclEncoder encodes and decodes with EncodeMethod. Properties are getter/setter pairs;
// OnProgress reports (sender, bytes proceeded, total bytes) of one call.
class TclEncoder {
 public:
  using TProgressEvent =
      std::function<void(TclEncoder* sender, std::int64_t bytesProceed, std::int64_t totalBytes)>;

  TclEncoder() = default;
  virtual ~TclEncoder() = default;
  TclEncoder(const TclEncoder&) = default;
  TclEncoder& operator=(const TclEncoder&) = default;
  explicit TclEncoder(TclEncodeMethod method) : encodeMethod_(method) {}

  TclEncodeMethod EncodeMethod() const { return encodeMethod_; }
  void SetEncodeMethod(TclEncodeMethod value) { encodeMethod_ = value; }
  int CharsPerLine() const { return charsPerLine_; }
  void SetCharsPerLine(int value) { charsPerLine_ = value; }
  bool SuppressCrlf() const { return suppressCrlf_; }
  void SetSuppressCrlf(bool value) { suppressCrlf_ = value; }
  int BatchSize() const { return batchSize_; }
  void SetBatchSize(int value) { batchSize_ = value; }

  TProgressEvent OnProgress;

  // Encode reads the source from its position to its end and appends the encoded bytes to
  // the destination. An empty source writes nothing.
  void Encode(TStream& source, TStream& destination);
  // Encode(stream) returns the encoded bytes.
  std::string Encode(TStream& source);
  // Encode(text) converts the text to windows-1250 bytes and returns the encoded form as
  // text (for cmNone and cm8Bit the bytes are read back as windows-1250).
  std::string Encode(std::string_view text);

  // Decode reads encoded bytes from the source's position to its end and appends the
  // decoded bytes. A base64 error leaves what was decoded before it in the destination.
  void Decode(TStream& source, TStream& destination);
  // Decode(text, stream): the encoded text's bytes are decoded into the destination.
  void Decode(std::string_view text, TStream& destination);
  // Decode(text) returns the decoded bytes read as windows-1250 text.
  std::string Decode(std::string_view text);

  // Byte-level forms used by the header functions: raw bytes in, raw bytes out.
  std::string EncodeBytes(std::string_view bytes);
  std::string DecodeBytes(std::string_view bytes);

  // GetPreferredEncoding judges the bytes from the stream's position to its end (the
  // position is restored afterwards).
  TclEncodeMethod GetPreferredEncoding(TStream& source) const;
  // The text form judges the text's windows-1250 bytes; a character the code page lacks
  // counts as a byte above 127, so such text never stays 7bit.
  TclEncodeMethod GetPreferredEncoding(std::string_view text) const;
  // The judgement itself, over raw bytes.
  TclEncodeMethod GetPreferredEncodingOfBytes(std::string_view bytes) const;

  // Class-level conveniences; each uses a temporary encoder with the given method.
  static void Encode(TStream& source, TStream& destination, TclEncodeMethod method);
  static std::string Encode(TStream& source, TclEncodeMethod method);
  static std::string Encode(std::string_view text, TclEncodeMethod method);
  static void Decode(TStream& source, TStream& destination, TclEncodeMethod method);
  static void Decode(std::string_view text, TStream& destination, TclEncodeMethod method);
  static std::string Decode(std::string_view text, TclEncodeMethod method);
  // EncodeToString also suppresses line breaks.
  static std::string EncodeToString(TStream& source, TclEncodeMethod method);
  static std::string EncodeToString(std::string_view text, TclEncodeMethod method);

 protected:
  virtual void DoProgress(std::int64_t bytesProceed, std::int64_t totalBytes);

 private:
  void CheckMethod() const;
  // Transcode feeds the source through the codec into the destination, `batch` bytes at a time
  // (memory streams are read and written in place).
  void Transcode(kz::Codec& codec, TStream& source, TStream& destination, std::size_t batch,
                 bool progressPerBatch, double sizeRatio);

  TclEncodeMethod encodeMethod_ = TclEncodeMethod::cmBase64;
  int charsPerLine_ = 76;
  bool suppressCrlf_ = false;
  int batchSize_ = 8192;
};
