// TclMailMessage: reading a message source back into properties and bodies. The reader
// takes any input: nesting is limited (deeper multiparts stay attachment data), a part
// without header or an unclosed boundary is read as far as it goes, and every line is
// looked at a bounded number of times.
#include <algorithm>
#include <iterator>

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

// A field line ("Name: value", RFC 5322 field name, white space before the colon allowed
// as the obsolete syntax does) or a continuation line.
bool IsHeaderLine(std::string_view line) {
  if (line.empty())
    return false;
  if (line[0] == ' ' || line[0] == '\t')
    return true;
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos)
    return false;
  const std::string_view name = kz::TrimRight(line.substr(0, colon));
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) > 32 && static_cast<unsigned char>(c) < 127;
  });
}

// What a line is to a multipart body with this delimiter ("--" + boundary): a boundary line
// starts with the delimiter and has nothing after it but "--" (the closing one) and white
// space, so a boundary that is the start of an inner part's boundary is not taken for it.
enum class BoundaryLine { None, Open, Close };
BoundaryLine ClassifyBoundary(std::string_view line, std::string_view delimiter) {
  if (!line.starts_with(delimiter))
    return BoundaryLine::None;
  std::string_view rest = line.substr(delimiter.size());
  const bool closing = rest.starts_with("--");
  if (closing)
    rest.remove_prefix(2);
  if (rest.find_first_not_of(" \t") != std::string_view::npos)
    return BoundaryLine::None;
  return closing ? BoundaryLine::Close : BoundaryLine::Open;
}

// "begin <mode> <name>": the octal mode and the name of a uuencoded block.
bool IsBeginLine(std::string_view line, std::string& name) {
  if (line.size() < 9 || !kz::EqualsNoCase(line.substr(0, 6), "begin "))
    return false;
  const std::size_t space = line.find(' ', 6);
  if (space == std::string_view::npos || space == 6 || space > 6 + 6)
    return false;
  const std::string_view mode = line.substr(6, space - 6);
  if (mode.find_first_not_of("01234567") != std::string_view::npos)
    return false;
  name = std::string(kz::Trim(line.substr(space + 1)));
  return !name.empty();
}

// A line of uuencoded data: its first character gives the byte count (0 to 63, "`" for 0),
// and the line holds the characters of that many bytes (a final padding group and one check
// character more are allowed); every character lies between space and "`".
bool IsUULine(std::string_view line) {
  const std::string_view text = kz::TrimRight(line);
  if (text.empty())
    return line.size() <= 1;  // the zero-length line " " with its space lost
  if (std::any_of(text.begin(), text.end(), [](char c) { return c < 32 || c > 96; }))
    return false;
  const std::size_t count = static_cast<std::size_t>((text[0] - 32) & 63);
  const std::size_t least = 1 + (count * 4 + 2) / 3;
  const std::size_t most = 1 + (count + 2) / 3 * 4 + 1;
  // Trailing spaces stand for zero bits and may have been stripped.
  return text.size() <= most && (text.size() >= least || line.size() >= least);
}

// UUBlockEnd gives the line "end" of a uuencoded block that starts at lines[begin], or npos
// when the lines after it are not such a block; `stop` is where that became certain.
std::size_t UUBlockEnd(std::span<const std::string> lines, std::size_t begin, std::size_t& stop) {
  for (std::size_t j = begin + 1; j < lines.size(); ++j) {
    if (kz::EqualsNoCase(kz::Trim(lines[j]), "end"))
      return j;
    if (!IsUULine(lines[j])) {
      stop = j;
      return std::string_view::npos;
    }
  }
  stop = lines.size();
  return std::string_view::npos;
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

// PartHeaderEnd gives the line that ends the header of a part starting at `first`: the
// first empty line, when it comes before the next boundary line and at least half the lines
// before it are fields (a stray line among them does not end the header); otherwise the
// first line that is no field (a part may have no header at all). Every line is looked at
// once here and once more as data.
std::size_t PartHeaderEnd(std::span<const std::string> lines, std::size_t first,
                          std::string_view delimiter) {
  std::size_t fieldLines = 0;
  std::size_t firstOther = lines.size();
  for (std::size_t h = first; h < lines.size(); ++h) {
    const std::string& line = lines[h];
    if (ClassifyBoundary(line, delimiter) != BoundaryLine::None)
      return std::min(firstOther, h);
    if (line.empty()) {
      const std::size_t others = h - first - fieldLines;
      return fieldLines > 0 && fieldLines >= others ? h : std::min(firstOther, h);
    }
    if (IsHeaderLine(line))
      ++fieldLines;
    else
      firstOther = std::min(firstOther, h);
  }
  return std::min(firstOther, lines.size());
}

// XPriorityLevel reads an X-Priority value as writers give it: the number 1 to 5, often with
// a comment ("1 (Highest)", "2 (High)", "4 (Low)"); 1 and 2 are high ("1"), 4 and 5 low
// ("5"), anything else stays as written.
std::string XPriorityLevel(std::string_view value) {
  const std::size_t digits = value.find_first_not_of("0123456789");
  const std::string_view number = value.substr(0, digits);
  if (number.size() != 1 || (digits != std::string_view::npos && value[digits] != ' ' &&
                             value[digits] != '\t' && value[digits] != '('))
    return std::string(value);
  if (number == "1" || number == "2")
    return "1";
  if (number == "4" || number == "5")
    return "5";
  return std::string(value);
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
    std::string v(kz::Trim(value(f.name)));
    if (f.name == std::string_view("x-priority"))
      v = XPriorityLevel(v);
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
  TclMessageBody* open = nullptr;
  std::size_t dataFirst = 0;
  bool any = false;
  std::size_t i = static_cast<std::size_t>(std::max(start, 0));
  while (i < lines.size()) {
    const BoundaryLine kind = ClassifyBoundary(lines[i], delimiter);
    if (kind == BoundaryLine::None) {
      ++i;
      continue;
    }
    if (open != nullptr)
      FinishBody(open, lines, dataFirst, i);
    open = nullptr;
    if (kind == BoundaryLine::Close) {
      ++i;
      continue;
    }
    const std::size_t h = PartHeaderEnd(lines, i + 1, delimiter);
    const bool blank = h < lines.size() && lines[h].empty();
    const TclStringList raw(lines.begin() + static_cast<std::ptrdiff_t>(i + 1),
                            lines.begin() + static_cast<std::ptrdiff_t>(h));
    // A line inside the header that is no field is passed over; the fields around it count.
    TclStringList header;
    header.reserve(raw.size());
    std::copy_if(raw.begin(), raw.end(), std::back_inserter(header),
                 [](const std::string& line) { return IsHeaderLine(line); });
    TclHeaderFieldList fields;
    GetHeaderFieldList(0, header, fields);
    TclMessageBody& body = CreateBody(
        *bodies_, GetHeaderParam(GetHeaderFieldValue(header, fields, "content-type"), ""),
        GetHeaderParam(GetHeaderFieldValue(header, fields, "content-disposition"), ""));
    body.ParseBodyHeader(header, fields);
    body.extraFields_ = UnknownFields(header, fields, body.KnownFields());
    body.rawHeader_ = raw;
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
  // A begin line before noBlockBefore is known to start no block: the lines after it up to
  // there were looked at already, so none is looked at twice for this.
  std::size_t noBlockBefore = 0;
  for (std::size_t i = dataFirst; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (i >= noBlockBefore && IsBeginLine(line, name)) {
      std::size_t stop = 0;
      const std::size_t blockEnd = UUBlockEnd(lines, i, stop);
      if (blockEnd != std::string_view::npos) {
        messageFormat_ = TclMessageFormat::mfUUencode;
        if (body != nullptr)
          FinishBody(body, lines, dataFirst, i);
        TclAttachmentBody& uu = CreateUUEAttachmentBody(bodies, name);
        uu.encodedStart_ = static_cast<int>(i + 1);
        FinishBody(&uu, lines, i + 1, blockEnd);
        body = nullptr;
        i = blockEnd;
        dataFirst = blockEnd + 1;
        continue;
      }
      noBlockBefore = stop;
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
