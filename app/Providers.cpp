#include "app/Providers.h"

#include <array>

#include "core/StringUtils.h"

namespace providers {
namespace {

constexpr std::string_view kAppPasswordGoogle =
    "Gmail přijímá jen heslo pro aplikace (vytvoříte je v účtu Google se zapnutým dvoufázovým "
    "ověřením).";
constexpr std::string_view kAppPasswordYahoo =
    "Yahoo přijímá jen heslo pro aplikace (vytvoříte je v nastavení zabezpečení účtu Yahoo).";
constexpr std::string_view kAppPasswordApple =
    "iCloud přijímá jen heslo pro aplikace (vytvoříte je na stránce účtu Apple).";
constexpr std::string_view kNoPasswords =
    "Outlook.com a Hotmail už přihlášení heslem nepřijímají; odesílejte přes jiný účet.";

constexpr std::array<Provider, 14> kProviders = {{
    {"seznam.cz", "smtp.seznam.cz", "465", true, ""},
    {"email.cz", "smtp.seznam.cz", "465", true, ""},
    {"post.cz", "smtp.seznam.cz", "465", true, ""},
    {"centrum.cz", "smtp.centrum.cz", "465", true, ""},
    {"atlas.cz", "smtp.atlas.cz", "465", true, ""},
    {"volny.cz", "smtp.volny.cz", "465", true, ""},
    {"o2.cz", "smtp.o2.cz", "465", true, ""},
    {"gmail.com", "smtp.gmail.com", "465", true, kAppPasswordGoogle},
    {"yahoo.com", "smtp.mail.yahoo.com", "465", true, kAppPasswordYahoo},
    {"icloud.com", "smtp.mail.me.com", "587", true, kAppPasswordApple},
    {"me.com", "smtp.mail.me.com", "587", true, kAppPasswordApple},
    {"outlook.com", "smtp-mail.outlook.com", "587", true, kNoPasswords},
    {"hotmail.com", "smtp-mail.outlook.com", "587", true, kNoPasswords},
    {"live.com", "smtp-mail.outlook.com", "587", true, kNoPasswords},
}};

}  // namespace

std::span<const Provider> All() {
  return kProviders;
}

const Provider* ForAddress(std::string_view address) {
  const std::string_view trimmed = kz::Trim(address);
  const std::size_t at = trimmed.rfind('@');
  if (at == std::string_view::npos)
    return nullptr;
  const std::string_view domain = trimmed.substr(at + 1);
  for (const Provider& p : kProviders) {
    if (kz::EqualsNoCase(domain, p.domain))
      return &p;
  }
  return nullptr;
}

}  // namespace providers
