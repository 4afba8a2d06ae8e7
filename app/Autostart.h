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

// DesktopEntry is the content of the entry; the path is quoted for Exec= as needed and line
// breaks are escaped, so the entry is always one group of one-line keys. A title or path
// with any other control character raises EclError (EINVAL).
std::string DesktopEntry(std::string_view title, std::string_view executablePath);

// WriteRunEntry writes the entry, creating the autostart folder when missing. A folder that
// cannot be created or opened raises "Chyba při otevírání klíče registrů."; a refused write
// raises an error naming the file.
void WriteRunEntry(std::string_view title, std::string_view executablePath);

}  // namespace autostart
