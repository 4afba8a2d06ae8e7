// TclMailMessage: reading a message source back into properties and bodies. The reader
// takes any input: nesting is limited (deeper multiparts stay attachment data), a part
// without header or an unclosed boundary is read as far as it goes, and every line is
// looked at a bounded number of times.
#include <algorithm>

#include "core/StringUtils.h"
#include "mail/clMailMessage.h"
#include "mail/clUtils.h"

namespace {

bool HasField(const TclHeaderFieldList& fields, std::string_view lowerName) {
  return std::any_of(fields.begin(), fields.end(),
                     [&](const TclHeaderField& f) { return f.Name == lowerName; });
}

std::size_t FirstEmptyLine(std::span<const std::string> lines, std::size_t from) {
  for (std::size_t i = from; i < lines.size(); ++i) {
    if (lines[i].empty())
      return i;
  }
  return lines.size();
}

// An address text with an encoded display name decoded.
std::string DecodeAddress(std::string_view value, std::string_view charSet) {
  const std::string email = ParseEmail(value);
  const std::string name = ParseName(value, email);
  if (name.empty() || email.empty())
    return std::string(value);
  return JoinEmailAddress(DecodeHeaderValue(name, charSet), email);
}

// Splits an address list at commas outside double quotes and parentheses.
std::vector<std::string> SplitAddresses(std::string_view value) {
  std::vector<std::string> out;
  bool inQuotes = false;
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= value.size(); ++i) {
    const char c = i < value.size() ? value[i] : ',';
    if (c == '\\' && i + 1 < value.size()) {
      ++i;
      continue;
    }
    if (c == '"')
      inQuotes = !inQuotes;
    else if (c == '(' && !inQuotes)
      ++depth;
    else if (c == ')' && !inQuotes && depth > 0)
      --depth;
    else if (c == ',' && ((!inQuotes && depth == 0) || i == value.size())) {
      const std::string_view piece = kz::Trim(value.substr(start, i - start));
      if (!piece.empty())
        out.emplace_back(piece);
      start = i + 1;
    }
  }
  return out;
}

TclStringList SplitAt(std::string_view value, char separator) {
  TclStringList out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= value.size(); ++i) {
    if (i == value.size() || value[i] == separator) {
      const std::string_view piece = kz::Trim(value.substr(start, i - start));
      if (!piece.empty())
        out.emplace_back(piece);
      start = i + 1;
    }
  }
  return out;
}

// A header line of a part: a field or a continuation line.
bool IsHeaderLine(const std::string& line) {
  return !line.empty() &&
         (line[0] == ' ' || line[0] == '\t' || line.find(':') != std::string::npos);
}

// "begin <mode> <name>": the start of a uuencoded block.
bool IsBeginLine(std::string_view line, std::string& name) {
  if (line.size() < 9 || !kz::EqualsNoCase(line.substr(0, 6), "begin "))
    return false;
  const std::size_t space = line.find(' ', 6);
  if (space == std::string_view::npos || space == 6)
    return false;
  const std::string_view mode = line.substr(6, space - 6);
  if (mode.find_first_not_of("0123456789") != std::string_view::npos)
    return false;
  name = std::string(kz::Trim(line.substr(space + 1)));
  return !name.empty();
}

TclStringList UnknownFields(std::span<const std::string> header, const TclHeaderFieldList& fields,
                            const TclStringList& known) {
  TclStringList out;
  const TclStringList lines(header.begin(), header.end());
  for (const TclHeaderField& field : fields) {
    const bool isKnown = std::any_of(known.begin(), known.end(), [&](const std::string& k) {
      return kz::EqualsNoCase(k, field.Name);
    });
    if (isKnown)
      continue;
    const std::string& line = header[static_cast<std::size_t>(field.Line)];
    const std::string_view name = kz::TrimRight(std::string_view(line).substr(0, line.find(':')));
    out.push_back(std::string(name) + ": " + GetHeaderFieldValue(lines, field));
  }
  return out;
}

// Sets a flag for the lifetime of a scope.
class ParseScope {
 public:
  explicit ParseScope(bool& flag) : flag_(flag), saved_(flag) { flag_ = true; }
  ~ParseScope() { flag_ = saved_; }
  ParseScope(const ParseScope&) = delete;
  ParseScope& operator=(const ParseScope&) = delete;

 private:
  bool& flag_;
  bool saved_;
};

}  // namespace

void TclMailMessage::SetMessageSource(std::span<const std::string> lines) {
  BeginUpdate();
  try {
    Clear();
    ParseScope parsing(isParse_);
    ParseHeader(lines);
    ParseBodies(lines, 0);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TclMailMessage::SetHeaderSource(std::span<const std::string> lines) {
  BeginUpdate();
  try {
    Clear();
    ParseScope parsing(isParse_);
    ParseHeader(lines);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TclMailMessage::ParseContentType(std::span<const std::string> lines,
                                      const TclHeaderFieldList& fields) {
  const TclStringList header(lines.begin(), lines.end());
  const std::string value = GetHeaderFieldValue(header, fields, "content-type");
  messageFormat_ = HasField(fields, "content-type") || HasField(fields, "mime-version")
                       ? TclMessageFormat::mfMIME
                       : TclMessageFormat::mfUUencode;
  contentType_ = GetHeaderParam(value, "");
  contentSubType_ = GetHeaderParam(value, "type=");
  boundary_ = GetHeaderParam(value, "boundary=");
  charSet_ = GetHeaderParam(value, "charset=");
}

void TclMailMessage::ParseHeader(std::span<const std::string> lines) {
  const std::size_t end = FirstEmptyLine(lines, 0);
  const TclStringList header(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(end));
  TclHeaderFieldList fields;
  GetHeaderFieldList(0, header, fields);
  auto value = [&](std::string_view name) { return GetHeaderFieldValue(header, fields, name); };

  ParseContentType(header, fields);
  contentDisposition_ = GetHeaderParam(value("content-disposition"), "");
  const std::string transfer = kz::LowerAscii(kz::Trim(value("content-transfer-encoding")));
  if (transfer == "quoted-printable")
    encoding_ = TclEncodeMethod::cmQuotedPrintable;
  else if (transfer == "base64")
    encoding_ = TclEncodeMethod::cmBase64;

  from_.SetFullAddress(DecodeAddress(value("from"), charSet_));
  for (const auto& [name, list] : {std::pair<const char*, TclEmailAddressList*>{"to", &toList_},
                                   {"cc", &ccList_},
                                   {"bcc", &bccList_}}) {
    list->Clear();
    for (const std::string& piece : SplitAddresses(value(name)))
      list->Add(DecodeAddress(piece, charSet_));
  }
  subject_ = DecodeHeaderValue(value("subject"), charSet_);

  std::string date = value("date");
  if (date.empty()) {
    const std::string received = value("received");
    const std::size_t semicolon = received.rfind(';');
    if (semicolon != std::string::npos)
      date = received.substr(semicolon + 1);
  }
  if (!kz::Trim(date).empty()) {
    try {
      date_ = ParseMailDate(DecodeHeaderValue(date, charSet_));
    } catch (const EclError&) {
      // A date that does not read leaves the date as it was.
    }
  }

  struct PriorityField {
    const char* name;
    const char* low;
    const char* high;
  };
  for (const PriorityField& f :
       {PriorityField{"importance", "low", "high"}, PriorityField{"x-priority", "5", "1"},
        PriorityField{"x-msmail-priority", "low", "high"}}) {
    const std::string v(kz::Trim(value(f.name)));
    if (priority_ != TclMessagePriority::mpNormal || v.empty())
      continue;
    if (kz::EqualsNoCase(v, f.low))
      priority_ = TclMessagePriority::mpLow;
    else if (kz::EqualsNoCase(v, f.high))
      priority_ = TclMessagePriority::mpHigh;
  }

  replyTo_ = DecodeAddress(value("reply-to"), charSet_);
  readReceiptTo_ = DecodeAddress(value("disposition-notification-to"), charSet_);
  messageID_ = value("message-id");
  mimeOLE_ = value("x-mimeole");
  newsGroups_ = SplitAt(value("newsgroups"), ',');
  references_ = SplitAt(value("references"), ' ');
  rawHeader_ = header;
  encodedStart_ = static_cast<int>(end) + 1;
  extraFields_ = UnknownFields(header, fields, knownFields_);
}

void TclMailMessage::ParseBodies(std::span<const std::string> lines, int start) {
  if (boundary_.empty() || !ParseMultiPart(lines, start))
    ParseSinglePart(lines, *bodies_);
  bodies_->RemoveIf([](const TclMessageBody& body) {
    const auto* text = dynamic_cast<const TclTextBody*>(&body);
    if (text == nullptr)
      return false;
    return std::all_of(text->Strings().begin(), text->Strings().end(),
                       [](const std::string& line) { return kz::Trim(line).empty(); });
  });
}

TclMessageBody& TclMailMessage::CreateBody(TclMessageBodies& owner, std::string_view contentType,
                                           std::string_view disposition) {
  const std::string type = kz::LowerAscii(contentType);
  if (kz::StartsWith(type, "multipart/") && depth_ + 1 < kMaxNestingDepth)
    return owner.Add<TclMultipartBody>();
  if (kz::StartsWith(type, "image/"))
    return owner.Add<TclImageBody>();
  if (!kz::EqualsNoCase(disposition, "attachment") && kz::StartsWith(type, "text/"))
    return owner.Add<TclTextBody>();
  return owner.Add<TclAttachmentBody>();
}

bool TclMailMessage::ParseMultiPart(std::span<const std::string> lines, int start) {
  const std::string delimiter = "--" + boundary_;
  const std::string closing = delimiter + "--";
  TclMessageBody* open = nullptr;
  std::size_t dataFirst = 0;
  bool any = false;
  std::size_t i = static_cast<std::size_t>(std::max(start, 0));
  while (i < lines.size()) {
    const std::string& line = lines[i];
    if (line.find(delimiter) == std::string::npos) {
      ++i;
      continue;
    }
    if (open != nullptr)
      FinishBody(open, lines, dataFirst, i);
    open = nullptr;
    if (line.find(closing) != std::string::npos) {
      ++i;
      continue;
    }
    // The part header: field lines up to an empty line; a part may have none.
    std::size_t h = i + 1;
    while (h < lines.size() && IsHeaderLine(lines[h]) &&
           lines[h].find(delimiter) == std::string::npos) {
      ++h;
    }
    const bool blank = h < lines.size() && lines[h].empty();
    const TclStringList header(lines.begin() + static_cast<std::ptrdiff_t>(i + 1),
                               lines.begin() + static_cast<std::ptrdiff_t>(h));
    TclHeaderFieldList fields;
    GetHeaderFieldList(0, header, fields);
    TclMessageBody& body = CreateBody(
        *bodies_, GetHeaderParam(GetHeaderFieldValue(header, fields, "content-type"), ""),
        GetHeaderParam(GetHeaderFieldValue(header, fields, "content-disposition"), ""));
    body.ParseBodyHeader(header, fields);
    body.extraFields_ = UnknownFields(header, fields, body.KnownFields());
    body.rawHeader_ = header;
    body.rawStart_ = static_cast<int>(i + 1);
    dataFirst = blank ? h + 1 : h;
    body.encodedStart_ = static_cast<int>(dataFirst);
    open = &body;
    any = true;
    i = dataFirst;
  }
  if (open != nullptr)
    FinishBody(open, lines, dataFirst, lines.size());
  return any;
}

void TclMailMessage::FinishBody(TclMessageBody* body, std::span<const std::string> lines,
                                std::size_t first, std::size_t last) {
  first = std::min(first, last);
  const std::span<const std::string> data = lines.subspan(first, last - first);
  auto* multipart = dynamic_cast<TclMultipartBody*>(body);
  const TclEncodeMethod own = body->OwnEncoding();
  if (multipart != nullptr && own != TclEncodeMethod::cmQuotedPrintable &&
      own != TclEncodeMethod::cmBase64) {
    // Nested parts are read straight from the lines; the data is joined only for a
    // listener of OnDataAdded.
    multipart->ReadLines(data);
    if (WantsDataAdded()) {
      TMemoryStream joined;
      for (const std::string& line : data) {
        joined.Write(std::string_view(line));
        joined.Write(std::string_view("\r\n"));
      }
      joined.SetSize(std::max<std::int64_t>(joined.Size() - 2, 0));
      multipart->TclMessageBody::DataDecoded(joined);
    }
    return;
  }
  body->FinishData(data);
}

bool TclMailMessage::WantsDataAdded() const {
  const TclMailMessage* top = this;
  while (top->parent_ != nullptr)
    top = top->parent_;
  return static_cast<bool>(top->OnDataAdded);
}

void TclMailMessage::ParseSinglePart(std::span<const std::string> lines, TclMessageBodies& bodies) {
  const std::size_t end = FirstEmptyLine(lines, 0);
  const TclStringList header(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(end));
  TclHeaderFieldList fields;
  GetHeaderFieldList(0, header, fields);
  const std::string type = kz::LowerAscii(contentType_);
  const bool attachment = kz::EqualsNoCase(contentDisposition_, "attachment") ||
                          kz::StartsWith(type, "application/") ||
                          kz::StartsWith(type, "message/") || kz::StartsWith(type, "audio/") ||
                          kz::StartsWith(type, "video/");
  TclMessageBody* body = attachment ? static_cast<TclMessageBody*>(&bodies.Add<TclAttachmentBody>())
                                    : &bodies.Add<TclTextBody>();
  body->ParseBodyHeader(header, fields);
  body->rawHeader_ = header;
  body->rawStart_ = 0;
  std::size_t dataFirst = std::min(end + 1, lines.size());
  body->encodedStart_ = static_cast<int>(dataFirst);
  std::string name;
  for (std::size_t i = dataFirst; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (IsBeginLine(line, name)) {
      messageFormat_ = TclMessageFormat::mfUUencode;
      if (body != nullptr)
        FinishBody(body, lines, dataFirst, i);
      body = &CreateUUEAttachmentBody(bodies, name);
      dataFirst = i + 1;
      body->encodedStart_ = static_cast<int>(dataFirst);
      continue;
    }
    if (messageFormat_ == TclMessageFormat::mfUUencode && body != nullptr &&
        kz::EqualsNoCase(kz::Trim(line), "end")) {
      FinishBody(body, lines, dataFirst, i);
      body = nullptr;
      dataFirst = i + 1;
      continue;
    }
    if (body == nullptr) {
      // Text after a uuencoded block is kept as a text body of its own.
      body = &bodies.Add<TclTextBody>();
      dataFirst = i;
      body->encodedStart_ = static_cast<int>(i);
    }
  }
  if (body != nullptr)
    FinishBody(body, lines, dataFirst, lines.size());
}

TclAttachmentBody& TclMailMessage::CreateUUEAttachmentBody(TclMessageBodies& bodies,
                                                           std::string_view fileName) {
  TclAttachmentBody& body = bodies.Add<TclAttachmentBody>();
  body.fileName_ = SafeFileName(fileName);
  body.encoding_ = TclEncodeMethod::cmUUEncode;
  return body;
}
