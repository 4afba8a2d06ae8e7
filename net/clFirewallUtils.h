// TclFirewallSettings: the SOCKS proxy a TCP client goes through. An empty Server means
// no proxy at all.
#pragma once

#include <string>

enum TclFirewallType { ftSocks4, ftSocks5 };

class TclFirewallSettings {
 public:
  TclFirewallType FirewallType = ftSocks4;
  std::string UserName;
  std::string Password;
  std::string Server;
  int Port = 1080;
  // NeedResolveIP: the proxy resolves the target's host name (SOCKS 4a / SOCKS 5 names);
  // false makes the client resolve it and pass an address.
  bool NeedResolveIP = true;

  // Clear restores the defaults.
  void Clear();
  // Assign copies all six settings.
  void Assign(const TclFirewallSettings& source);
};
