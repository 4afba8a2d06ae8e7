// The send history: historie.log in the data folder, one line per event (a scheduled send,
// a test message, `kadenza --send-now`, a missed send, a desktop without a notification
// area, the password moved into the keyring). Lines are appended whole to an owner-only
// file; past the size cap the file starts anew and the previous one is kept as
// historie.log.1. Neither the password nor the message text is ever written.
#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace history {

inline constexpr std::string_view kHistoryFile = "historie.log";
inline constexpr std::string_view kOldHistoryFile = "historie.log.1";
inline constexpr std::size_t kMaxBytes = 1 << 20;
inline constexpr std::string_view kOk = "OK";

enum class Kind { kScheduled, kTest, kSendNow, kMissed, kTray, kKeyring };

// KindText is the kind as the history shows it.
std::string_view KindText(Kind kind);

struct Event {
  std::string when;  // "dd.mm.yyyy hh:mm:ss", local time
  std::string kind;  // KindText
  std::string result;
  int recipients = 0;
  std::string subject;
  friend bool operator==(const Event&, const Event&) = default;
};

// FormatLine is one event as a line: the fields separated by tabs, ended by LF; a tab, line
// break or backslash inside a field is written as \t, \n, \r or \\. ParseLine reads it back
// (false for a line of another form).
std::string FormatLine(const Event& event);
bool ParseLine(std::string_view line, Event& out);

// Append adds one line to the history in `folder`, starting a new file when the line would
// take the file past `maxBytes`. A history path that is a link or no regular file, or a
// failed write, raises EclError naming the file.
void Append(const std::string& folder, const Event& event, std::size_t maxBytes = kMaxBytes);

// ReadLast answers up to `count` events of the history in `folder`, newest first (the kept
// old file supplies the rest). A missing history reads as none.
std::vector<Event> ReadLast(const std::string& folder, std::size_t count);

// LastSend answers the newest scheduled or manual (`--send-now`) send of the history in
// `folder`: the test message, a missed send and the other notes tell nothing of the
// schedule's mail. Nothing when there is none.
std::optional<Event> LastSend(const std::string& folder);

// CountRecipients counts the addresses of a recipient text as the message's recipient list
// splits it (commas, semicolons and line ends outside double quotes).
int CountRecipients(std::string_view recipients);

// ResultText is "OK" for no error, else the error's text with its code in brackets.
std::string ResultText(const std::exception_ptr& error);

// NowText is the local date and time now, as Event::when holds it.
std::string NowText();

// Record appends an event of now to the data folder's history. It never raises: a failure
// to write is reported on standard error, once per run, and the send's outcome stands.
void Record(Kind kind, std::string_view result, int recipients, std::string_view subject,
            std::string when = {});
// Record of a whole event (an empty `when` is now), with the same guarantee.
void Record(Event event);

}  // namespace history
