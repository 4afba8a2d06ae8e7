#include "net/clFirewallUtils.h"

void TclFirewallSettings::Clear() {
  *this = TclFirewallSettings();
}

void TclFirewallSettings::Assign(const TclFirewallSettings& source) {
  *this = source;
}
