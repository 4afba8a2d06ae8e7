// The body classes (text, attachment, image, multipart) and the body list.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "core/DateTime.h"
#include "core/StringUtils.h"
#include "core/Utf.h"
#include "mail/clMailMessage.h"
#include "mail/clMessageBody.h"
#include "mail/clMimeParams.h"
#include "mail/clMimeTypes.h"
#include "mail/clTranslator.h"
#include "mail/clUtils.h"

namespace {

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// HoldsLineBreak tells whether the data has a CR or LF byte anywhere; it reads from the start.
bool HoldsLineBreak(TStream& data) {
  data.Seek(0, SeekOrigin::Begin);
  char buffer[64 * 1024];
  while (const std::size_t n = data.Read(buffer)) {
    if (std::find_if(buffer, buffer + n, [](char c) { return c == '\r' || c == '\n'; }) !=
        buffer + n)
      return true;
  }
  return false;
}

// Characters allowed in a Content-ID (RFC 2392 msg-id, dot-atom text); others become "_".
std::string MsgIdText(std::string_view text) {
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    std::string_view("!#$%&'*+-/=?^_`{|}~.").find(ch) != std::string_view::npos;
    out += ok ? ch : '_';
  }
  return out;
}

// A parameter of a part header: the RFC 2231 form first, then the plain one with any
// encoded words decoded.
std::string FileNameParam(std::string_view value, std::string_view name, std::string_view charSet) {
  bool found = false;
  std::string text = GetRfc2231Param(value, name, charSet, found);
  if (found)
    return text;
  const std::string plain = GetHeaderParam(value, std::string(name) + "=");
  return plain.empty() ? plain : DecodeHeaderValue(plain, charSet);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TclTextBody

void TclTextBody::SetCharSet(std::string_view value) {
  if (charSet_ == value)
    return;
  charSet_ = value;
  Changed();
}

void TclTextBody::SetStrings(TclStringList value) {
  if (strings_ == value)
    return;
  strings_ = std::move(value);
  Changed();
}

std::string TclTextBody::Text() const {
  return kz::JoinLines(strings_);
}

void TclTextBody::SetText(std::string_view text) {
  SetStrings(kz::SplitLines(text));
}

void TclTextBody::Clear() {
  TclMessageBody::Clear();
  strings_.clear();
  contentType_ = "text/plain";
  charSet_ = MailMessage()->CharSet();
}

void TclTextBody::Assign(const TclMessageBody& source) {
  TclMessageBody::Assign(source);
  if (const auto* text = dynamic_cast<const TclTextBody*>(&source)) {
    charSet_ = text->charSet_;
    strings_ = text->strings_;
  }
}

void TclTextBody::WriteBodyHeader(TclStringList& lines) {
  if (!contentType_.empty() && !charSet_.empty())
    AddHeaderFieldItems(lines, "Content-Type", {contentType_, "charset=" + Quoted(charSet_)}, ";");
  else
    AddHeaderField(lines, "Content-Type", contentType_);
  AddHeaderField(lines, "Content-Transfer-Encoding", EncodingToken(WriteEncodingOrEffective()));
  AddFieldLines(lines, extraFields_);
}

void TclTextBody::ParseBodyHeader(const TclStringList& lines, const TclHeaderFieldList& fields) {
  TclMessageBody::ParseBodyHeader(lines, fields);
  charSet_ = GetHeaderParam(GetHeaderFieldValue(lines, fields, "content-type"), "charset=");
}

std::shared_ptr<TStream> TclTextBody::OpenSourceData() {
  std::string text;
  for (const std::string& line : strings_) {
    text += line;
    text += "\r\n";
  }
  if (text.size() >= 3)
    text.resize(text.size() - 2);
  const std::string& charSet = charSet_.empty() ? MailMessage()->CharSet() : charSet_;
  return std::make_shared<TMemoryStream>(TclTranslator::GetBytes(text, charSet));
}

std::shared_ptr<TStream> TclTextBody::CreateTargetData() {
  return std::make_shared<TMemoryStream>();
}

void TclTextBody::DataDecoded(TStream& data) {
  const TclMailMessage* message = MailMessage();
  std::string charSet =
      charSet_.empty() || !message->IsMultiPartContent() ? message->CharSet() : charSet_;
  data.SetPosition(0);
  const std::string bytes = data.ReadAll();
  // Text that names no charset at all is taken as UTF-8 when it is valid UTF-8.
  if (charSet.empty() && kz::IsValidUtf8(bytes))
    charSet = "utf-8";
  strings_ = kz::SplitLines(TclTranslator::GetString(bytes, charSet));
  TclMessageBody::DataDecoded(data);
}

// ---------------------------------------------------------------------------------------
// TclAttachmentBody

void TclAttachmentBody::RegisterKnownFields() {
  TclMessageBody::RegisterKnownFields();
  AddKnownField("Content-ID");
}

void TclAttachmentBody::SetContentID(std::string_view value) {
  if (contentID_ == value)
    return;
  contentID_ = value;
  Changed();
}

void TclAttachmentBody::SetFileName(std::string_view value) {
  if (fileName_ == value)
    return;
  // The type follows the name's extension unless it was set otherwise.
  const bool typeFromName =
      !IsParse() && ClassName() == "TclAttachmentBody" &&
      (contentType_ == TclMimeTypes::kDefaultType ||
       (!fileName_.empty() && contentType_ == AttachmentContentType(fileName_)));
  fileName_ = value;
  if (typeFromName)
    contentType_ = AttachmentContentType(fileName_);
  if (!IsParse()) {
    if (std::shared_ptr<TStream> data = OpenData(true)) {
      Encoder().SetCharsPerLine(MailMessage()->CharsPerLine());
      encoding_ = Encoder().GetPreferredEncoding(*data);
      // Quoted-printable line breaks stand for the canonical CR LF of text; readers turn them
      // into their own line ends. A file that is not text keeps its bytes only in base64.
      if (encoding_ == TclEncodeMethod::cmQuotedPrintable && !contentType_.starts_with("text/") &&
          HoldsLineBreak(*data))
        encoding_ = TclEncodeMethod::cmBase64;
      // 7bit and 8bit lines travel as CR LF, so a LF or CR alone would arrive as CR LF.
      data->SetPosition(0);
      if (encoding_ != TclEncodeMethod::cmBase64 && HoldsLoneLineBreak(*data))
        encoding_ = TclEncodeMethod::cmBase64;
    }
  }
  Changed();
}

TclEncodeMethod TclAttachmentBody::GetEncoding() const {
  if (MailMessage()->MessageFormat() == TclMessageFormat::mfUUencode)
    return TclEncodeMethod::cmUUEncode;
  return TclMessageBody::GetEncoding();
}

void TclAttachmentBody::Clear() {
  TclMessageBody::Clear();
  fileName_.clear();
  contentType_ = "application/octet-stream";
  contentID_.clear();
  saveError_.clear();
  saveErrorCode_ = 0;
}

void TclAttachmentBody::Assign(const TclMessageBody& source) {
  TclMessageBody::Assign(source);
  if (const auto* attachment = dynamic_cast<const TclAttachmentBody*>(&source)) {
    fileName_ = attachment->fileName_;
    contentID_ = attachment->contentID_;
  }
}

std::shared_ptr<TStream> TclAttachmentBody::OpenData(bool onlyIfExists) {
  std::shared_ptr<TStream> data;
  bool handled = false;
  MailMessage()->DoLoadAttachment(this, fileName_, data, handled);
  if (handled && data) {
    data->SetPosition(0);
    return data;
  }
  if (fileName_.empty() || (onlyIfExists && !FileExists(fileName_)))
    return nullptr;
  return std::make_shared<TFileStream>(fileName_, TFileStream::Mode::Read);
}

std::shared_ptr<TStream> TclAttachmentBody::OpenSourceData() {
  return OpenData(false);
}

std::shared_ptr<TStream> TclAttachmentBody::CreateTargetData() {
  std::shared_ptr<TStream> data;
  bool handled = false;
  MailMessage()->DoSaveAttachment(this, fileName_, data, handled);
  return handled ? data : nullptr;
}

void TclAttachmentBody::FinishData(std::span<const std::string> lines) {
  saveError_.clear();
  saveErrorCode_ = 0;
  try {
    TclMessageBody::FinishData(lines);
  } catch (const EclError& e) {
    saveError_ = "Cannot save attachment \"" + std::string(BaseName(fileName_)) + "\": " + e.what();
    saveErrorCode_ = e.ErrorCode;
  }
}

void TclAttachmentBody::WriteNameFields(TclStringList& lines, bool defaultDisposition) {
  const TclMailMessage* message = MailMessage();
  const std::string_view name = BaseName(fileName_);
  const bool plain = IsPlainParamValue(name);
  if (!contentType_.empty() && !name.empty()) {
    const std::string value =
        plain ? std::string(name)
              : EncodeParamWords(name, message->CharSet(), message->HeaderMethod());
    AddHeaderFieldItems(lines, "Content-Type", {contentType_, "name=" + Quoted(value)}, ";");
  } else {
    AddHeaderField(lines, "Content-Type", contentType_);
  }
  AddHeaderField(lines, "Content-Transfer-Encoding", EncodingToken(WriteEncodingOrEffective()));
  const std::string disposition =
      contentDisposition_.empty() && defaultDisposition ? "attachment" : contentDisposition_;
  if (!disposition.empty()) {
    TclStringList items{disposition};
    if (plain) {
      items.push_back("filename=" + Quoted(name));
    } else if (!name.empty()) {
      for (std::string& item : EncodeRfc2231Param("filename", name, message->CharSet()))
        items.push_back(std::move(item));
    }
    AddHeaderFieldItems(lines, "Content-Disposition", items, ";");
  }
  if (!contentID_.empty()) {
    AddHeaderField(lines, "Content-ID",
                   "<" +
                       EncodeHeaderValue(contentID_, message->CharSet(), message->HeaderMethod(),
                                         message->CharsPerLine()) +
                       ">");
  }
  AddFieldLines(lines, extraFields_);
}

void TclAttachmentBody::WriteBodyHeader(TclStringList& lines) {
  WriteNameFields(lines, true);
}

void TclAttachmentBody::ParseBodyHeader(const TclStringList& lines,
                                        const TclHeaderFieldList& fields) {
  TclMessageBody::ParseBodyHeader(lines, fields);
  const std::string& charSet = MailMessage()->CharSet();
  const std::string type = GetHeaderFieldValue(lines, fields, "content-type");
  const std::string disposition = GetHeaderFieldValue(lines, fields, "content-disposition");
  std::string name = FileNameParam(disposition, "filename", charSet);
  if (name.empty())
    name = FileNameParam(type, "filename", charSet);
  if (name.empty()) {
    name = DecodeHeaderValue(GetHeaderFieldValue(lines, fields, "content-description"), charSet);
    if (name.size() > 3 && name[name.size() - 4] != '.')
      name += ".dat";
  }
  if (name.empty())
    name = FileNameParam(type, "name", charSet);
  if (name.empty() && kz::EqualsNoCase(contentType_, "message/rfc822")) {
    name = DecodeHeaderValue(GetHeaderFieldValue(lines, fields, "subject"), charSet) + ".eml";
  }
  // A name from a message is never a path: only its last component is kept, made safe.
  fileName_ = name.empty() ? std::string() : SafeFileName(name);
  const std::string idField = GetHeaderFieldValue(lines, fields, "content-id");
  std::string_view id = kz::Trim(idField);
  if (id.size() >= 2 && id.front() == '<' && id.back() == '>')
    id = id.substr(1, id.size() - 2);
  contentID_ = std::string(id);
}

// ---------------------------------------------------------------------------------------
// TclImageBody

void TclImageBody::Clear() {
  TclAttachmentBody::Clear();
  contentType_.clear();
  encoding_ = TclEncodeMethod::cmBase64;
}

void TclImageBody::SetFileName(std::string_view value) {
  if (fileName_ == value)
    return;
  TclAttachmentBody::SetFileName(value);
  if (IsParse())
    return;
  if (contentID_.empty()) {
    static thread_local std::mt19937 rng{std::random_device{}()};
    char day[64];
    std::snprintf(day, sizeof day, "%.15g", kz::Now());
    contentID_ = MsgIdText(BaseName(fileName_)) + "@" + day + "." +
                 std::to_string(std::uniform_int_distribution<int>(0, 999)(rng));
  }
  if (contentType_.empty()) {
    const std::size_t last = fileName_.find_last_of(".\\:/");
    if (last != std::string::npos && fileName_[last] == '.' && last + 1 < fileName_.size())
      contentType_ = "image/" + fileName_.substr(last + 1);
  }
  Changed();
}

void TclImageBody::WriteBodyHeader(TclStringList& lines) {
  WriteNameFields(lines, false);
}

void TclImageBody::ParseBodyHeader(const TclStringList& lines, const TclHeaderFieldList& fields) {
  TclAttachmentBody::ParseBodyHeader(lines, fields);
  // An image is named by its Content-Type's name= first, then as any attachment.
  const std::string name = FileNameParam(GetHeaderFieldValue(lines, fields, "content-type"), "name",
                                         MailMessage()->CharSet());
  if (!name.empty())
    fileName_ = SafeFileName(name);
}

// ---------------------------------------------------------------------------------------
// TclMultipartBody

TclMultipartBody::TclMultipartBody(TclMessageBodies& owner) : TclMessageBody(owner) {}

TclMultipartBody::~TclMultipartBody() = default;

void TclMultipartBody::CreateParts() {
  bodies_ = std::make_unique<TclMessageBodies>(*MailMessage());
  message_ = std::make_unique<TclMailMessage>();
  TclMessageBody::CreateParts();
}

const std::string& TclMultipartBody::Boundary() const {
  return message_->Boundary();
}

void TclMultipartBody::SetContentSubType(std::string_view value) {
  if (contentSubType_ == value)
    return;
  contentSubType_ = value;
  Changed();
}

void TclMultipartBody::Clear() {
  TclMessageBody::Clear();
  bodies_->Clear();
  contentType_ = "multipart/mixed";
  contentSubType_.clear();
  encoding_ = TclEncodeMethod::cmNone;
  message_->boundary_.clear();
}

void TclMultipartBody::Assign(const TclMessageBody& source) {
  TclMessageBody::Assign(source);
  if (const auto* multipart = dynamic_cast<const TclMultipartBody*>(&source)) {
    bodies_->Assign(*multipart->bodies_);
    contentSubType_ = multipart->contentSubType_;
  }
}

void TclMultipartBody::WriteBodyHeader(TclStringList& lines) {
  TclMailMessage& inner = *message_;
  inner.parent_ = MailMessage();
  inner.BeginUpdate();
  inner.Clear();
  inner.CopyInnerSettings(*MailMessage());
  inner.Bodies().Assign(*bodies_);
  inner.EndUpdate();
  // The inner section is written now: its boundary must not occur in its own content.
  inner.WriteSectionWithFreshBoundary(inner.bodiesSource_);
  TclStringList items{contentType_};
  if (!contentSubType_.empty())
    items.push_back("type=" + Quoted(contentSubType_));
  items.push_back("boundary=" + Quoted(inner.Boundary()));
  AddHeaderFieldItems(lines, "Content-Type", items, ";");
  AddFieldLines(lines, extraFields_);
  lines.emplace_back();
}

std::size_t TclMultipartBody::AddDataLines(TclStringList& lines, bool& endsWithBreak) {
  TclStringList& section = message_->bodiesSource_;
  endsWithBreak = !section.empty();
  const std::size_t count = section.size();
  lines.insert(lines.end(), std::make_move_iterator(section.begin()),
               std::make_move_iterator(section.end()));
  section.clear();
  return count;
}

std::shared_ptr<TStream> TclMultipartBody::OpenSourceData() {
  auto data = std::make_shared<TMemoryStream>();
  for (const std::string& line : message_->bodiesSource_) {
    data->Write(std::string_view(line));
    data->Write(std::string_view("\r\n"));
  }
  data->SetPosition(0);
  return data;
}

std::shared_ptr<TStream> TclMultipartBody::CreateTargetData() {
  return std::make_shared<TMemoryStream>();
}

void TclMultipartBody::ParseBodyHeader(const TclStringList& lines,
                                       const TclHeaderFieldList& fields) {
  TclMessageBody::ParseBodyHeader(lines, fields);
  const std::string type = GetHeaderFieldValue(lines, fields, "content-type");
  contentSubType_ = GetHeaderParam(type, "type=");
  message_->boundary_ = GetHeaderParam(type, "boundary=");
}

void TclMultipartBody::DataDecoded(TStream& data) {
  data.SetPosition(0);
  const TclStringList lines = kz::SplitLines(data.ReadAll());
  ReadLines(lines);
  TclMessageBody::DataDecoded(data);
}

void TclMultipartBody::ReadLines(std::span<const std::string> lines) {
  TclMailMessage& inner = *message_;
  TclMailMessage* outer = MailMessage();
  const std::string boundary = inner.boundary_;
  inner.parent_ = outer;
  inner.depth_ = outer->depth_ + 1;
  inner.BeginUpdate();
  inner.Clear();
  inner.CopyInnerSettings(*outer);
  inner.boundary_ = boundary;
  inner.isParse_ = true;
  inner.ParseBodies(lines, 0);
  inner.isParse_ = false;
  inner.EndUpdate();
  encodedLines_ = static_cast<int>(lines.size());
  const int first = bodies_->Count();
  bodies_->MoveFrom(inner.Bodies());
  for (int i = first; i < bodies_->Count(); ++i)
    bodies_->Items(i).ShiftLines(encodedStart_);
}

// Line positions of nested bodies become positions in the outer source.
void TclMessageBody::ShiftLines(int delta) {
  rawStart_ += delta;
  encodedStart_ += delta;
  if (auto* multipart = dynamic_cast<TclMultipartBody*>(this)) {
    for (int i = 0; i < multipart->Bodies().Count(); ++i)
      multipart->Bodies().Items(i).ShiftLines(delta);
  }
}

// ---------------------------------------------------------------------------------------
// TclMessageBodies

TclMessageBodies::~TclMessageBodies() = default;

void TclMessageBodies::Changed() {
  owner_->Update();
}

void TclMessageBodies::Append(std::unique_ptr<TclMessageBody> body) {
  TclMessageBody& ref = *body;
  items_.push_back(std::move(body));
  ref.CreateParts();
  ref.Clear();
  Changed();
}

TclMessageBody* TclMessageBodies::AddBody(std::string_view className) {
  if (className == "TclTextBody")
    return &Add<TclTextBody>();
  if (className == "TclAttachmentBody")
    return &Add<TclAttachmentBody>();
  if (className == "TclImageBody")
    return &Add<TclImageBody>();
  if (className == "TclMultipartBody")
    return &Add<TclMultipartBody>();
  return nullptr;
}

TclTextBody& TclMessageBodies::AddText(std::string_view text) {
  TclTextBody& body = Add<TclTextBody>();
  body.SetText(text);
  if (body.GetEncoding() == TclEncodeMethod::cmNone) {
    body.Encoder().SetCharsPerLine(owner_->CharsPerLine());
    body.SetEncoding(body.Encoder().GetPreferredEncoding(text));
  }
  return body;
}

TclTextBody& TclMessageBodies::AddHtml(std::string_view text) {
  TclTextBody& body = AddText(text);
  body.SetContentType("text/html");
  return body;
}

TclMultipartBody& TclMessageBodies::AddMultipart() {
  return Add<TclMultipartBody>();
}

TclAttachmentBody& TclMessageBodies::AddAttachment(std::string_view fileName) {
  TclAttachmentBody& body = Add<TclAttachmentBody>();
  body.SetFileName(fileName);
  return body;
}

TclImageBody& TclMessageBodies::AddImage(std::string_view fileName) {
  TclImageBody& body = Add<TclImageBody>();
  body.SetFileName(fileName);
  return body;
}

void TclMessageBodies::Delete(int index) {
  items_.erase(items_.begin() + index);
  Changed();
}

void TclMessageBodies::Move(int curIndex, int newIndex) {
  if (curIndex == newIndex)
    return;
  auto body = std::move(items_.at(static_cast<std::size_t>(curIndex)));
  items_.erase(items_.begin() + curIndex);
  items_.insert(items_.begin() + std::clamp(newIndex, 0, Count()), std::move(body));
  Changed();
}

void TclMessageBodies::Clear() {
  if (items_.empty())
    return;
  items_.clear();
  Changed();
}

int TclMessageBodies::IndexOf(const TclMessageBody* body) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == body)
      return static_cast<int>(i);
  }
  return -1;
}

void TclMessageBodies::Assign(const TclMessageBodies& source) {
  if (&source == this)
    return;
  owner_->BeginUpdate();
  Clear();
  for (const auto& body : source.items_)
    AddBody(body->ClassName())->Assign(*body);
  owner_->EndUpdate();
}

void TclMessageBodies::SetOwner(TclMailMessage* owner) {
  owner_ = owner;
  for (auto& body : items_) {
    if (auto* multipart = dynamic_cast<TclMultipartBody*>(body.get()))
      multipart->bodies_->SetOwner(owner);
  }
}

void TclMessageBodies::MoveFrom(TclMessageBodies& source) {
  items_.reserve(items_.size() + source.items_.size());
  for (auto& body : source.items_) {
    body->owner_ = this;
    if (auto* multipart = dynamic_cast<TclMultipartBody*>(body.get()))
      multipart->bodies_->SetOwner(owner_);
    items_.push_back(std::move(body));
  }
  source.items_.clear();
  Changed();
}
