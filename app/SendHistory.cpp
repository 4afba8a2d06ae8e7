#include "app/SendHistory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <functional>

#include "app/SettingsStore.h"
#include "core/AtomicFile.h"
#include "core/DateTime.h"
#include "core/Error.h"
#include "core/StringUtils.h"
#include "core/UniqueFd.h"
#include "mail/clEmailAddress.h"

namespace history {

namespace {

constexpr std::size_t kFieldCount = 5;

void Escape(std::string_view field, std::string& out) {
  for (const char c : field) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
}

std::string Unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      out += field[i];
      continue;
    }
    switch (field[++i]) {
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        out += field[i];
    }
  }
  return out;
}

EclError FileError(const std::string& what, const std::string& path, int code) {
  return EclError(what + " " + path + ": " + std::strerror(code), code);
}

void Lines(const std::string& text, std::vector<Event>& out, std::size_t count,
           const std::function<bool(const Event&)>& keep = {}) {
  // Newest first: the file's lines from the end.
  std::size_t end = text.size();
  while (end > 0 && out.size() < count) {
    std::size_t start = text.rfind('\n', end - 1);
    start = start == std::string::npos ? 0 : start + 1;
    Event e;
    if (ParseLine(std::string_view(text).substr(start, end - start), e) && (!keep || keep(e)))
      out.push_back(std::move(e));
    end = start == 0 ? 0 : start - 1;
  }
}

}  // namespace

std::string_view KindText(Kind kind) {
  switch (kind) {
    case Kind::kScheduled:
      return "naplánované odeslání";
    case Kind::kTest:
      return "testovací zpráva";
    case Kind::kSendNow:
      return "--send-now";
    case Kind::kMissed:
      return "zmeškané odeslání";
    case Kind::kTray:
      return "oznamovací oblast";
    case Kind::kKeyring:
      return "klíčenka";
  }
  return "?";
}

std::string FormatLine(const Event& event) {
  std::string line;
  Escape(event.when, line);
  line += '\t';
  Escape(event.kind, line);
  line += '\t';
  Escape(event.result, line);
  line += '\t';
  line += std::to_string(event.recipients);
  line += '\t';
  Escape(event.subject, line);
  line += '\n';
  return line;
}

bool ParseLine(std::string_view line, Event& out) {
  if (!line.empty() && line.back() == '\n')
    line.remove_suffix(1);
  std::vector<std::string_view> fields;
  std::size_t pos = 0;
  while (true) {
    const std::size_t tab = line.find('\t', pos);
    fields.push_back(line.substr(pos, tab == std::string_view::npos ? line.npos : tab - pos));
    if (tab == std::string_view::npos)
      break;
    pos = tab + 1;
  }
  if (fields.size() != kFieldCount)
    return false;
  int n = 0;
  const auto [end, ec] = std::from_chars(fields[3].data(), fields[3].data() + fields[3].size(), n);
  if (ec != std::errc() || end != fields[3].data() + fields[3].size())
    return false;
  out = {Unescape(fields[0]), Unescape(fields[1]), Unescape(fields[2]), n, Unescape(fields[4])};
  return true;
}

void Append(const std::string& folder, const Event& event, std::size_t maxBytes) {
  const std::string path = folder + "/" + std::string(kHistoryFile);
  const std::string line = FormatLine(event);
  kz::UniqueFd fd = kz::OpenForAppend(path);
  struct stat st {};
  if (::fstat(fd.Get(), &st) == 0 && st.st_size > 0 &&
      static_cast<std::size_t>(st.st_size) + line.size() > maxBytes) {
    const std::string old = folder + "/" + std::string(kOldHistoryFile);
    if (::rename(path.c_str(), old.c_str()) != 0)
      throw FileError("Nelze založit novou historii", path, errno);
    fd = kz::OpenForAppend(path);
  }
  // One write of the whole line: O_APPEND keeps concurrent writers' lines apart.
  const ssize_t n = ::write(fd.Get(), line.data(), line.size());
  if (n < 0)
    throw FileError("Nelze zapsat historii", path, errno);
  if (static_cast<std::size_t>(n) != line.size())
    throw EclError("Nelze zapsat historii " + path + ": zápis neúplný", EIO);
  if (fd.Close() != 0)
    throw FileError("Nelze zapsat historii", path, errno);
}

std::vector<Event> ReadLast(const std::string& folder, std::size_t count) {
  std::vector<Event> out;
  for (const std::string_view name : {kHistoryFile, kOldHistoryFile}) {
    if (out.size() >= count)
      break;
    // The cap is checked before each write, so a file is never much larger than it.
    Lines(kz::ReadWholeFile(folder + "/" + std::string(name), 4 * kMaxBytes), out, count);
  }
  return out;
}

std::optional<Event> LastSend(const std::string& folder) {
  const auto isSend = [](const Event& e) {
    return e.kind == KindText(Kind::kScheduled) || e.kind == KindText(Kind::kSendNow);
  };
  std::vector<Event> out;
  for (const std::string_view name : {kHistoryFile, kOldHistoryFile}) {
    Lines(kz::ReadWholeFile(folder + "/" + std::string(name), 4 * kMaxBytes), out, 1, isSend);
    if (!out.empty())
      return std::move(out.front());
  }
  return std::nullopt;
}

int CountRecipients(std::string_view recipients) {
  TclEmailAddressList list;
  list.SetEmailAddresses(recipients);
  return list.Count();
}

std::string ResultText(const std::exception_ptr& error) {
  if (!error)
    return std::string(kOk);
  try {
    std::rethrow_exception(error);
  } catch (const EclError& e) {
    return std::string(e.what()) + " (" + std::to_string(e.ErrorCode) + ")";
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "neznámá chyba";
  }
}

std::string NowText() {
  const kz::DateTimeParts p = kz::LocalNow().parts;
  char text[32];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", p.Day, p.Month, p.Year, p.Hour,
                p.Minute, p.Second);
  return text;
}

void Record(Kind kind, std::string_view result, int recipients, std::string_view subject,
            std::string when) {
  Record(Event{std::move(when), std::string(KindText(kind)), std::string(result), recipients,
               std::string(subject)});
}

void Record(Event event) {
  static std::atomic<bool> reported{false};
  try {
    if (event.when.empty())
      event.when = NowText();
    settings::EnsureDataFolder();
    Append(settings::DataFolder(), event);
  } catch (const std::exception& e) {
    if (!reported.exchange(true))
      std::fprintf(stderr, "Kadenza: historie odeslání nebyla zapsána: %s\n", e.what());
  }
}

}  // namespace history
