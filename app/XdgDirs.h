// The XDG base folders the application uses: data ($XDG_DATA_HOME, ~/.local/share) and
// configuration ($XDG_CONFIG_HOME, ~/.config). A relative value of the variable is ignored,
// as the XDG Base Directory Specification asks.
#pragma once

#include <string>
#include <string_view>

namespace xdg {

std::string DataHome();
std::string ConfigHome();

}  // namespace xdg
