// Providers: the SMTP settings of well-known mail providers, found by the domain of an
// address. The setup window offers them when the user name is an address of such a domain
// and no server has been entered, with a one-line hint where the provider does not take the
// account's own password.
#pragma once

#include <span>
#include <string_view>

namespace providers {

struct Provider {
  std::string_view domain;
  std::string_view host;
  std::string_view port;
  bool ssl;               // the "TLS/SSL" box: the protected log-in where the server has one
  std::string_view hint;  // empty when the account's password works
};

// All is the table, one row per domain.
std::span<const Provider> All();

// ForAddress answers the provider of the address's domain (the part after the last "@",
// compared without regard to case and surrounding spaces), or null for an unknown domain.
const Provider* ForAddress(std::string_view address);

}  // namespace providers
