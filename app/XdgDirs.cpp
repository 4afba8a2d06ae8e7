#include "app/XdgDirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace xdg {
namespace {

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home)
    return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
    return pw->pw_dir;
  return "/";
}

std::string BaseFolder(const char* variable, std::string_view underHome) {
  const char* value = std::getenv(variable);
  std::string base =
      (value && value[0] == '/') ? std::string(value) : HomeFolder() + "/" + std::string(underHome);
  while (base.size() > 1 && base.back() == '/')
    base.pop_back();
  return base;
}

}  // namespace

std::string DataHome() {
  return BaseFolder("XDG_DATA_HOME", ".local/share");
}
std::string ConfigHome() {
  return BaseFolder("XDG_CONFIG_HOME", ".config");
}

}  // namespace xdg
