// IPv4 address text, address literals and the local host name.
#pragma once

#include <netinet/in.h>

#include <optional>
#include <string>
#include <string_view>

namespace kz {

// ParseDottedAddress reads a strict dotted quad ("192.168.1.10"); it gives no value for
// anything else, and none for "255.255.255.255", which is not an address of a host.
std::optional<in_addr> ParseDottedAddress(std::string_view text);
bool IsDottedAddress(std::string_view text);
std::string FormatAddress(in_addr address);

// GetLocalHostName is this machine's host name, or empty text when it cannot be read.
std::string GetLocalHostName();

// AddressLiteral: an IPv4 or IPv6 address text as an RFC 5321 address literal
// ("[192.0.2.7]", "[IPv6:2001:db8::1]"), or empty text for anything that is not an address.
std::string AddressLiteral(std::string_view ip);
// IsFullyQualifiedHostName: the name is a syntactically valid domain (RFC 1123 labels of
// letters, digits and inner hyphens, at most 253 characters, one trailing dot allowed) of
// at least two labels, is not a numeric address and is not localhost or a name under it.
bool IsFullyQualifiedHostName(std::string_view name);
// GetFullyQualifiedHostName is this machine's fully qualified name: the host name when it
// is one, else its canonical name from the resolver (the hosts file first, as the system's
// name service order says); empty text when the machine has none.
std::string GetFullyQualifiedHostName();

}  // namespace kz
