// The autostart entry that starts the application with the user's session: an XDG desktop
// entry $XDG_CONFIG_HOME/autostart/<title>.desktop (default ~/.config) whose Exec= is the
// absolute path of the executable. It is written on every start and never removed.
#pragma once

#include <string>
#include <string_view>

namespace autostart {

// ApplicationTitle: the executable's file name without its folder, cut before its first
// ".", every character after the first one in lower case ("KADENZA.EXE" -> "Kadenza").
std::string ApplicationTitle(std::string_view executablePath);

// AutostartFolder is $XDG_CONFIG_HOME/autostart, default ~/.config/autostart.
std::string AutostartFolder();

// The entry's one-line description.
inline constexpr std::string_view kComment = "Odesílá připravený e-mail podle nastaveného rozvrhu";

// DesktopEntry is the content of the entry; the path is quoted for Exec= as needed and line
// breaks are escaped, so the entry is always one group of one-line keys. A title, path,
// icon or name with any other control character raises EclError (EINVAL). The icon (a file
// path or an icon name) is left out when empty; Name= is `name`, or the title when empty.
std::string DesktopEntry(std::string_view title, std::string_view executablePath,
                         std::string_view icon = {}, std::string_view name = {});

// WriteRunEntry writes the entry <title>.desktop, creating the autostart folder when
// missing. A folder that cannot be created or opened raises "Chyba při otevírání klíče
// registrů."; a refused write raises an error naming the file.
void WriteRunEntry(std::string_view title, std::string_view executablePath,
                   std::string_view icon = {}, std::string_view name = {});

}  // namespace autostart
