#include "app/SendSlots.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "app/MissedSends.h"
#include "core/AtomicFile.h"
#include "core/Error.h"
#include "core/StringUtils.h"
#include "core/UniqueFd.h"

namespace sendslots {
namespace {

constexpr std::string_view kServedTag = "served";
constexpr std::string_view kAttemptTag = "attempt";
constexpr std::string_view kRetryTag = "retry";
constexpr std::size_t kMaxFileBytes = 1u << 20;

template <class T>
bool Number(std::string_view text, T& out) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

std::optional<schedule::LocalDateTime> ParseSlot(std::string_view text) {
  const std::size_t space = text.find(' ');
  if (space == std::string_view::npos)
    return std::nullopt;
  try {
    const auto date = schedule::ParseDateText(text.substr(0, space));
    const auto time = schedule::ParseTimeText(text.substr(space + 1));
    return schedule::LocalDateTime{date, {time.hour, time.minute, 0}};
  } catch (const EConvertError&) {
    return std::nullopt;
  }
}

std::vector<std::string_view> SplitTabs(std::string_view text) {
  std::vector<std::string_view> fields;
  for (std::size_t tab; (tab = text.find('\t')) != std::string_view::npos;) {
    fields.push_back(text.substr(0, tab));
    text.remove_prefix(tab + 1);
  }
  fields.push_back(text);
  return fields;
}

// ParseRetry reads "slot <TAB> attempts <TAB> next <TAB> window start".
std::optional<retry::Pending> ParseRetry(std::string_view text) {
  const std::vector<std::string_view> fields = SplitTabs(text);
  if (fields.size() != 4)
    return std::nullopt;
  const auto slot = ParseSlot(fields[0]);
  const auto next = ParseSlot(fields[2]);
  const auto from = ParseSlot(fields[3]);
  int attempts = 0;
  if (!slot || !next || !from || !Number(fields[1], attempts) || attempts < 0)
    return std::nullopt;
  return retry::Pending{*slot, attempts, retry::LocalOf(*next), retry::LocalOf(*from)};
}

std::string ReadSmallFile(const std::string& path) {
  try {
    return kz::ReadWholeFile(path, 4096);
  } catch (const EclError&) {
    return {};
  }
}

std::string BootId() {
  std::string id = ReadSmallFile("/proc/sys/kernel/random/boot_id");
  while (!id.empty() && (id.back() == '\n' || id.back() == ' '))
    id.pop_back();
  return id;
}

// ProcessStart is field 22 of /proc/<pid>/stat (clock ticks after boot); 0 when there is no
// such process.
unsigned long long ProcessStart(long pid) {
  const std::string stat = ReadSmallFile("/proc/" + std::to_string(pid) + "/stat");
  // The command name in parentheses may hold spaces; the fields after it do not.
  const std::size_t paren = stat.rfind(')');
  if (paren == std::string::npos)
    return 0;
  std::string_view rest = std::string_view(stat).substr(paren + 1);
  for (int field = 3; field <= 22; ++field) {
    rest = kz::Trim(rest);
    const std::size_t end = rest.find(' ');
    const std::string_view value = rest.substr(0, end);
    unsigned long long start = 0;
    if (field == 22)
      return Number(value, start) ? start : 0;
    if (end == std::string_view::npos)
      return 0;
    rest.remove_prefix(end);
  }
  return 0;
}

// FolderLock holds an exclusive lock of the data folder for one read-change-write.
class FolderLock {
 public:
  FolderLock() : fd_(::open(settings::DataFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (!fd_.Valid())
      Fail(errno);
    while (::flock(fd_.Get(), LOCK_EX) != 0) {
      if (errno != EINTR)
        Fail(errno);
    }
  }

 private:
  [[noreturn]] static void Fail(int err) {
    throw EclError(
        "Nelze zamknout složku \"" + settings::DataFolder() + "\": " + std::strerror(err), err);
  }
  kz::UniqueFd fd_;  // the lock goes with the descriptor
};

}  // namespace

std::string Format(const Ledger& ledger) {
  std::string out;
  if (ledger.served)
    out.append(kServedTag).append("\t").append(missed::MinuteText(*ledger.served)).append("\n");
  for (const Attempt& a : ledger.attempts) {
    out.append(kAttemptTag)
        .append("\t")
        .append(std::to_string(a.pid))
        .append("\t")
        .append(std::to_string(a.processStart))
        .append("\t")
        .append(a.bootId)
        .append("\t")
        .append(history::FormatLine(a.event));
  }
  if (ledger.retry) {
    out.append(kRetryTag)
        .append("\t")
        .append(missed::MinuteText(ledger.retry->slot))
        .append("\t")
        .append(std::to_string(ledger.retry->attempts))
        .append("\t")
        .append(missed::MinuteText(retry::DateTimeOf(ledger.retry->next)))
        .append("\t")
        .append(missed::MinuteText(retry::DateTimeOf(ledger.retry->from)))
        .append("\n");
  }
  return out;
}

Ledger Parse(std::string_view text) {
  Ledger ledger;
  for (const std::string& line : kz::SplitLines(text)) {
    const std::string_view l = line;
    if (l.starts_with(std::string(kServedTag) + "\t")) {
      if (const auto slot = ParseSlot(l.substr(kServedTag.size() + 1)))
        ledger.served = slot;
      continue;
    }
    if (l.starts_with(std::string(kRetryTag) + "\t")) {
      ledger.retry = ParseRetry(l.substr(kRetryTag.size() + 1));
      continue;
    }
    if (!l.starts_with(std::string(kAttemptTag) + "\t"))
      continue;
    std::string_view rest = l.substr(kAttemptTag.size() + 1);
    std::string_view fields[3];
    bool ok = true;
    for (std::string_view& field : fields) {
      const std::size_t tab = rest.find('\t');
      ok = ok && tab != std::string_view::npos;
      if (!ok)
        break;
      field = rest.substr(0, tab);
      rest.remove_prefix(tab + 1);
    }
    Attempt a;
    if (ok && Number(fields[0], a.pid) && Number(fields[1], a.processStart) &&
        history::ParseLine(rest, a.event)) {
      a.bootId = std::string(fields[2]);
      ledger.attempts.push_back(std::move(a));
    }
  }
  return ledger;
}

Ledger Read() {
  return Parse(kz::ReadWholeFile(settings::FilePath(kFile), kMaxFileBytes));
}

void Update(const std::function<void(Ledger&)>& change) {
  settings::EnsureDataFolder();
  const FolderLock lock;
  Ledger ledger = Read();
  const std::string before = Format(ledger);
  change(ledger);
  const std::string after = Format(ledger);
  if (after != before)
    kz::WriteFileAtomically(settings::FilePath(kFile), after);
}

bool IsServed(const Ledger& ledger, const schedule::LocalDateTime& slot,
              const schedule::LocalDateTime& now) {
  if (!ledger.served)
    return false;
  const auto served = schedule::MinuteOf(*ledger.served);
  if (served > schedule::MinuteOf(now) + std::chrono::days(kFutureToleranceDays))
    return false;
  return schedule::MinuteOf(slot) <= served;
}

bool Claim(const schedule::LocalDateTime& slot, const schedule::LocalDateTime& now) {
  bool claimed = false;
  Update([&](Ledger& ledger) {
    if (IsServed(ledger, slot, now))
      return;
    ledger.served = schedule::LocalDateTime{slot.date, {slot.time.hour, slot.time.minute, 0}};
    claimed = true;
  });
  return claimed;
}

void KeepRetry(const std::optional<retry::Pending>& pending) {
  Update([&](Ledger& ledger) { ledger.retry = pending; });
}

schedule::LocalDateTime SlotOf(const std::chrono::year_month_day& date,
                               const schedule::TimeOfDay& sendTime) {
  return {date, {sendTime.hour, sendTime.minute, 0}};
}

Attempt OwnAttempt(history::Event event) {
  const long pid = static_cast<long>(::getpid());
  return {pid, ProcessStart(pid), BootId(), std::move(event)};
}

bool IsRunning(const Attempt& attempt) {
  if (attempt.bootId != BootId())
    return false;
  const unsigned long long start = ProcessStart(attempt.pid);
  return start != 0 && start == attempt.processStart;
}

void AddAttempt(const Attempt& attempt) {
  Update([&](Ledger& ledger) { ledger.attempts.push_back(attempt); });
}

void RemoveAttempt(const Attempt& attempt) {
  Update([&](Ledger& ledger) { std::erase(ledger.attempts, attempt); });
}

std::vector<Attempt> TakeOrphans() {
  std::vector<Attempt> orphans;
  Update([&](Ledger& ledger) {
    std::erase_if(ledger.attempts, [&](const Attempt& a) {
      if (IsRunning(a))
        return false;
      orphans.push_back(a);
      return true;
    });
  });
  return orphans;
}

}  // namespace sendslots
