#include "smtp/clMC.h"

void TclCustomMail::SetUseSasl(bool value) {
  if (FUseSasl != value) {
    FUseSasl = value;
    DoChanged();
  }
}

void TclCustomMail::SetSaslOnly(bool value) {
  if (FSaslOnly != value) {
    FSaslOnly = value;
    DoChanged();
  }
}

void TclCustomMail::SetMailMessage(TclMailMessage* value) {
  if (FMailMessage != value) {
    FMailMessage = value;
    DoChanged();
  }
}
