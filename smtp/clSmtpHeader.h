// The header steps an SMTP client applies to a message's lines before sending: adding a
// field unless one of that name exists, removing every field of a name with its
// continuation lines, and reading the (unfolded) values of a field. The header is the run
// of lines up to the first empty line, or all lines when there is none.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kz {

// HeaderEnd: the index of the first empty line, or the line count.
std::size_t HeaderEnd(const std::vector<std::string>& lines);
// HasHeaderField: a field of that name (case ignored) is in the header.
bool HasHeaderField(const std::vector<std::string>& lines, std::string_view name);
// AddHeaderField inserts "name: value" before the empty line ending the header, unless the
// value is empty or a field of that name exists. True when it added the line.
bool AddHeaderField(std::vector<std::string>& lines, std::string_view name, std::string_view value);
// RemoveHeaderFields deletes every field of that name with its continuation lines and
// returns how many fields it deleted.
int RemoveHeaderFields(std::vector<std::string>& lines, std::string_view name);
// HeaderFieldValues: the value of every field of that name, continuation lines joined.
std::vector<std::string> HeaderFieldValues(const std::vector<std::string>& lines,
                                           std::string_view name);

}  // namespace kz
