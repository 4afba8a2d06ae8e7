#include "smtp/clSmtpHeader.h"

#include <algorithm>
#include <cassert>

#include "core/StringUtils.h"

namespace kz {

namespace {

bool IsContinuation(std::string_view line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// FieldName: the lower-cased name of a field line, or empty for any other line.
std::string FieldName(std::string_view line) {
  if (line.empty() || IsContinuation(line))
    return {};
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos)
    return {};
  return LowerAscii(line.substr(0, colon));
}

}  // namespace

std::size_t HeaderEnd(const std::vector<std::string>& lines) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty())
      return i;
  }
  return lines.size();
}

bool HasHeaderField(const std::vector<std::string>& lines, std::string_view name) {
  const std::string wanted = LowerAscii(name);
  const std::size_t end = HeaderEnd(lines);
  for (std::size_t i = 0; i < end; ++i) {
    if (FieldName(lines[i]) == wanted)
      return true;
  }
  return false;
}

bool AddHeaderField(std::vector<std::string>& lines, std::string_view name,
                    std::string_view value) {
  assert(value.find_first_of("\r\n") == std::string_view::npos);
  if (value.empty() || HasHeaderField(lines, name))
    return false;
  const std::size_t end = HeaderEnd(lines);
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(end),
               std::string(name) + ": " + std::string(value));
  return true;
}

int RemoveHeaderFields(std::vector<std::string>& lines, std::string_view name) {
  const std::string wanted = LowerAscii(name);
  // One pass that moves the kept lines forward: many fields cost no more than one.
  const std::size_t end = HeaderEnd(lines);
  int removed = 0;
  bool dropping = false;
  std::size_t write = 0;
  for (std::size_t read = 0; read < end; ++read) {
    if (!IsContinuation(lines[read])) {
      dropping = FieldName(lines[read]) == wanted;
      removed += dropping ? 1 : 0;
    }
    if (dropping)
      continue;
    if (write != read)
      lines[write] = std::move(lines[read]);
    ++write;
  }
  if (write != end) {
    const auto tail = std::move(lines.begin() + static_cast<std::ptrdiff_t>(end), lines.end(),
                                lines.begin() + static_cast<std::ptrdiff_t>(write));
    lines.erase(tail, lines.end());
  }
  return removed;
}

std::vector<std::string> HeaderFieldValues(const std::vector<std::string>& lines,
                                           std::string_view name) {
  const std::string wanted = LowerAscii(name);
  std::vector<std::string> values;
  const std::size_t end = HeaderEnd(lines);
  for (std::size_t i = 0; i < end; ++i) {
    if (FieldName(lines[i]) != wanted)
      continue;
    std::string value(lines[i].substr(lines[i].find(':') + 1));
    while (i + 1 < end && IsContinuation(lines[i + 1]))
      value += lines[++i];
    values.emplace_back(Trim(value));
  }
  return values;
}

}  // namespace kz
