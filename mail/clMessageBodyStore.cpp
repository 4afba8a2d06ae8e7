#include "mail/clMessageBodyStore.h"

#include "core/StringUtils.h"
#include "mail/clMailMessage.h"

namespace {

constexpr std::string_view kPropertyName = "Items";
constexpr std::size_t kMaxDigits = 19;

[[noreturn]] void Invalid() {
  throw EclMailMessageError(kInvalidBodyData, -1);
}

TclEncodeMethod ToMethod(std::int64_t value) {
  if (value < 0 || value > static_cast<int>(TclEncodeMethod::cm8Bit))
    Invalid();
  return static_cast<TclEncodeMethod>(value);
}

}  // namespace

void TclBodyWriter::WriteString(std::string_view value) {
  stream_.Write(std::string_view(std::to_string(value.size()) + ":"));
  stream_.Write(value);
  stream_.Write(std::string_view("\n"));
}

void TclBodyWriter::WriteInteger(std::int64_t value) {
  WriteString(std::to_string(value));
}

void TclBodyWriter::WriteBodies(const TclMessageBodies& bodies) {
  WriteInteger(bodies.Count());
  for (int i = 0; i < bodies.Count(); ++i) {
    const TclMessageBody& body = bodies.Items(i);
    WriteString(body.ClassName());
    body.WriteBodyData(*this);
  }
}

std::string TclBodyReader::ReadString() {
  std::string digits;
  char c = 0;
  for (;;) {
    if (stream_.Read(std::span<char>(&c, 1)) != 1)
      Invalid();
    if (c == ':')
      break;
    if (c < '0' || c > '9' || digits.size() >= kMaxDigits)
      Invalid();
    digits += c;
  }
  if (digits.empty())
    Invalid();
  const std::uint64_t length = std::stoull(digits);
  if (length > static_cast<std::uint64_t>(std::max<std::int64_t>(stream_.Remaining(), 0)))
    Invalid();
  std::string value(static_cast<std::size_t>(length), '\0');
  if (stream_.Read(std::span<char>(value.data(), value.size())) != value.size())
    Invalid();
  if (stream_.Read(std::span<char>(&c, 1)) != 1 || c != '\n')
    Invalid();
  return value;
}

std::int64_t TclBodyReader::ReadInteger() {
  const std::string text = ReadString();
  const std::string_view digits =
      kz::StartsWith(text, "-") ? std::string_view(text).substr(1) : std::string_view(text);
  if (digits.empty() || digits.size() > 18 ||
      digits.find_first_not_of("0123456789") != std::string_view::npos) {
    Invalid();
  }
  return std::stoll(text);
}

void TclBodyReader::ReadBodies(TclMessageBodies& bodies) {
  if (++depth_ > TclMailMessage::kMaxNestingDepth)
    Invalid();
  const std::int64_t count = ReadInteger();
  // Every body takes at least a few bytes: a count beyond that is not believed.
  if (count < 0 || count > stream_.Remaining())
    Invalid();
  TclMailMessage& owner = *bodies.Owner();
  owner.BeginUpdate();
  try {
    bodies.Clear();
    for (std::int64_t i = 0; i < count; ++i) {
      TclMessageBody* body = bodies.AddBody(ReadString());
      if (body == nullptr)
        Invalid();
      body->ReadBodyData(*this);
    }
  } catch (...) {
    owner.EndUpdate();
    --depth_;
    throw;
  }
  owner.EndUpdate();
  --depth_;
}

void SaveBodies(const TclMessageBodies& bodies, TStream& stream) {
  TclBodyWriter writer(stream);
  writer.WriteString(kPropertyName);
  writer.WriteBodies(bodies);
}

void LoadBodies(TclMessageBodies& bodies, TStream& stream) {
  TclBodyReader reader(stream);
  if (reader.ReadString() != kPropertyName)
    Invalid();
  reader.ReadBodies(bodies);
}

// ---------------------------------------------------------------------------------------
// The bodies' own fields

void TclMessageBody::WriteBodyData(TclBodyWriter& writer) const {
  writer.WriteString(kz::JoinLines(extraFields_));
  writer.WriteString(contentType_);
  writer.WriteInteger(static_cast<int>(encoding_));
  writer.WriteString(contentDisposition_);
}

void TclMessageBody::ReadBodyData(TclBodyReader& reader) {
  extraFields_ = kz::SplitLines(reader.ReadString());
  contentType_ = reader.ReadString();
  encoding_ = ToMethod(reader.ReadInteger());
  contentDisposition_ = reader.ReadString();
  Changed();
}

void TclTextBody::WriteBodyData(TclBodyWriter& writer) const {
  writer.WriteString(Text());
  writer.WriteString(charSet_);
  TclMessageBody::WriteBodyData(writer);
}

void TclTextBody::ReadBodyData(TclBodyReader& reader) {
  strings_ = kz::SplitLines(reader.ReadString());
  charSet_ = reader.ReadString();
  TclMessageBody::ReadBodyData(reader);
}

void TclAttachmentBody::WriteBodyData(TclBodyWriter& writer) const {
  writer.WriteString(fileName_);
  writer.WriteString(contentID_);
  TclMessageBody::WriteBodyData(writer);
}

void TclAttachmentBody::ReadBodyData(TclBodyReader& reader) {
  // Stored values are taken as they are: no file is opened, no content ID generated.
  fileName_ = reader.ReadString();
  contentID_ = reader.ReadString();
  TclMessageBody::ReadBodyData(reader);
}

void TclMultipartBody::WriteBodyData(TclBodyWriter& writer) const {
  writer.WriteString(contentSubType_);
  writer.WriteBodies(*bodies_);
  TclMessageBody::WriteBodyData(writer);
}

void TclMultipartBody::ReadBodyData(TclBodyReader& reader) {
  contentSubType_ = reader.ReadString();
  reader.ReadBodies(*bodies_);
  TclMessageBody::ReadBodyData(reader);
}
