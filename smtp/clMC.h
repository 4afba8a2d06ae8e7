// TclCustomMail: the command/response client with what every mail protocol client shares:
// the log-in preferences (UseSasl: prefer the challenge-response mechanisms; SaslOnly:
// never fall back to a plain-text log-in).
#pragma once

#include "smtp/clTcpCommandClient.h"

class TclCustomMail : public TclTcpCommandClient {
 public:
  explicit TclCustomMail(int ADefaultPort) : TclTcpCommandClient(ADefaultPort) {}

  bool UseSasl() const { return FUseSasl; }
  void SetUseSasl(bool value);
  bool SaslOnly() const { return FSaslOnly; }
  void SetSaslOnly(bool value);

 private:
  bool FUseSasl = false;
  bool FSaslOnly = false;
};
