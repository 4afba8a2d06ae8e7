#include "smtp/clMC.h"

#include "core/Store.h"

void TclCustomMail::SetUseSasl(bool value) {
  if (kz::Store(FUseSasl, value))
    DoChanged();
}

void TclCustomMail::SetSaslOnly(bool value) {
  if (kz::Store(FSaslOnly, value))
    DoChanged();
}

void TclCustomMail::SetMailMessage(TclMailMessage* value) {
  if (FMailMessage != value) {
    FMailMessage = value;
    DoChanged();
  }
}
