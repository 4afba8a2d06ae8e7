// IPv4 address text and the local host name.
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

}  // namespace kz
