// TclMailMessage: properties, change tracking, BuildMessage and the MIME writer.
#include "mail/clMailMessage.h"

#include <algorithm>
#include <typeinfo>

#include "core/LineSplitter.h"
#include "core/Store.h"
#include "core/StringUtils.h"
#include "mail/clMimeParams.h"
#include "mail/clUtils.h"

namespace {

std::string Join(const TclStringList& list, std::string_view separator) {
  std::string out;
  for (const std::string& item : list) {
    if (!out.empty())
      out += separator;
    out += item;
  }
  return out;
}

template <class T>
void CollectExact(const TclMessageBodies& bodies, std::vector<T*>& out) {
  for (int i = 0; i < bodies.Count(); ++i) {
    TclMessageBody& body = bodies.Items(i);
    if (typeid(body) == typeid(T))
      out.push_back(static_cast<T*>(&body));
    if (auto* multipart = dynamic_cast<TclMultipartBody*>(&body))
      CollectExact(multipart->Bodies(), out);
  }
}

TclTextBody* FindText(const TclMessageBodies& bodies, std::string_view type) {
  for (int i = 0; i < bodies.Count(); ++i) {
    TclMessageBody& body = bodies.Items(i);
    if (auto* text = dynamic_cast<TclTextBody*>(&body)) {
      if (type.empty() || kz::EqualsNoCase(text->ContentType(), type))
        return text;
    }
    if (auto* multipart = dynamic_cast<TclMultipartBody*>(&body)) {
      if (TclTextBody* found = FindText(multipart->Bodies(), type))
        return found;
    }
  }
  return nullptr;
}

// FieldPrefix: the characters before a field's value on its first line ("Name: ").
std::size_t FieldPrefix(std::string_view name) {
  return name.size() + 2;
}

// Bounded retries for a boundary that occurs in the content: each new one has an extra
// random tail, so a retry practically never collides again.
constexpr int kBoundaryAttempts = 64;

}  // namespace

std::vector<std::string> ReadSourceLines(TStream& stream) {
  std::vector<std::string> lines;
  const std::int64_t size = stream.Remaining();
  if (size > 0)
    lines.reserve(static_cast<std::size_t>(size / 60));
  std::string chunk(1 << 16, '\0');
  kz::LineSplitter splitter;
  auto add = [&lines](std::string_view line) { lines.emplace_back(line); };
  while (const std::size_t n = stream.Read(std::span<char>(chunk.data(), chunk.size())))
    splitter.Feed(std::string_view(chunk.data(), n), add);
  splitter.Finish(add);
  return lines;
}

void WriteSourceLines(std::span<const std::string> lines, TStream& stream) {
  std::string buffer;
  buffer.reserve(1 << 16);
  for (const std::string& line : lines) {
    buffer += line;
    buffer += "\r\n";
    if (buffer.size() >= (1 << 16)) {
      stream.Write(std::string_view(buffer));
      buffer.clear();
    }
  }
  stream.Write(std::string_view(buffer));
}

TclMailMessage::TclMailMessage() : bodies_(std::make_unique<TclMessageBodies>(*this)) {
  RegisterKnownFields();
  Clear();
}

TclMailMessage::~TclMailMessage() {
  destroying_ = true;
  bodies_.reset();
}

void TclMailMessage::RegisterKnownFields() {
  for (const char* name :
       {"Content-Type", "Content-Disposition", "Content-Transfer-Encoding", "From", "To", "Cc",
        "Bcc", "Subject", "Date", "Importance", "X-Priority", "X-MSMail-Priority", "X-MimeOLE",
        "Reply-To", "Disposition-Notification-To", "Message-ID", "MIME-Version", "Newsgroups",
        "References"}) {
    bool known = false;
    for (const std::string& field : knownFields_)
      known = known || kz::EqualsNoCase(field, name);
    if (!known)
      knownFields_.emplace_back(name);
  }
}

// ---------------------------------------------------------------------------------------
// Properties

void TclMailMessage::SetCharSet(std::string_view value) {
  if (kz::Store(charSet_, value))
    Update();
}

void TclMailMessage::SetSubject(std::string_view value) {
  if (kz::Store(subject_, value))
    Update();
}

void TclMailMessage::SetPriority(TclMessagePriority value) {
  if (kz::Store(priority_, value))
    Update();
}

void TclMailMessage::SetDate(TDateTime value) {
  if (kz::Store(date_, value))
    Update();
}

void TclMailMessage::SetMessageFormat(TclMessageFormat value) {
  if (kz::Store(messageFormat_, value))
    Update();
}

void TclMailMessage::SetEncoding(TclEncodeMethod value) {
  if (kz::Store(encoding_, value))
    Update();
}

void TclMailMessage::SetHeaderEncoding(TclEncodeMethod value) {
  if (kz::Store(headerEncoding_, value))
    Update();
}

void TclMailMessage::SetContentType(std::string_view value) {
  if (kz::Store(contentType_, value))
    Update();
}

void TclMailMessage::SetContentSubType(std::string_view value) {
  if (kz::Store(contentSubType_, value))
    Update();
}

void TclMailMessage::SetContentDisposition(std::string_view value) {
  if (kz::Store(contentDisposition_, value))
    Update();
}

void TclMailMessage::SetIncludeRFC822Header(bool value) {
  if (kz::Store(includeRFC822Header_, value))
    Update();
}

void TclMailMessage::SetReplyTo(std::string_view value) {
  if (kz::Store(replyTo_, value))
    Update();
}

void TclMailMessage::SetMessageID(std::string_view value) {
  if (kz::Store(messageID_, value))
    Update();
}

void TclMailMessage::SetReadReceiptTo(std::string_view value) {
  if (kz::Store(readReceiptTo_, value))
    Update();
}

void TclMailMessage::SetMimeOLE(std::string_view value) {
  if (kz::Store(mimeOLE_, value))
    Update();
}

void TclMailMessage::SetCharsPerLine(int value) {
  if (kz::Store(charsPerLine_, value))
    Update();
}

void TclMailMessage::SetExtraFields(TclStringList value) {
  if (kz::Store(extraFields_, value))
    Update();
}

void TclMailMessage::SetNewsGroups(TclStringList value) {
  if (kz::Store(newsGroups_, value))
    Update();
}

void TclMailMessage::SetReferences(TclStringList value) {
  if (kz::Store(references_, value))
    Update();
}

void TclMailMessage::SetFrom(std::string_view fullAddress) {
  from_.SetFullAddress(fullAddress);
  Update();
}

TclTextBody* TclMailMessage::Text() const {
  return FindText(*bodies_, "text/plain");
}

TclTextBody* TclMailMessage::Html() const {
  return FindText(*bodies_, "text/html");
}

std::vector<TclAttachmentBody*> TclMailMessage::Attachments() const {
  std::vector<TclAttachmentBody*> out;
  CollectExact(*bodies_, out);
  return out;
}

std::vector<TclImageBody*> TclMailMessage::Images() const {
  std::vector<TclImageBody*> out;
  CollectExact(*bodies_, out);
  return out;
}

const TclStringList& TclMailMessage::MessageText() const {
  if (const TclTextBody* html = Html())
    return html->Strings();
  if (const TclTextBody* text = Text())
    return text->Strings();
  if (const TclTextBody* any = FindText(*bodies_, ""))
    return any->Strings();
  return emptyText_;
}

bool TclMailMessage::GetIsMultiPartContent() const {
  return parent_ != nullptr || bodies_->Count() > 1 || (isParse_ && !boundary_.empty());
}

TclEncodeMethod TclMailMessage::HeaderMethod() const {
  return headerEncoding_ != TclEncodeMethod::cmNone ? headerEncoding_ : encoding_;
}

// ---------------------------------------------------------------------------------------
// Change tracking

void TclMailMessage::Clear() {
  BeginUpdate();
  boundary_.clear();
  subject_.clear();
  from_.Clear();
  toList_.Clear();
  ccList_.Clear();
  bccList_.Clear();
  mimeOLE_.clear();
  messageID_.clear();
  replyTo_.clear();
  references_.clear();
  newsGroups_.clear();
  extraFields_.clear();
  readReceiptTo_.clear();
  contentDisposition_.clear();
  rawHeader_.clear();
  encodedStart_ = 0;
  bodies_->Clear();
  priority_ = TclMessagePriority::mpNormal;
  date_ = kz::Now();
  messageFormat_ = TclMessageFormat::mfNone;
  contentType_ = "text/plain";
  contentSubType_.clear();
  charSet_ = "iso-8859-1";
  encoding_ = TclEncodeMethod::cmNone;
  headerEncoding_ = TclEncodeMethod::cmNone;
  EndUpdate();
}

void TclMailMessage::EndUpdate() {
  if (updateCount_ > 0)
    --updateCount_;
  Update();
}

void TclMailMessage::Update() {
  if (destroying_ || updateCount_ > 0)
    return;
  Changed();
}

void TclMailMessage::Changed() {
  headerSource_.clear();
  bodiesSource_.clear();
  messageSource_.clear();
  if (OnChanged)
    OnChanged(this);
}

// ---------------------------------------------------------------------------------------
// Events: an inner message hands them to the message whose multipart body owns it.

void TclMailMessage::DoSaveAttachment(TclAttachmentBody* body, const std::string& fileName,
                                      std::shared_ptr<TStream>& data, bool& handled) {
  if (parent_ != nullptr)
    parent_->DoSaveAttachment(body, fileName, data, handled);
  else if (OnSaveAttachment)
    OnSaveAttachment(this, body, fileName, data, handled);
}

void TclMailMessage::DoLoadAttachment(TclAttachmentBody* body, const std::string& fileName,
                                      std::shared_ptr<TStream>& data, bool& handled) {
  if (parent_ != nullptr)
    parent_->DoLoadAttachment(body, fileName, data, handled);
  else if (OnLoadAttachment)
    OnLoadAttachment(this, body, fileName, data, handled);
}

void TclMailMessage::DoDataAdded(TclMessageBody* body, TStream& data) {
  if (parent_ != nullptr)
    parent_->DoDataAdded(body, data);
  else if (OnDataAdded)
    OnDataAdded(this, body, data);
}

void TclMailMessage::DoEncodingProgress(TclMessageBody* body, std::int64_t bytesProceed,
                                        std::int64_t total) {
  if (parent_ != nullptr)
    parent_->DoEncodingProgress(body, bytesProceed, total);
  else if (OnEncodingProgress)
    OnEncodingProgress(this, body, bytesProceed, total);
}

void TclMailMessage::CopyInnerSettings(const TclMailMessage& outer) {
  // The nested parts are written like the outer ones: same charset (so file names keep
  // their letters), encodings and line length.
  charSet_ = outer.charSet_;
  encoding_ = outer.encoding_;
  headerEncoding_ = outer.headerEncoding_;
  charsPerLine_ = outer.charsPerLine_;
  messageFormat_ = outer.messageFormat_;
}

// ---------------------------------------------------------------------------------------
// Writing

void TclMailMessage::WriteContentType(TclStringList& lines) {
  if (IsMultiPartContent()) {
    std::string type(kz::Trim(contentType_));
    TclStringList items{type.empty() ? "multipart/mixed" : type};
    if (!contentSubType_.empty())
      items.push_back("type=" + Quoted(contentSubType_));
    items.push_back("boundary=" + Quoted(boundary_));
    AddHeaderFieldItems(lines, "Content-Type", items, ";");
    return;
  }
  std::string type(kz::Trim(contentType_));
  if (type.empty())
    type = "text/plain";
  if (!charSet_.empty())
    AddHeaderFieldItems(lines, "Content-Type", {type, "charset=" + Quoted(charSet_)}, ";");
  else
    AddHeaderField(lines, "Content-Type", type);
}

void TclMailMessage::WriteHeader(TclStringList& lines, bool newBoundary) {
  if (newBoundary)
    boundary_ = GenerateBoundary();
  const TclEncodeMethod method = HeaderMethod();
  if (includeRFC822Header_) {
    AddHeaderField(lines, "Message-ID", messageID_);
    AddHeaderField(lines, "From",
                   EncodeHeaderAddress(from_.FullAddress(), charSet_, method, charsPerLine_,
                                       FieldPrefix("From")));
    AddHeaderField(
        lines, "Reply-To",
        EncodeHeaderAddress(replyTo_, charSet_, method, charsPerLine_, FieldPrefix("Reply-To")));
    AddHeaderField(lines, "Newsgroups", Join(newsGroups_, ","));
    AddHeaderField(lines, "References", Join(references_, " "));
    for (const auto& [name, list] :
         {std::pair<const char*, const TclEmailAddressList*>{"To", &toList_},
          {"Cc", &ccList_},
          {"Bcc", &bccList_}}) {
      std::string value;
      for (int i = 0; i < list->Count(); ++i) {
        if (i > 0)
          value += ",\r\n";
        // Each further address starts a continuation line (its TAB).
        value += EncodeHeaderAddress(list->Items(i).FullAddress(), charSet_, method, charsPerLine_,
                                     i == 0 ? FieldPrefix(name) : 1);
      }
      AddHeaderField(lines, name, value);
    }
    AddHeaderField(
        lines, "Subject",
        EncodeHeaderValue(subject_, charSet_, method, charsPerLine_, FieldPrefix("Subject")));
    AddHeaderField(lines, "Date",
                   EncodeHeaderValue(FormatMailDate(date_), charSet_, method, charsPerLine_));
    linesFieldPos_ = lines.size();
    if (messageFormat_ != TclMessageFormat::mfUUencode)
      AddHeaderField(lines, "MIME-Version", "1.0");
  }
  if (messageFormat_ != TclMessageFormat::mfUUencode)
    WriteContentType(lines);
  AddHeaderField(lines, "Content-Disposition", contentDisposition_);
  if (!IsMultiPartContent()) {
    // A single part is written with the encoding its data really needs (see WriteEncoding).
    TclEncodeMethod single = encoding_;
    if (bodies_->Count() == 1) {
      TclMessageBody& body = bodies_->Items(0);
      if (!body.writeEncoding_)
        body.writeEncoding_ = body.WriteEncoding();
      single = *body.writeEncoding_;
    }
    AddHeaderField(lines, "Content-Transfer-Encoding", EncodingToken(single));
  }
  if (includeRFC822Header_) {
    AddHeaderField(lines, "Importance",
                   priority_ == TclMessagePriority::mpLow    ? "Low"
                   : priority_ == TclMessagePriority::mpHigh ? "High"
                                                             : "");
    AddHeaderField(lines, "X-Priority",
                   priority_ == TclMessagePriority::mpLow    ? "5"
                   : priority_ == TclMessagePriority::mpHigh ? "1"
                                                             : "3");
    AddHeaderField(lines, "X-MimeOLE", mimeOLE_);
    AddHeaderField(lines, "Disposition-Notification-To",
                   EncodeHeaderAddress(readReceiptTo_, charSet_, method, charsPerLine_,
                                       FieldPrefix("Disposition-Notification-To")));
    AddFieldLines(lines, extraFields_);
  }
  lines.emplace_back();
}

bool TclMailMessage::WriteBodies(TclStringList& lines) {
  if (boundary_.empty())
    boundary_ = GenerateBoundary();
  const bool multipart = IsMultiPartContent();
  const bool uu = messageFormat_ == TclMessageFormat::mfUUencode;
  const std::string delimiter = "--" + boundary_;
  bool clean = true;
  for (int i = 0; i < bodies_->Count() && clean; ++i) {
    TclMessageBody& body = bodies_->Items(i);
    if (!body.writeEncoding_)
      body.writeEncoding_ = body.WriteEncoding();
    const std::size_t partStart = lines.size();
    if (multipart && !uu) {
      lines.push_back(delimiter);
      body.WriteBodyHeader(lines);
      lines.emplace_back();
    }
    auto* attachment = dynamic_cast<TclAttachmentBody*>(&body);
    if (uu && attachment != nullptr)
      lines.push_back("begin 600 " + std::string(BaseName(attachment->FileName())));
    bool endsWithBreak = false;
    const bool base64 = body.WriteEncodingOrEffective() == TclEncodeMethod::cmBase64;
    const std::size_t dataStart = lines.size();
    body.AddDataLines(lines, endsWithBreak);
    body.writeEncoding_.reset();
    if (multipart && !uu) {
      // The boundary must not occur in what it separates (base64 data cannot hold "--").
      const std::size_t end = base64 ? dataStart : lines.size();
      for (std::size_t k = partStart + 1; k < end && clean; ++k)
        clean = lines[k].find(delimiter) == std::string::npos;
    }
    if (uu && attachment != nullptr)
      lines.emplace_back("end");
    // The line break before a boundary belongs to the boundary: data that ended with a
    // line break keeps it through one more empty line.
    if (multipart && (endsWithBreak || uu))
      lines.emplace_back();
  }
  for (int i = 0; i < bodies_->Count(); ++i)
    bodies_->Items(i).writeEncoding_.reset();
  if (clean && multipart && !uu)
    lines.push_back(delimiter + "--");
  return clean;
}

void TclMailMessage::WriteSectionWithFreshBoundary(TclStringList& lines) {
  for (int attempt = 0; attempt < kBoundaryAttempts; ++attempt) {
    boundary_ = FreshBoundary(attempt);
    lines.clear();
    if (WriteBodies(lines))
      return;
  }
  throw EclMailMessageError("Cannot find a boundary that does not occur in the message", -1);
}

std::string TclMailMessage::FreshBoundary(int attempt) {
  std::string boundary = GenerateBoundary();
  if (attempt > 0)
    boundary += "." + GenerateBoundary().substr(6);
  return boundary;
}

void TclMailMessage::BuildSource() {
  TclStringList result;
  for (int attempt = 0;; ++attempt) {
    if (attempt >= kBoundaryAttempts)
      throw EclMailMessageError("Cannot find a boundary that does not occur in the message", -1);
    result.clear();
    boundary_ = FreshBoundary(attempt);
    WriteHeader(result, false);
    if (IsMultiPartContent() && messageFormat_ != TclMessageFormat::mfUUencode) {
      result.emplace_back("This is a multi-part message in MIME format.");
      result.emplace_back();
    }
    const std::size_t bodyStart = result.size();
    if (WriteBodies(result)) {
      if (!newsGroups_.empty() && includeRFC822Header_) {
        result.insert(result.begin() + static_cast<std::ptrdiff_t>(linesFieldPos_),
                      "Lines: " + std::to_string(result.size() - bodyStart));
      }
      break;
    }
  }
  messageSource_ = std::move(result);
}

const TclStringList& TclMailMessage::MessageSource() {
  if (messageSource_.empty())
    BuildSource();
  return messageSource_;
}

TclStringList& TclMailMessage::MessageSourceForSend() {
  MessageSource();
  return messageSource_;
}

const TclStringList& TclMailMessage::HeaderSource() {
  if (headerSource_.empty()) {
    WriteHeader(headerSource_, true);
    for (int i = 0; i < bodies_->Count(); ++i)
      bodies_->Items(i).writeEncoding_.reset();
  }
  return headerSource_;
}

const TclStringList& TclMailMessage::BodiesSource() {
  if (bodiesSource_.empty() && !WriteBodies(bodiesSource_)) {
    headerSource_.clear();  // written with the boundary that had to change
    WriteSectionWithFreshBoundary(bodiesSource_);
  }
  return bodiesSource_;
}
