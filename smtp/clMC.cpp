#include "smtp/clMC.h"

#include "core/Store.h"
#include "mail/clMailMessage.h"

void TclCustomMail::SetUseSasl(bool value) {
  if (kz::Store(FUseSasl, value))
    DoChanged();
}

void TclCustomMail::SetSaslOnly(bool value) {
  if (kz::Store(FSaslOnly, value))
    DoChanged();
}

void TclCustomMail::SetMailMessage(TclMailMessage* value) {
  if (FMailMessage == value)
    return;
  RemoveFreeNotification(FMailMessageComponent);
  FMailMessage = value;
  FMailMessageComponent = value;
  FreeNotification(FMailMessageComponent);
  DoChanged();
}

void TclCustomMail::Notification(TComponent* AComponent) {
  TclTcpCommandClient::Notification(AComponent);
  if (AComponent != nullptr && AComponent == FMailMessageComponent) {
    FMailMessage = nullptr;
    FMailMessageComponent = nullptr;
  }
}
