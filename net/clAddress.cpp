#include "net/clAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "core/StringUtils.h"

namespace kz {

std::optional<in_addr> ParseDottedAddress(std::string_view text) {
  if (text.empty() || text.size() > 15)
    return std::nullopt;
  const std::string copy(text);
  in_addr address{};
  if (::inet_pton(AF_INET, copy.c_str(), &address) != 1)
    return std::nullopt;
  if (address.s_addr == INADDR_NONE)
    return std::nullopt;
  return address;
}

bool IsDottedAddress(std::string_view text) {
  return ParseDottedAddress(text).has_value();
}

std::string FormatAddress(in_addr address) {
  const auto* b = reinterpret_cast<const unsigned char*>(&address.s_addr);
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  return text;
}

std::string GetLocalHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0)
    return {};
  return name;
}

std::string AddressLiteral(std::string_view ip) {
  const std::string copy(ip);
  in_addr v4{};
  if (::inet_pton(AF_INET, copy.c_str(), &v4) == 1)
    return "[" + FormatAddress(v4) + "]";
  in6_addr v6{};
  if (::inet_pton(AF_INET6, copy.c_str(), &v6) != 1)
    return {};
  char text[INET6_ADDRSTRLEN] = {};
  if (::inet_ntop(AF_INET6, &v6, text, sizeof text) == nullptr)
    return {};
  return "[IPv6:" + std::string(text) + "]";
}

namespace {

bool IsLabel(std::string_view label) {
  if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
    return false;
  for (char c : label) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && c != '-')
      return false;
  }
  return true;
}

bool IsAllDigits(std::string_view label) {
  return label.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

bool IsFullyQualifiedHostName(std::string_view name) {
  if (!name.empty() && name.back() == '.')
    name.remove_suffix(1);
  if (name.empty() || name.size() > 253 || name.find('.') == std::string_view::npos)
    return false;
  std::string_view last;
  for (std::string_view rest = name; !rest.empty();) {
    const std::size_t dot = rest.find('.');
    last = rest.substr(0, dot);
    if (!IsLabel(last))
      return false;
    rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
    if (dot != std::string_view::npos && rest.empty())
      return false;
  }
  // A top-level label is never all digits: such a name is a numeric address.
  if (IsAllDigits(last))
    return false;
  // localhost, localhost.localdomain and any name under .localhost (RFC 6761) name only
  // this machine to itself.
  const std::string lower = LowerAscii(name);
  const std::string_view suffix = ".localhost";
  const bool underLocalhost =
      lower.size() > suffix.size() &&
      lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
  return !(StartsWith(lower, "localhost.") || underLocalhost);
}

std::string GetFullyQualifiedHostName() {
  const std::string name = GetLocalHostName();
  if (name.empty() || IsFullyQualifiedHostName(name))
    return name;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0)
    return {};
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
  if (found == nullptr || found->ai_canonname == nullptr ||
      !IsFullyQualifiedHostName(found->ai_canonname))
    return {};
  return found->ai_canonname;
}

}  // namespace kz
