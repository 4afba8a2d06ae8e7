#include "mail/clMailUtils.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "core/StringUtils.h"
#include "core/Utf.h"
#include "mail/clEmailAddress.h"
#include "mail/clTranslator.h"

namespace {

bool IsWsp(char c) {
  return c == ' ' || c == '\t';
}

// Header text that is not UTF-8 is taken as raw bytes of the header's charset.
std::string DecodePlain(std::string_view text, std::string_view charSet) {
  if (kz::IsValidUtf8(text))
    return std::string(text);
  return TclTranslator::GetString(text, charSet);
}

std::string DecodeQWord(std::string_view s) {
  return kz::DecodeHexEscapes(s, '=', /*underscoreIsSpace=*/true);
}

// Where the parts of one encoded word ("=?charset?X?text?=") lie in a text.
struct EncodedWordSpan {
  std::string_view charSet;  // as written, an RFC 2231 language suffix included
  char letter = 0;           // the method letter, as written
  std::string_view payload;  // the encoded text
  std::size_t end = 0;       // position after the closing "?="
};

// ScanEncodedWord reads the syntax of the encoded word at `pos` ("=?"); nothing when the
// text there is not one. The encoded text ends at the first "?", which must begin the
// closing "?="; so a scan never runs past the next word's start and a text full of
// unclosed words is read in linear time. The method letter is not judged here.
std::optional<EncodedWordSpan> ScanEncodedWord(std::string_view text, std::size_t pos) {
  if (text.substr(pos, 2) != "=?")
    return std::nullopt;
  const std::size_t q1 = text.find('?', pos + 2);
  if (q1 == std::string_view::npos || q1 + 2 >= text.size() || text[q1 + 2] != '?') {
    return std::nullopt;
  }
  const std::size_t close = text.find_first_of("?\r\n", q1 + 3);
  if (close == std::string_view::npos || text[close] != '?' || close + 1 >= text.size() ||
      text[close + 1] != '=') {
    return std::nullopt;
  }
  const std::string_view charSet = text.substr(pos + 2, q1 - pos - 2);
  if (charSet.empty() || charSet.find_first_of(" \t\r\n") != std::string_view::npos) {
    return std::nullopt;
  }
  return EncodedWordSpan{charSet, text[q1 + 1], text.substr(q1 + 3, close - q1 - 3), close + 2};
}

struct EncodedWord {
  std::string charSet;  // without an RFC 2231 language suffix
  std::string bytes;
  std::size_t end = 0;  // position after the closing "?="
};

// DecodeWord decodes the encoded word at `pos`; nothing when the text there is not one, its
// method letter is neither Q nor B, or its base64 text is broken (it is then read as text).
std::optional<EncodedWord> DecodeWord(std::string_view text, std::size_t pos) {
  const std::optional<EncodedWordSpan> span = ScanEncodedWord(text, pos);
  if (!span)
    return std::nullopt;
  EncodedWord word;
  word.charSet = std::string(span->charSet.substr(0, span->charSet.find('*')));
  word.end = span->end;
  if (span->letter == 'q' || span->letter == 'Q') {
    word.bytes = DecodeQWord(span->payload);
  } else if (span->letter == 'b' || span->letter == 'B') {
    try {
      word.bytes = TclEncoder(TclEncodeMethod::cmBase64).DecodeBytes(span->payload);
    } catch (const EclEncoderError&) {
      return std::nullopt;  // the decoder reports broken input only by raising
    }
  } else {
    return std::nullopt;
  }
  return word;
}

// An encoded word in a display name may hold only letters, digits and ! * + - / = _
// (RFC 2047, 5.3); anything else in a Q word is escaped too, so that the joined address
// needs no quoting (a quoted encoded word would not be decoded by readers).
std::string PhraseSafeWords(std::string_view words) {
  std::string out;
  for (std::size_t i = 0; i < words.size();) {
    const std::optional<EncodedWordSpan> span = ScanEncodedWord(words, i);
    if (!span || (span->letter != 'Q' && span->letter != 'q')) {
      out += words[i++];
      continue;
    }
    const std::size_t payloadAt = static_cast<std::size_t>(span->payload.data() - words.data());
    out += words.substr(i, payloadAt - i);
    for (const char c : span->payload) {
      const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') ||
                        std::string_view("!*+-/=_").find(c) != std::string_view::npos;
      if (safe) {
        out += c;
      } else {
        out += '=';
        out += kz::kHexDigits[static_cast<unsigned char>(c) >> 4];
        out += kz::kHexDigits[static_cast<unsigned char>(c) & 15];
      }
    }
    out += "?=";
    i = span->end;
  }
  return out;
}

// RFC 2047: an encoded word is at most 75 characters long.
constexpr std::size_t kMaxEncodedWord = 75;
// RFC 2047 and 5322: header lines, the field name included, stay within 76 characters
// where their words allow it.
constexpr std::size_t kMaxHeaderLine = 76;
// A first word with less room than this for its encoded text starts the field's value
// anyway at full length: a line cannot be kept short at any price.
constexpr std::size_t kMinFirstWord = 8;

// The charsets whose bytes for a character may hold CR, LF or NUL (a UTF-16 or UTF-32 code
// unit), and whose ASCII characters are not their own bytes.
bool IsWideCharSet(int codePage) {
  return codePage == 1200 || codePage == 12000;
}

// A Q word may hold only letters, digits and ! * + - / (RFC 2047, 5.3) besides its escapes,
// so that the same word is valid in a subject and in a display name.
bool IsQLiteral(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '!' ||
         c == '*' || c == '+' || c == '-' || c == '/';
}

std::size_t QLength(std::string_view bytes) {
  std::size_t n = 0;
  for (unsigned char c : bytes)
    n += (IsQLiteral(c) || c == ' ') ? 1 : 3;
  return n;
}

void AppendQ(std::string& out, std::string_view bytes) {
  for (unsigned char c : bytes) {
    if (IsQLiteral(c)) {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '_';
    } else {
      out += '=';
      out += kz::kHexDigits[c >> 4];
      out += kz::kHexDigits[c & 15];
    }
  }
}

// EncodedWords cuts UTF-8 text into encoded words of whole characters, each at most 75
// characters long and its encoded text at most charsPerLine long; a line break of the text
// (looked at as characters, never as charset bytes) ends a word and is not encoded. The
// words are joined with CR LF.
class EncodedWords {
 public:
  // firstLineUsed: the characters before the first word on its line ("Subject: "); the
  // first word is made short enough for that line to stay within kMaxHeaderLine.
  EncodedWords(std::string_view charSet, TclEncodeMethod method, int charsPerLine,
               std::size_t firstLineUsed)
      : charSet_(charSet),
        codePage_(TclTranslator::GetCodePage(charSet)),
        base64_(method == TclEncodeMethod::cmBase64),  // anything else is written as Q
        prefix_("=?" + std::string(charSet) + (base64_ ? "?B?" : "?Q?")) {
    const std::size_t overhead = prefix_.size() + 2;
    fullBudget_ = Budget(kMaxEncodedWord, overhead, charsPerLine);
    const std::size_t firstRoom =
        firstLineUsed < kMaxHeaderLine ? kMaxHeaderLine - firstLineUsed : 0;
    budget_ = std::min(fullBudget_, Budget(firstRoom, overhead, charsPerLine));
    if (budget_ < kMinFirstWord)
      budget_ = fullBudget_;  // too little room: the word goes on as it must
  }

  std::string Encode(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
      const std::size_t start = pos;
      const char32_t cp = kz::DecodeUtf8(text, pos);
      if (cp == U'\r' || cp == U'\n') {
        Flush();
        continue;
      }
      // A malformed sequence stands for itself as U+FFFD, never as stray bytes.
      AddCharacter(CharacterBytes(
          cp == 0xFFFD ? std::string_view("\xEF\xBF\xBD") : text.substr(start, pos - start), cp));
    }
    Flush();
    return std::move(result_);
  }

 private:
  std::string CharacterBytes(std::string_view utf8, char32_t cp) {
    if (cp < 0x80 && !IsWideCharSet(codePage_) && codePage_ != 65000)
      return std::string(utf8);
    if (codePage_ == 65001)
      return std::string(utf8);
    std::string bytes = TclTranslator::GetBytes(utf8, charSet_);
    // The byte-order mark of UTF-16 and UTF-32 goes once, before the first character.
    if (IsWideCharSet(codePage_) && !first_) {
      const std::size_t bom = codePage_ == 1200 ? 2 : 4;
      bytes.erase(0, std::min(bom, bytes.size()));
    }
    first_ = false;
    return bytes;
  }

  std::size_t EncodedLength(std::size_t byteCount, std::string_view more) const {
    return base64_ ? (byteCount + more.size() + 2) / 3 * 4 : QLength(word_) + QLength(more);
  }

  static std::size_t Budget(std::size_t room, std::size_t overhead, int charsPerLine) {
    std::size_t budget = overhead < room ? room - overhead : 0;
    if (charsPerLine > 0)
      budget = std::min(budget, static_cast<std::size_t>(charsPerLine));
    return budget;
  }

  std::size_t EncodedBudget() const { return base64_ ? budget_ - budget_ % 4 : budget_; }

  void AddCharacter(const std::string& bytes) {
    // A character that does not fit even alone still goes into a word of its own.
    if (!word_.empty() && EncodedLength(word_.size(), bytes) > EncodedBudget()) {
      // The word ends after its last space, when that keeps it at least half full, so the
      // words break where the text does; the rest starts the next word.
      const std::size_t space = SpaceCut();
      std::string rest = space == std::string::npos ? std::string() : word_.substr(space);
      if (space != std::string::npos)
        word_.resize(space);
      Flush();
      word_ = std::move(rest);
      if (!word_.empty() && EncodedLength(word_.size(), bytes) > EncodedBudget())
        Flush();
    }
    word_ += bytes;
  }

  // SpaceCut: where the word would end after its last space, or npos. Spaces are found as
  // bytes only in charsets where a space is its own byte.
  std::size_t SpaceCut() const {
    if (IsWideCharSet(codePage_) || codePage_ == 65000)
      return std::string::npos;
    const std::size_t space = word_.rfind(' ');
    if (space == std::string::npos || space + 1 == word_.size() || (space + 1) * 2 < word_.size())
      return std::string::npos;
    return space + 1;
  }

  void Flush() {
    if (word_.empty())
      return;
    if (!result_.empty())
      result_ += "\r\n";
    result_ += prefix_;
    if (base64_)
      result_ += TclEncoder(TclEncodeMethod::cmBase64).EncodeBytes(word_);
    else
      AppendQ(result_, word_);
    result_ += "?=";
    word_.clear();
    budget_ = fullBudget_;  // words after the first start continuation lines
  }

  std::string charSet_;
  int codePage_;
  bool base64_;
  std::string prefix_;
  std::size_t fullBudget_ = 0;
  std::size_t budget_ = 0;
  bool first_ = true;
  std::string word_;  // charset bytes of the word being filled
  std::string result_;
};

// AddFolded adds a header line, folded (RFC 5322: a line break put before white space)
// wherever it is longer than kMaxHeaderLine and has white space to break at after its
// first `keep` characters (the field name, or the white space that starts a continuation
// line). A run of text longer than a line is left whole.
void AddFolded(std::vector<std::string>& lines, std::string line, std::size_t keep) {
  while (line.size() > kMaxHeaderLine) {
    std::size_t cut = std::string::npos;
    for (std::size_t i = std::min(kMaxHeaderLine, line.size() - 1); i > keep; --i) {
      if (IsWsp(line[i]) && !IsWsp(line[i - 1])) {
        cut = i;
        break;
      }
    }
    if (cut == std::string::npos) {
      for (std::size_t i = kMaxHeaderLine + 1; i < line.size(); ++i) {
        if (IsWsp(line[i]) && !IsWsp(line[i - 1])) {
          cut = i;
          break;
        }
      }
    }
    // Only white space after the cut would leave a line of nothing but white space.
    if (cut == std::string::npos || line.find_first_not_of(" \t", cut) == std::string::npos)
      break;
    lines.push_back(line.substr(0, cut));
    line.erase(0, cut);
    keep = 1;
  }
  lines.push_back(std::move(line));
}

bool IsFieldStart(std::string_view line) {
  return !line.empty() && !IsWsp(line[0]) && line.find(':') != std::string_view::npos;
}

std::string FieldName(std::string_view line) {
  return kz::LowerAscii(kz::TrimRight(line.substr(0, line.find(':'))));
}

}  // namespace

std::string_view EncodedWordLetter(TclEncodeMethod method) {
  switch (method) {
    case TclEncodeMethod::cmQuotedPrintable:
      return "Q";
    case TclEncodeMethod::cmBase64:
      return "B";
    default:
      return "";
  }
}

std::string EncodeHeaderValue(std::string_view text, std::string_view charSet,
                              TclEncodeMethod method, int charsPerLine, std::size_t firstLineUsed) {
  if (text.empty())
    return {};
  if (method == TclEncodeMethod::cmUUEncode || method == TclEncodeMethod::cm8Bit) {
    // Raw UTF-16 or UTF-32 bytes would put NUL, CR and LF bytes into the header.
    if (!IsWideCharSet(TclTranslator::GetCodePage(charSet)))
      return TclTranslator::GetBytes(text, charSet);
    method = TclEncodeMethod::cmBase64;
  }
  TclEncoder encoder;
  encoder.SetCharsPerLine(charsPerLine);
  if (method == TclEncodeMethod::cmNone)
    method = encoder.GetPreferredEncoding(text);
  // Plain text that reads like an encoded word would be decoded by every reader.
  if (method == TclEncodeMethod::cmNone && text.find("=?") != std::string_view::npos)
    method = TclEncodeMethod::cmQuotedPrintable;
  if (method == TclEncodeMethod::cmNone)
    return std::string(text);
  return EncodedWords(charSet, method, charsPerLine, firstLineUsed).Encode(text);
}

std::string EncodeHeaderAddress(std::string_view fullAddress, std::string_view charSet,
                                TclEncodeMethod method, int charsPerLine,
                                std::size_t firstLineUsed) {
  const std::string email = ParseEmail(fullAddress);
  const std::string name = ParseName(fullAddress, email);
  if (name.empty())
    return std::string(fullAddress);
  std::string encoded = EncodeHeaderValue(name, charSet, method, charsPerLine, firstLineUsed);
  if (encoded != name)
    encoded = PhraseSafeWords(encoded);
  return JoinEmailAddress(encoded, email);
}

std::string DecodeHeaderValue(std::string_view text, std::string_view charSet) {
  std::string result;
  std::string pendingCharSet, pendingBytes;
  bool havePending = false, anyWord = false;
  auto flush = [&] {
    if (havePending)
      result += TclTranslator::GetString(pendingBytes, pendingCharSet);
    havePending = false;
    pendingBytes.clear();
  };
  std::size_t pos = 0;   // start of text not yet copied
  std::size_t scan = 0;  // where to look for the next "=?"
  while ((scan = text.find("=?", scan)) != std::string_view::npos) {
    const std::optional<EncodedWord> word = DecodeWord(text, scan);
    if (!word) {
      scan += 2;
      continue;
    }
    const std::string_view gap = text.substr(pos, scan - pos);
    const bool onlySpace = gap.find_first_not_of(" \t\r\n") == std::string_view::npos;
    if (!(havePending && onlySpace)) {
      flush();
      result += DecodePlain(gap, charSet);
    }
    if (havePending && !kz::EqualsNoCase(pendingCharSet, word->charSet))
      flush();
    if (!havePending)
      pendingCharSet = word->charSet;
    havePending = true;
    anyWord = true;
    pendingBytes += word->bytes;
    pos = scan = word->end;
  }
  if (!anyWord)
    return DecodePlain(text, charSet);
  flush();
  result += DecodePlain(text.substr(pos), charSet);
  return result;
}

void AddHeaderField(std::vector<std::string>& lines, std::string_view name,
                    std::string_view value) {
  if (value.empty())
    return;
  std::string folded;
  folded.reserve(value.size() + 8);
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
        ++i;
      folded += "\r\n\t";
    } else {
      folded += c;
    }
  }
  if (!folded.empty() && folded.back() == '\t')
    folded.pop_back();
  const std::string field = std::string(name) + ": " + folded;
  bool first = true;
  for (std::string& piece : kz::SplitLines(field)) {
    AddFolded(lines, std::move(piece), first ? name.size() + 2 : 1);
    first = false;
  }
}

void AddHeaderFieldItems(std::vector<std::string>& lines, std::string_view name,
                         const std::vector<std::string>& items, std::string_view separator) {
  if (items.empty())
    return;
  const std::size_t before = lines.size();
  AddHeaderField(lines, name, items.front());
  // Without a first line the further items would be appended to the field before.
  if (lines.size() == before)
    return;
  for (std::size_t i = 1; i < items.size(); ++i) {
    lines.back() += separator;
    for (const std::string& piece : kz::SplitLines(items[i]))
      AddFolded(lines, "\t" + piece, 1);
  }
}

int GetHeaderFieldList(int startFrom, const std::vector<std::string>& source,
                       TclHeaderFieldList& fieldList) {
  fieldList.clear();
  for (std::size_t i = static_cast<std::size_t>(std::max(startFrom, 0)); i < source.size(); ++i) {
    const std::string& line = source[i];
    if (line.empty())
      return static_cast<int>(i);
    if (IsFieldStart(line))
      fieldList.push_back({FieldName(line), static_cast<int>(i)});
  }
  return static_cast<int>(source.size());
}

std::string GetHeaderFieldValue(const std::vector<std::string>& source,
                                const TclHeaderField& field) {
  const std::size_t first = static_cast<std::size_t>(field.Line);
  if (first >= source.size())
    return {};
  const std::string& line = source[first];
  const std::size_t colon = line.find(':');
  std::string value(kz::TrimLeft(
      std::string_view(line).substr(colon == std::string::npos ? line.size() : colon + 1)));
  // Unfolding: a continuation line continues the value after one space.
  for (std::size_t i = first + 1; i < source.size() && !source[i].empty() && IsWsp(source[i][0]);
       ++i) {
    const std::string_view piece = kz::Trim(source[i]);
    if (piece.empty())
      continue;
    if (!value.empty() && !IsWsp(value.back()))
      value += ' ';
    value += piece;
  }
  return value;
}

std::string GetHeaderFieldValue(const std::vector<std::string>& source,
                                const TclHeaderFieldList& fieldList, std::string_view name) {
  const std::string lower = kz::LowerAscii(name);
  for (const TclHeaderField& field : fieldList) {
    if (field.Name == lower)
      return GetHeaderFieldValue(source, field);
  }
  return {};
}

std::string GetHeaderParam(std::string_view value, std::string_view param) {
  std::size_t start = 0;
  if (!param.empty()) {
    const std::string lower = kz::LowerAscii(value);
    std::size_t pos = 0;
    // Only a whole parameter name counts: "name=" is not found inside "filename=".
    while ((pos = lower.find(param, pos)) != std::string::npos) {
      if (pos == 0 || lower[pos - 1] == ';' || lower[pos - 1] == ',' ||
          kz::IsSpaceOrControl(lower[pos - 1])) {
        break;
      }
      ++pos;
    }
    if (pos == std::string::npos)
      return {};
    start = pos + param.size();
  }
  bool inQuotes = false;
  std::size_t end = start;
  for (; end < value.size(); ++end) {
    const char c = value[end];
    if (c == '"')
      inQuotes = !inQuotes;
    if ((c == ',' || c == ';') && !inQuotes)
      break;
  }
  std::string_view result = kz::Trim(value.substr(start, end - start));
  if (result.size() >= 2 && ((result.front() == '"' && result.back() == '"') ||
                             (result.front() == '\'' && result.back() == '\''))) {
    result = result.substr(1, result.size() - 2);
  }
  return std::string(result);
}

void RemoveHeaderField(std::vector<std::string>& lines, std::string_view name, int startFrom) {
  const std::string lower = kz::LowerAscii(name);
  // One pass that moves the kept lines forward, so many fields cost no more than one.
  std::size_t read = std::min(static_cast<std::size_t>(std::max(startFrom, 0)), lines.size());
  std::size_t write = read;
  bool dropping = false;
  for (; read < lines.size() && !lines[read].empty(); ++read) {
    if (IsFieldStart(lines[read]))
      dropping = FieldName(lines[read]) == lower;
    else if (!IsWsp(lines[read][0]))
      dropping = false;
    if (!dropping) {
      if (write != read)
        lines[write] = std::move(lines[read]);
      ++write;
    }
  }
  if (write == read)
    return;
  const auto tail = std::move(lines.begin() + static_cast<std::ptrdiff_t>(read), lines.end(),
                              lines.begin() + static_cast<std::ptrdiff_t>(write));
  lines.erase(tail, lines.end());
}

void InsertHeaderFieldIfNeed(std::vector<std::string>& lines, std::string_view name,
                             std::string_view value) {
  if (value.find_first_of("\r\n") != std::string_view::npos) {
    throw std::invalid_argument("InsertHeaderFieldIfNeed: a header value must be one line");
  }
  if (value.empty())
    return;
  TclHeaderFieldList fields;
  const int end = GetHeaderFieldList(0, lines, fields);
  const std::string lower = kz::LowerAscii(name);
  for (const TclHeaderField& field : fields) {
    if (field.Name == lower)
      return;
  }
  lines.insert(lines.begin() + end, std::string(name) + ": " + std::string(value));
}
