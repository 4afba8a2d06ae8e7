#include "app/EntryCheck.h"

#include <charconv>

#include "core/StringUtils.h"
#include "mail/clEmailAddress.h"

namespace entrycheck {
namespace {

std::string Quoted(std::string_view s) {
  return "„" + std::string(s) + "“";
}

constexpr std::string_view kHowToWrite =
    "Zadejte adresy ve tvaru jmeno@domena.cz, více adres oddělte čárkou a mezerou.";

bool HasSpace(std::string_view s) {
  for (const char c : s) {
    if (kz::IsSpaceOrControl(c))
      return true;
  }
  return false;
}

}  // namespace

std::string Mailbox(std::string_view text) {
  const std::string box = ParseEmail(text);
  const std::size_t at = box.find('@');
  if (at == std::string::npos || at == 0 || at + 1 == box.size() ||
      box.find('@', at + 1) != std::string::npos) {
    return {};
  }
  for (const char c : box) {
    if (!IsEmailChar(c))
      return {};
  }
  const std::string_view domain = std::string_view(box).substr(at + 1);
  if (domain.front() == '.' || domain.back() == '.' || domain.find("..") != std::string::npos)
    return {};
  return box;
}

std::string CheckServer(std::string_view server) {
  const std::string_view name = kz::Trim(server);
  if (name.empty()) {
    return "Pole „smtp server“ je prázdné nebo obsahuje jen mezery. Zadejte název SMTP serveru, "
           "např. smtp.seznam.cz.";
  }
  if (HasSpace(name)) {
    return "Pole „smtp server“ obsahuje mezeru: " + Quoted(name) +
           " není název serveru. Zadejte jej bez mezer, např. smtp.seznam.cz.";
  }
  return {};
}

std::string CheckPort(std::string_view port) {
  const std::string_view digits = kz::Trim(port);
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (!digits.empty() && ec == std::errc() && end == digits.data() + digits.size() && value >= 1 &&
      value <= 65535) {
    return {};
  }
  const std::string what = digits.empty() ? "je prázdné" : "obsahuje " + Quoted(digits);
  return "Pole „Port“ " + what +
         ", ale musí obsahovat celé číslo od 1 do 65535. Obvykle je to 465 nebo 587.";
}

std::string CheckAddresses(std::string_view list, std::string_view field, bool required) {
  TclEmailAddressList addresses;
  addresses.SetEmailAddresses(list);
  if (addresses.Count() == 0) {
    if (!required)
      return {};
    return "Pole " + Quoted(field) + " neobsahuje žádnou adresu. " + std::string(kHowToWrite);
  }
  for (int i = 0; i < addresses.Count(); ++i) {
    const TclEmailAddressItem& item = addresses.Items(i);
    if (Mailbox(item.Email()).empty()) {
      const std::string& shown = item.Email().empty() ? item.Name() : item.Email();
      return "V poli " + Quoted(field) + " není " + Quoted(shown) + " e-mailová adresa. " +
             std::string(kHowToWrite);
    }
  }
  return {};
}

}  // namespace entrycheck
