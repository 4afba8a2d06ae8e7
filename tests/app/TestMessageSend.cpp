// test-message-send: the setup window's test button, once, from a terminal. The window opens
// on what setup.dat holds (the user's way: FormShow), the test button is clicked and the
// program ends. Checks that read what the application really sends (the spam scores) use it
// for the test message, beside `kadenza --send-now` for the stored one. Runs on Qt's
// offscreen platform; an error is printed on standard error and the exit status is 1.
#include <QApplication>

#include <cstdio>

#include "app/Dialogs.h"
#include "app/UN_MAIN.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  bool failed = false;
  dialogs::SetMessageSink([&failed](dialogs::MessageKind kind, const QString& text) {
    failed = failed || kind == dialogs::MessageKind::Error;
    std::fprintf(stderr, "test-message-send: %s\n", text.toUtf8().constData());
  });
  {
    Tfrm_main form;
    form.FormShow();
    dialogs::Guarded([&form] { form.btn_testClick(); });
  }
  dialogs::SetMessageSink({});
  return failed ? 1 : 0;
}
