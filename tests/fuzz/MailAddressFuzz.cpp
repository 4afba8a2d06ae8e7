// Fuzzes the address parser and joiner: any text parses; a parsed name and address joined
// and parsed again keep the address.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/StringUtils.h"
#include "mail/clEmailAddress.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  TclEmailAddressList list;
  list.SetEmailAddresses(in);
  const std::string joined = list.EmailAddresses();
  TclEmailAddressList again;
  again.SetEmailAddresses(joined);
  TclEmailAddressItem item{std::string_view(in)};
  (void)item.FullAddress();
  // A well-formed address with any one-line display name survives a join and a parse, and
  // so does the name unless it holds the address itself.
  const std::string name(kz::Trim(in.substr(0, in.find_first_of("\r\n"))));
  TclEmailAddressItem made("user@example.com", name);
  TclEmailAddressItem back{std::string_view(made.FullAddress())};
  if (back.Email() != "user@example.com")
    std::abort();
  const bool wrapped = name.size() > 1 && ((name.front() == '\'' && name.back() == '\'') ||
                                           (name.front() == '(' && name.back() == ')'));
  if (!wrapped && kz::FindNoCase(name, "user@example.com") == std::string::npos &&
      back.Name() != (name == "user@example.com" ? "" : name)) {
    std::abort();
  }
  return 0;
}
