#include "app/Autostart.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/XdgDirs.h"
#include "core/AtomicFile.h"
#include "core/Error.h"
#include "core/StringUtils.h"

namespace autostart {
namespace {

// A desktop entry's string value cannot hold control characters: line breaks and tabs are
// written as the escapes \n, \r and \t; any other control character cannot be written.
void CheckWritable(std::string_view text) {
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\n' && c != '\r' && c != '\t') || u == 0x7F) {
      throw EclError(
          "Cesta k programu obsahuje řídicí znak; záznam pro automatické spuštění "
          "nelze zapsat.",
          EINVAL);
    }
  }
}

// EscapeString applies the escapes of a string value, so the value stays on its line.
std::string EscapeString(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else
      out += c;
  }
  return out;
}

// QuoteExec quotes an argument of Exec= by the desktop entry rules: inside double quotes
// the characters " ` $ \ are escaped with a backslash; a literal % is written %%. Because the
// whole value is also a string value, its string escapes are applied last.
std::string QuoteExec(std::string_view path) {
  CheckWritable(path);
  const bool plain = path.find_first_of(" \t\n\r\"'\\><~|&;$*?#()`%=") == std::string_view::npos;
  std::string arg;
  if (plain) {
    arg = path;
  } else {
    arg = "\"";
    for (char c : path) {
      if (c == '"' || c == '`' || c == '$' || c == '\\')
        arg += '\\';
      arg += c;
    }
    arg += "\"";
  }
  std::string percent;
  for (char c : arg) {
    if (c == '%')
      percent += '%';
    percent += c;
  }
  return EscapeString(percent);
}

}  // namespace

std::string ApplicationTitle(std::string_view executablePath) {
  std::string_view name = executablePath.substr(executablePath.rfind('/') + 1);
  name = name.substr(0, name.find('.'));
  if (name.empty())
    return {};
  std::string title(1, name.front());
  title += kz::LowerAscii(name.substr(1));
  return title;
}

std::string AutostartFolder() {
  return xdg::ConfigHome() + "/autostart";
}

std::string DesktopEntry(std::string_view title, std::string_view executablePath,
                         std::string_view icon, std::string_view name) {
  CheckWritable(title);
  CheckWritable(icon);
  CheckWritable(name);
  std::string entry =
      "[Desktop Entry]\nType=Application\nName=" + EscapeString(name.empty() ? title : name) + "\n";
  entry += "Comment=" + EscapeString(kComment) + "\n";
  if (!icon.empty())
    entry += "Icon=" + EscapeString(icon) + "\n";
  entry += "Exec=" + QuoteExec(executablePath) + "\n";
  entry += "Terminal=false\nX-GNOME-Autostart-enabled=true\n";
  return entry;
}

void WriteRunEntry(std::string_view title, std::string_view executablePath, std::string_view icon,
                   std::string_view name) {
  const std::string folder = AutostartFolder();
  try {
    kz::MakeDirectories(folder, 0700);
  } catch (const EclError& e) {
    throw EclError("Chyba při otevírání klíče registrů.", e.ErrorCode);
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    throw EclError("Chyba při otevírání klíče registrů.", errno);
  }
  kz::AtomicWriteOptions options;
  options.mode = 0644;
  options.refuseSymlink = false;  // a managed dotfile link is replaced, never written through
  kz::WriteFileAtomically(folder + "/" + std::string(title) + ".desktop",
                          DesktopEntry(title, executablePath, icon, name), options);
}

}  // namespace autostart
