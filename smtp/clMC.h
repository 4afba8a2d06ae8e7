// TclCustomMail: the command/response client with what every mail protocol client shares:
// the log-in preferences (UseSasl: prefer the challenge-response mechanisms; SaslOnly:
// never fall back to a plain-text log-in) and the message object that Send() sends.
#pragma once

#include "smtp/clTcpCommandClient.h"

class TclMailMessage;

class TclCustomMail : public TclTcpCommandClient {
 public:
  explicit TclCustomMail(int ADefaultPort) : TclTcpCommandClient(ADefaultPort) {}

  bool UseSasl() const { return FUseSasl; }
  void SetUseSasl(bool value);
  bool SaslOnly() const { return FSaslOnly; }
  void SetSaslOnly(bool value);
  // MailMessage is referred to, not owned: whoever destroys the message first sets this
  // property back to none.
  TclMailMessage* MailMessage() const { return FMailMessage; }
  void SetMailMessage(TclMailMessage* value);

 private:
  TclMailMessage* FMailMessage = nullptr;
  bool FUseSasl = false;
  bool FSaslOnly = false;
};
