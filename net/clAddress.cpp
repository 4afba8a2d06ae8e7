#include "net/clAddress.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>

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

}  // namespace kz
