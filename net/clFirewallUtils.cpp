#include "net/clFirewallUtils.h"

void TclFirewallSettings::Clear() {
  Assign(TclFirewallSettings());
}

void TclFirewallSettings::Assign(const TclFirewallSettings& source) {
  FirewallType = source.FirewallType;
  UserName = source.UserName;
  Password = source.Password;
  Server = source.Server;
  Port = source.Port;
  NeedResolveIP = source.NeedResolveIP;
}
