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
  // MailMessage is referred to, not owned: the client registers for the message's
  // free-notification, so the property becomes none when the message is destroyed.
  TclMailMessage* MailMessage() const { return FMailMessage; }
  void SetMailMessage(TclMailMessage* value);

 protected:
  void Notification(TComponent* AComponent) override;

 private:
  TclMailMessage* FMailMessage = nullptr;
  // The message as a component, taken while it is whole: the notification arrives when
  // only that part of it is left.
  TComponent* FMailMessageComponent = nullptr;
  bool FUseSasl = false;
  bool FSaslOnly = false;
};
