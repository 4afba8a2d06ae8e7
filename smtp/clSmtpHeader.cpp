#include "smtp/clSmtpHeader.h"

#include <openssl/rand.h>

#include "core/StringUtils.h"
#include "mail/clMailUtils.h"
#include "net/clAddress.h"
#include "smtp/clSmtpError.h"

namespace kz {

void PrepareHeaderForSend(std::vector<std::string>& lines, std::string_view mailer,
                          std::string_view messageId) {
  InsertHeaderFieldIfNeed(lines, "X-Mailer", mailer);
  InsertHeaderFieldIfNeed(lines, "Message-ID", messageId);
  RemoveHeaderField(lines, "bcc");
}

std::vector<std::string> HeaderFieldValues(const std::vector<std::string>& lines,
                                           std::string_view name) {
  TclHeaderFieldList fields;
  GetHeaderFieldList(0, lines, fields);
  const std::string wanted = LowerAscii(name);
  std::vector<std::string> values;
  for (const TclHeaderField& field : fields) {
    if (field.Name == wanted)
      values.push_back(GetHeaderFieldValue(lines, field));
  }
  return values;
}

std::int64_t LinesSize(const std::vector<std::string>& lines) {
  std::int64_t size = 0;
  for (const std::string& line : lines)
    size += static_cast<std::int64_t>(line.size()) + 2;
  return size;
}

std::string RandomMessageIdLeft() {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1)
    throw EclSmtpError(std::string(kNoRandomText), kNoRandomCode);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : bytes) {
    text.push_back(kHex[b >> 4]);
    text.push_back(kHex[b & 15]);
  }
  return text;
}

namespace {

// RFC 5322 atext: letters, digits and these signs.
bool IsAtext(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
    return true;
  return std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

}  // namespace

bool IsMessageIdLeft(std::string_view text) {
  if (text.empty() || text.front() == '.' || text.back() == '.')
    return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '.' ? text[i + 1] == '.' : !IsAtext(text[i]))
      return false;
  }
  return true;
}

std::string MessageIdRight(std::string_view senderAddress, std::string_view fallback) {
  const std::size_t at = senderAddress.rfind('@');
  if (at == std::string_view::npos)
    return std::string(fallback);
  std::string_view domain = senderAddress.substr(at + 1);
  if (domain.size() > 2 && domain.front() == '[' && domain.back() == ']') {
    std::string_view inner = domain.substr(1, domain.size() - 2);
    if (inner.size() > 5 && EqualsNoCase(inner.substr(0, 5), "IPv6:"))
      inner.remove_prefix(5);
    else if (inner.find(':') != std::string_view::npos)
      return std::string(fallback);
    std::string literal = AddressLiteral(inner);
    return literal.empty() ? std::string(fallback) : literal;
  }
  if (!domain.empty() && domain.back() == '.')
    domain.remove_suffix(1);
  return IsFullyQualifiedHostName(domain) ? LowerAscii(domain) : std::string(fallback);
}

}  // namespace kz
