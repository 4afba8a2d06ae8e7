// EntryCheck: the checks of what the setup window's Save is about to store. Each answers
// empty text when the entry can be stored, else one Czech sentence that names the field
// and says what to enter, so that nothing that could never be sent is stored silently.
#pragma once

#include <string>
#include <string_view>

namespace entrycheck {

// Mailbox answers the one bare address `text` names ("" when it names none): a local part,
// one at-sign and a domain of e-mail characters, the domain without an empty label
// ("jan@example." and "jan@example..cz" name none).
std::string Mailbox(std::string_view text);

// CheckServer: a host name or address, without spaces (spaces around it aside).
std::string CheckServer(std::string_view server);
// CheckPort: a whole number from 1 to 65535 (spaces around it aside).
std::string CheckPort(std::string_view port);
// CheckAddresses: every entry of the list, split as a message's recipient list is split,
// names an address; `field` is the field's label as the sentence names it. An empty list
// passes unless `required`.
std::string CheckAddresses(std::string_view list, std::string_view field, bool required);

}  // namespace entrycheck
