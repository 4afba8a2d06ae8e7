#include "mail/clEncoder.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/CodePage.h"
#include "mail/clEncoderCodecs.h"

namespace {

constexpr std::size_t kEncodeChunk = 1 << 16;

bool IsKnown(TclEncodeMethod m) {
  return static_cast<int>(m) <= static_cast<int>(TclEncodeMethod::cm8Bit);
}

bool IsCopy(TclEncodeMethod m) {
  return m == TclEncodeMethod::cmNone || m == TclEncodeMethod::cm8Bit;
}

// The copy "codec" of cmNone and cm8Bit.
class CopyCodec final : public TclCodec {
 public:
  void Update(std::string_view in, std::string& out) override { out.append(in); }
  void Finish(std::string&) override {}
};

// An unused byte of windows-1250: a character the code page lacks is judged as this
// byte, which counts as non-ASCII.
constexpr char kMissingCharByte = '\x81';

}  // namespace

std::string_view EncodingToken(TclEncodeMethod method) {
  switch (method) {
    case TclEncodeMethod::cmNone:
      return "7bit";
    case TclEncodeMethod::cmQuotedPrintable:
      return "quoted-printable";
    case TclEncodeMethod::cmBase64:
      return "base64";
    case TclEncodeMethod::cm8Bit:
      return "8bit";
    case TclEncodeMethod::cmUUEncode:
      break;
  }
  return "";
}

int EffectiveLineLength(TclEncodeMethod method, int charsPerLine) {
  switch (method) {
    case TclEncodeMethod::cmQuotedPrintable:
      return std::clamp(charsPerLine, 4, 132);
    case TclEncodeMethod::cmBase64: {
      if (charsPerLine < 76)
        return 76;
      // 4 x round-half-to-even(v / 4 + 0.25), in integers: (v + 1) / 4 rounded.
      const std::int64_t x = static_cast<std::int64_t>(charsPerLine) + 1;
      std::int64_t q = x / 4;
      const std::int64_t r = x % 4;
      if (r > 2 || (r == 2 && q % 2 == 1))
        ++q;
      return static_cast<int>(std::min<std::int64_t>(q * 4, INT32_MAX - 3));
    }
    case TclEncodeMethod::cmUUEncode:
      return std::clamp(charsPerLine, 3, 132);
    default:
      return charsPerLine < 1 ? 76 : charsPerLine;
  }
}

std::unique_ptr<TclCodec> CreateEncoderCodec(TclEncodeMethod method, int charsPerLine,
                                             bool suppressCrlf) {
  if (!IsKnown(method))
    throw EclEncoderError(kUnsupportedFormat);
  const int len = EffectiveLineLength(method, charsPerLine);
  switch (method) {
    case TclEncodeMethod::cmQuotedPrintable:
      return MakeQuotedPrintableEncoder(len, suppressCrlf);
    case TclEncodeMethod::cmBase64:
      return MakeBase64Encoder(len, suppressCrlf);
    case TclEncodeMethod::cmUUEncode:
      return MakeUUEncoder(len, suppressCrlf);
    default:
      return std::make_unique<CopyCodec>();
  }
}

std::unique_ptr<TclCodec> CreateDecoderCodec(TclEncodeMethod method) {
  if (!IsKnown(method))
    throw EclEncoderError(kUnsupportedFormat);
  switch (method) {
    case TclEncodeMethod::cmQuotedPrintable:
      return MakeQuotedPrintableDecoder();
    case TclEncodeMethod::cmBase64:
      return MakeBase64Decoder();
    case TclEncodeMethod::cmUUEncode:
      return MakeUUDecoder();
    default:
      return std::make_unique<CopyCodec>();
  }
}

void TclEncoder::CheckMethod() const {
  if (!IsKnown(encodeMethod_))
    throw EclEncoderError(kUnsupportedFormat);
}

void TclEncoder::DoProgress(std::int64_t bytesProceed, std::int64_t totalBytes) {
  if (OnProgress)
    OnProgress(this, bytesProceed, totalBytes);
}

void TclEncoder::Encode(TStream& source, TStream& destination) {
  CheckMethod();
  const std::int64_t total = source.Size();
  DoProgress(0, total);
  auto codec = CreateEncoderCodec(encodeMethod_, charsPerLine_, suppressCrlf_);
  std::vector<char> chunk(kEncodeChunk);
  std::string out;
  while (const std::size_t n = source.Read(chunk)) {
    out.clear();
    codec->Update(std::string_view(chunk.data(), n), out);
    destination.Write(std::string_view(out));
  }
  out.clear();
  codec->Finish(out);
  destination.Write(std::string_view(out));
  DoProgress(source.Position(), total);
}

std::string TclEncoder::Encode(TStream& source) {
  TMemoryStream out;
  Encode(source, out);
  return out.TakeData();
}

std::string TclEncoder::EncodeBytes(std::string_view bytes) {
  TMemoryStream in{std::string(bytes)};
  return Encode(in);
}

std::string TclEncoder::Encode(std::string_view text) {
  std::string encoded = EncodeBytes(kz::AnsiEncode(text));
  return IsCopy(encodeMethod_) ? kz::AnsiDecode(encoded) : encoded;
}

void TclEncoder::Decode(TStream& source, TStream& destination) {
  CheckMethod();
  const std::int64_t total = source.Size();
  auto codec = CreateDecoderCodec(encodeMethod_);
  const bool base64 = encodeMethod_ == TclEncodeMethod::cmBase64;
  const bool copy = IsCopy(encodeMethod_);
  if (!base64 && !copy)
    DoProgress(0, total);
  // The base64 decoder reads in batches of BatchSize and reports after each batch.
  const std::size_t batch =
      base64 ? static_cast<std::size_t>(std::max(batchSize_, 1)) : kEncodeChunk;
  std::vector<char> chunk(batch);
  std::string out;
  try {
    while (const std::size_t n = source.Read(chunk)) {
      out.clear();
      codec->Update(std::string_view(chunk.data(), n), out);
      destination.Write(std::string_view(out));
      if (base64)
        DoProgress(source.Position(), total);
    }
    out.clear();
    codec->Finish(out);
    destination.Write(std::string_view(out));
  } catch (const EclEncoderError&) {
    destination.Write(std::string_view(out));  // what was decoded before the error stays
    throw;
  }
  if (!base64 && !copy)
    DoProgress(source.Position(), total);
}

void TclEncoder::Decode(std::string_view text, TStream& destination) {
  TMemoryStream in{kz::AnsiEncode(text)};
  Decode(in, destination);
}

std::string TclEncoder::DecodeBytes(std::string_view bytes) {
  TMemoryStream in{std::string(bytes)};
  TMemoryStream out;
  Decode(in, out);
  return out.TakeData();
}

std::string TclEncoder::Decode(std::string_view text) {
  return kz::AnsiDecode(DecodeBytes(kz::AnsiEncode(text)));
}

TclEncodeMethod TclEncoder::GetPreferredEncodingOfBytes(std::string_view bytes) const {
  const std::size_t highLimit = bytes.size() / 2;
  std::int64_t lineLength = 0;
  std::size_t high = 0;
  TclEncodeMethod result = TclEncodeMethod::cmNone;
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b >= 32 && b <= 126) {
      ++lineLength;
    } else if (b == 13 || b == 10) {
      if (lineLength > charsPerLine_)
        result = TclEncodeMethod::cmQuotedPrintable;
      lineLength = 0;
    } else if (b >= 127) {
      result = TclEncodeMethod::cmQuotedPrintable;
      if (++high > highLimit)
        return TclEncodeMethod::cmBase64;
    } else {
      return TclEncodeMethod::cmBase64;  // control bytes, tabs included
    }
  }
  if (lineLength > charsPerLine_ && result == TclEncodeMethod::cmNone) {
    result = TclEncodeMethod::cmQuotedPrintable;
  }
  return result;
}

TclEncodeMethod TclEncoder::GetPreferredEncoding(TStream& source) const {
  const std::int64_t start = source.Position();
  const std::string bytes = source.ReadAll();
  source.SetPosition(start);
  return GetPreferredEncodingOfBytes(bytes);
}

TclEncodeMethod TclEncoder::GetPreferredEncoding(std::string_view text) const {
  return GetPreferredEncodingOfBytes(kz::AnsiEncode(text, kMissingCharByte));
}

void TclEncoder::Encode(TStream& source, TStream& destination, TclEncodeMethod method) {
  TclEncoder(method).Encode(source, destination);
}

std::string TclEncoder::Encode(TStream& source, TclEncodeMethod method) {
  return TclEncoder(method).Encode(source);
}

std::string TclEncoder::Encode(std::string_view text, TclEncodeMethod method) {
  return TclEncoder(method).Encode(text);
}

void TclEncoder::Decode(TStream& source, TStream& destination, TclEncodeMethod method) {
  TclEncoder(method).Decode(source, destination);
}

void TclEncoder::Decode(std::string_view text, TStream& destination, TclEncodeMethod method) {
  TclEncoder(method).Decode(text, destination);
}

std::string TclEncoder::Decode(std::string_view text, TclEncodeMethod method) {
  return TclEncoder(method).Decode(text);
}

std::string TclEncoder::EncodeToString(TStream& source, TclEncodeMethod method) {
  TclEncoder encoder(method);
  encoder.SetSuppressCrlf(true);
  return encoder.Encode(source);
}

std::string TclEncoder::EncodeToString(std::string_view text, TclEncodeMethod method) {
  TclEncoder encoder(method);
  encoder.SetSuppressCrlf(true);
  return encoder.Encode(text);
}
