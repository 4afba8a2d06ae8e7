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
class CopyCodec final : public kz::Codec {
 public:
  void Update(std::string_view in, std::string& out) override { out.append(in); }
  void Finish(std::string&) override {}
};

// The usual size of encoded data relative to its source, for reserving memory.
double EncodedRatio(TclEncodeMethod m) {
  switch (m) {
    case TclEncodeMethod::cmBase64:
      return 78.0 / 57.0;
    case TclEncodeMethod::cmUUEncode:
      return 79.0 / 57.0;
    case TclEncodeMethod::cmQuotedPrintable:
      return 1.25;
    default:
      return 1.0;
  }
}

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

std::unique_ptr<kz::Codec> CreateEncoderCodec(TclEncodeMethod method, int charsPerLine,
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

std::unique_ptr<kz::Codec> CreateDecoderCodec(TclEncodeMethod method) {
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
  Transcode(*codec, source, destination, kEncodeChunk, false, EncodedRatio(encodeMethod_));
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
  // Decoded data is never much larger than its source; quoted-printable may be as large.
  const double ratio =
      encodeMethod_ == TclEncodeMethod::cmQuotedPrintable ? 1.0 : 1.0 / EncodedRatio(encodeMethod_);
  Transcode(*codec, source, destination, batch, base64, ratio);
  if (!base64 && !copy)
    DoProgress(source.Position(), total);
}

void TclEncoder::Transcode(kz::Codec& codec, TStream& source, TStream& destination,
                           std::size_t batch, bool progressPerBatch, double sizeRatio) {
  const std::int64_t total = source.Size();
  auto* memIn = dynamic_cast<TMemoryStream*>(&source);
  auto* memOut = dynamic_cast<TMemoryStream*>(&destination);
  if (memOut != nullptr && (memOut->Position() != memOut->Size() || memOut == memIn)) {
    memOut = nullptr;
  }
  if (memOut != nullptr) {
    // Room for the expected result up front: growing by doubling would copy it repeatedly.
    const auto remaining = static_cast<double>(std::max<std::int64_t>(source.Remaining(), 0));
    memOut->Buffer().reserve(memOut->Buffer().size() +
                             static_cast<std::size_t>(remaining * sizeRatio) + (1 << 16));
  }
  // Memory streams are worked on in place: no copies of the data through chunk buffers.
  std::string scratch;
  std::string& out = memOut != nullptr ? memOut->Buffer() : scratch;
  auto flush = [&] {
    if (memOut == nullptr) {
      destination.Write(std::string_view(scratch));
      scratch.clear();
    }
  };
  std::vector<char> chunk;
  try {
    for (;;) {
      std::string_view in;
      if (memIn != nullptr) {
        const std::string_view data = memIn->Data();
        const auto pos = static_cast<std::size_t>(memIn->Position());
        const std::size_t step = progressPerBatch ? batch : data.size();
        in = data.substr(std::min(pos, data.size()), step);
        memIn->Seek(static_cast<std::int64_t>(in.size()), SeekOrigin::Current);
      } else {
        chunk.resize(batch);
        in = std::string_view(chunk.data(), source.Read(chunk));
      }
      if (in.empty())
        break;
      codec.Update(in, out);
      flush();
      if (progressPerBatch)
        DoProgress(source.Position(), total);
    }
    codec.Finish(out);
    flush();
  } catch (const EclEncoderError&) {
    flush();  // what was decoded before the error stays
    if (memOut != nullptr)
      memOut->Seek(0, SeekOrigin::End);
    throw;
  }
  if (memOut != nullptr)
    memOut->Seek(0, SeekOrigin::End);
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

namespace {

// The judgement of GetPreferredEncoding, fed chunk by chunk.
class PreferredScan {
 public:
  PreferredScan(std::int64_t size, int charsPerLine)
      : highLimit_(size / 2), charsPerLine_(charsPerLine) {}

  // Feed returns false once the answer is certain (base64).
  bool Feed(std::string_view bytes) {
    for (const char ch : bytes) {
      const auto b = static_cast<unsigned char>(ch);
      if (b >= 32 && b <= 126) {
        ++lineLength_;
      } else if (b == 13 || b == 10) {
        if (lineLength_ > charsPerLine_)
          result_ = TclEncodeMethod::cmQuotedPrintable;
        lineLength_ = 0;
      } else if (b >= 127) {
        result_ = TclEncodeMethod::cmQuotedPrintable;
        if (++high_ > highLimit_)
          return Stop();
      } else {
        return Stop();  // control bytes, tabs included
      }
    }
    return true;
  }

  TclEncodeMethod Result() const {
    if (result_ == TclEncodeMethod::cmNone && lineLength_ > charsPerLine_) {
      return TclEncodeMethod::cmQuotedPrintable;
    }
    return result_;
  }

 private:
  bool Stop() {
    result_ = TclEncodeMethod::cmBase64;
    lineLength_ = 0;
    return false;
  }

  std::int64_t highLimit_;
  std::int64_t charsPerLine_;
  std::int64_t lineLength_ = 0;
  std::int64_t high_ = 0;
  TclEncodeMethod result_ = TclEncodeMethod::cmNone;
};

}  // namespace

TclEncodeMethod TclEncoder::GetPreferredEncodingOfBytes(std::string_view bytes) const {
  PreferredScan scan(static_cast<std::int64_t>(bytes.size()), charsPerLine_);
  scan.Feed(bytes);
  return scan.Result();
}

TclEncodeMethod TclEncoder::GetPreferredEncoding(TStream& source) const {
  const std::int64_t start = source.Position();
  PreferredScan scan(source.Size() - start, charsPerLine_);
  std::vector<char> chunk(kEncodeChunk);
  while (const std::size_t n = source.Read(chunk)) {
    if (!scan.Feed(std::string_view(chunk.data(), n)))
      break;
  }
  source.SetPosition(start);
  return scan.Result();
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
