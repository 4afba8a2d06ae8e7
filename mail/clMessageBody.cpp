#include "mail/clMessageBody.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "core/DateTime.h"
#include "core/LineSplitter.h"
#include "core/StringUtils.h"
#include "mail/clEncoderCodecs.h"
#include "mail/clMailMessage.h"
#include "mail/clMimeParams.h"
#include "mail/clTranslator.h"
#include "mail/clUtils.h"

namespace {

// RFC 5322 allows 998 octets on a line; longer data lines must be encoded.
constexpr std::size_t kMaxLineLength = 998;

// Data fit to be sent as it is: no NUL, no line above 998 octets, and for 7bit no byte above
// 127. The stream position is restored.
bool FitsLines(TStream& data, bool sevenBit) {
  const std::int64_t start = data.Position();
  std::string chunk(1 << 16, '\0');
  std::size_t lineLength = 0;
  bool fits = true;
  while (fits) {
    const std::size_t n = data.Read(std::span<char>(chunk.data(), chunk.size()));
    if (n == 0)
      break;
    for (std::size_t i = 0; i < n; ++i) {
      const auto c = static_cast<unsigned char>(chunk[i]);
      if (c == '\r' || c == '\n') {
        lineLength = 0;
        continue;
      }
      if (c == 0 || (sevenBit && c > 127) || ++lineLength > kMaxLineLength) {
        fits = false;
        break;
      }
    }
  }
  data.SetPosition(start);
  return fits;
}

TclEncodeMethod ParseTransferEncoding(std::string_view value, TclEncodeMethod current) {
  const std::string token = kz::LowerAscii(kz::Trim(value));
  if (token == "quoted-printable")
    return TclEncodeMethod::cmQuotedPrintable;
  if (token == "base64")
    return TclEncodeMethod::cmBase64;
  return current;
}

constexpr std::size_t kChunk = 1 << 16;

// Cuts encoded output into lines at CR LF, lone CR or lone LF as it comes; a CR at the end of
// one piece pairs with a LF at the start of the next. NUL bytes become spaces.
class LineCutter {
 public:
  explicit LineCutter(TclStringList& lines) : lines_(lines) {}

  void Feed(std::string_view data) {
    splitter_.Feed(data, [this](std::string_view line) { Emit(lines_.emplace_back(line)); });
    if (!data.empty())
      endsWithBreak_ = data.back() == '\r' || data.back() == '\n';
  }

  // Finish adds an unfinished last line; true when the data ended with a line break.
  bool Finish() {
    if (splitter_.Finish([this](std::string_view line) { Emit(lines_.emplace_back(line)); }))
      endsWithBreak_ = false;
    return endsWithBreak_;
  }

 private:
  static void Emit(std::string& line) {
    if (line.find('\0') != std::string::npos)
      std::replace(line.begin(), line.end(), '\0', ' ');
  }

  TclStringList& lines_;
  kz::LineSplitter splitter_;
  bool endsWithBreak_ = false;
};

}  // namespace

bool HoldsLoneLineBreak(TStream& data) {
  const std::int64_t start = data.Position();
  std::string chunk(kChunk, '\0');
  bool afterCr = false;  // the byte before the chunk was a CR
  bool lone = false;
  while (!lone) {
    const std::size_t n = data.Read(std::span<char>(chunk.data(), chunk.size()));
    if (n == 0)
      break;
    const std::string_view bytes(chunk.data(), n);
    if (afterCr && bytes.front() != '\n')
      lone = true;
    std::size_t pos = afterCr ? 1 : 0;
    afterCr = false;
    while (!lone) {
      pos = kz::FindLineBreak(bytes, pos);
      if (pos == std::string_view::npos)
        break;
      if (bytes[pos] == '\n') {
        lone = true;  // a LF not preceded by a CR: CR LF pairs are skipped whole below
      } else if (pos + 1 == n) {
        afterCr = true;
        break;
      } else if (bytes[pos + 1] != '\n') {
        lone = true;
      } else {
        pos += 2;
      }
    }
  }
  data.SetPosition(start);
  return lone || afterCr;
}

std::string SafeFileName(std::string_view name) {
  std::string out(BaseName(name));
  for (char& ch : out) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || std::string_view("\"*/:<>?\\|").find(ch) != std::string::npos)
      ch = '_';
  }
  if (!out.empty() && (out.back() == ' ' || out.back() == '.'))
    out.pop_back();
  if (out.empty() || out == "." || out == "..")
    out = "_";
  return out;
}

// ---------------------------------------------------------------------------------------
// TclMessageBody

TclMessageBody::TclMessageBody(TclMessageBodies& owner) : owner_(&owner) {}

TclMessageBody::~TclMessageBody() = default;

TclMailMessage* TclMessageBody::MailMessage() const {
  return owner_->Owner();
}

int TclMessageBody::Index() const {
  return owner_->IndexOf(this);
}

bool TclMessageBody::IsParse() const {
  return MailMessage()->IsParse();
}

void TclMessageBody::Changed() {
  MailMessage()->Update();
}

void TclMessageBody::SetContentType(std::string_view value) {
  if (contentType_ == value)
    return;
  contentType_ = value;
  Changed();
}

void TclMessageBody::SetContentDisposition(std::string_view value) {
  if (contentDisposition_ == value)
    return;
  contentDisposition_ = value;
  Changed();
}

void TclMessageBody::SetEncoding(TclEncodeMethod value) {
  if (encoding_ == value)
    return;
  encoding_ = value;
  Changed();
}

void TclMessageBody::SetExtraFields(TclStringList value) {
  if (extraFields_ == value)
    return;
  extraFields_ = std::move(value);
  Changed();
}

void TclMessageBody::CreateParts() {
  encoder_ = std::make_unique<TclEncoder>();
  encoder_->OnProgress = [this](TclEncoder*, std::int64_t done, std::int64_t total) {
    MailMessage()->DoEncodingProgress(this, done, total);
  };
  RegisterKnownFields();
}

void TclMessageBody::AddKnownField(std::string_view name) {
  for (const std::string& known : knownFields_) {
    if (kz::EqualsNoCase(known, name))
      return;
  }
  knownFields_.emplace_back(name);
}

void TclMessageBody::RegisterKnownFields() {
  AddKnownField("Content-Type");
  AddKnownField("Content-Transfer-Encoding");
  AddKnownField("Content-Disposition");
}

void TclMessageBody::Clear() {
  extraFields_.clear();
  contentType_.clear();
  encoding_ = MailMessage()->Encoding();
  contentDisposition_.clear();
  rawHeader_.clear();
  encodedSize_ = 0;
  encodedLines_ = 0;
  encodedStart_ = 0;
  rawStart_ = 0;
  Changed();
}

void TclMessageBody::Assign(const TclMessageBody& source) {
  extraFields_ = source.extraFields_;
  contentType_ = source.contentType_;
  encoding_ = source.encoding_;
  contentDisposition_ = source.contentDisposition_;
  rawHeader_ = source.rawHeader_;
  encodedSize_ = source.encodedSize_;
  encodedLines_ = source.encodedLines_;
  encodedStart_ = source.encodedStart_;
  rawStart_ = source.rawStart_;
  Changed();
}

TclEncodeMethod TclMessageBody::GetEncoding() const {
  const TclMailMessage* message = MailMessage();
  return message->IsMultiPartContent() ? encoding_ : message->Encoding();
}

TclEncodeMethod TclMessageBody::WriteEncoding() {
  const TclEncodeMethod method = GetEncoding();
  if (method != TclEncodeMethod::cmNone && method != TclEncodeMethod::cm8Bit)
    return method;
  std::shared_ptr<TStream> data = OpenSourceData();
  if (!data)
    return method;
  // A file's bytes come back unchanged only in base64 unless its line ends are CR LF.
  if (KeepsBytes() && HoldsLoneLineBreak(*data))
    return TclEncodeMethod::cmBase64;
  if (FitsLines(*data, method == TclEncodeMethod::cmNone))
    return method;
  // The body's own choice (made from its text or file) comes first.
  if (encoding_ == TclEncodeMethod::cmQuotedPrintable || encoding_ == TclEncodeMethod::cmBase64)
    return encoding_;
  TclEncoder judge;
  judge.SetCharsPerLine(MailMessage()->CharsPerLine());
  const TclEncodeMethod preferred = judge.GetPreferredEncoding(*data);
  return preferred == TclEncodeMethod::cmBase64 ? preferred : TclEncodeMethod::cmQuotedPrintable;
}

void TclMessageBody::WriteBodyHeader(TclStringList&) {}

void TclMessageBody::ParseBodyHeader(const TclStringList& lines, const TclHeaderFieldList& fields) {
  // Without a Content-Type the body keeps its class's default (RFC 2045: text/plain).
  std::string type = GetHeaderParam(GetHeaderFieldValue(lines, fields, "content-type"), "");
  if (!type.empty())
    contentType_ = std::move(type);
  // A part without a transfer encoding (or with 7bit, 8bit, binary or one we do not know) is
  // taken as it stands (RFC 2045: the default is 7bit).
  encoding_ = ParseTransferEncoding(GetHeaderFieldValue(lines, fields, "content-transfer-encoding"),
                                    TclEncodeMethod::cmNone);
  contentDisposition_ =
      GetHeaderParam(GetHeaderFieldValue(lines, fields, "content-disposition"), "");
}

void TclMessageBody::DataDecoded(TStream& data) {
  data.SetPosition(0);
  MailMessage()->DoDataAdded(this, data);
}

void TclMessageBody::DecodeBody(TStream& source, TStream& target) {
  const std::int64_t sourceStart = source.Position();
  const std::int64_t targetStart = target.Position();
  try {
    encoder_->SetEncodeMethod(GetEncoding());
    encoder_->Decode(source, target);
  } catch (const EclEncoderError&) {
    // Undecodable data is kept as it came.
    target.SetSize(targetStart);
    target.SetPosition(targetStart);
    source.SetPosition(sourceStart);
    target.CopyFrom(source);
  }
}

void TclMessageBody::EncodeBody(TStream& source, TStream& target) {
  encoder_->SetCharsPerLine(MailMessage()->CharsPerLine());
  encoder_->SetEncodeMethod(WriteEncodingOrEffective());
  encoder_->Encode(source, target);
}

std::size_t TclMessageBody::AddDataLines(TclStringList& lines, bool& endsWithBreak) {
  endsWithBreak = false;
  std::shared_ptr<TStream> source = OpenSourceData();
  if (!source)
    return 0;
  // Encoded chunk by chunk straight into lines: the encoded data is never held whole.
  TclMailMessage* message = MailMessage();
  const std::int64_t total = source->Size();
  message->DoEncodingProgress(this, 0, total);
  const TclEncodeMethod method = WriteEncodingOrEffective();
  auto codec = CreateEncoderCodec(method, message->CharsPerLine(), false);
  const std::size_t before = lines.size();
  // Room for the lines to come, growing geometrically across bodies.
  const double perLine = method == TclEncodeMethod::cmBase64 ? 57.0 : 60.0;
  const std::size_t needed =
      before +
      static_cast<std::size_t>(static_cast<double>(std::max<std::int64_t>(total, 0)) / perLine) + 2;
  if (needed > lines.capacity())
    lines.reserve(std::max(needed, lines.capacity() * 2));
  LineCutter cutter(lines);
  std::string chunk(kChunk, '\0');
  std::string out;
  while (const std::size_t n = source->Read(std::span<char>(chunk.data(), chunk.size()))) {
    out.clear();
    codec->Update(std::string_view(chunk.data(), n), out);
    cutter.Feed(out);
  }
  out.clear();
  codec->Finish(out);
  cutter.Feed(out);
  endsWithBreak = cutter.Finish();
  message->DoEncodingProgress(this, source->Position(), total);
  return lines.size() - before;
}

void TclMessageBody::TrimEncodedData(TMemoryStream& data) {
  const std::string_view bytes = data.Data();
  if (bytes.size() >= 2 && bytes.substr(bytes.size() - 2) == "\r\n")
    data.SetSize(data.Size() - 2);
}

void TclMessageBody::FinishData(std::span<const std::string> lines) {
  std::size_t size = 0;
  for (const std::string& line : lines)
    size += line.size() + 2;
  // The line break before the next boundary (or the end) belongs to it, not to the data.
  size = size >= 2 ? size - 2 : 0;
  if (HasEncodedSize() && size > 0 && !lines.empty()) {
    encodedSize_ = static_cast<std::int64_t>(size);
    encodedLines_ = static_cast<int>(lines.size());
  }
  std::shared_ptr<TStream> target = CreateTargetData();
  if (!target)
    return;
  TMemoryStream source;
  std::string& data = source.Buffer();
  data.reserve(size + 2);
  for (const std::string& line : lines) {
    data += line;
    data += "\r\n";
  }
  TrimEncodedData(source);
  source.SetPosition(0);
  DecodeBody(source, *target);
  DataDecoded(*target);
}
