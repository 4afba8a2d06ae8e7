// Start-up: the main part with the tray icon, then the hidden setup window, then the event
// loop; the start-up steps (autostart entry, schedule or first-run setup) run from the loop.
// `kadenza --send-now` instead sends the stored message once and exits.
#include <QApplication>
#include <QStyleFactory>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>
#include <string_view>

#include "app/AppIcon.h"
#include "app/Dialogs.h"
#include "app/Language.h"
#include "app/MAIN_UM.h"
#include "app/SendNow.h"
#include "app/SingleInstance.h"
#include "app/UN_MAIN.h"

int main(int argc, char* argv[]) {
  if (argc == 2 && std::string_view(argv[1]) == "--send-now")
    return SendNow();
  if (argc > 1) {
    std::fprintf(stderr, "usage: %s [--send-now]\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setWindowIcon(ApplicationIcon());
  UseCzech(app);

  // One running copy per user and data folder: a later start opens the running copy's setup
  // window and ends.
  SingleInstance instance;
  if (!instance.Claim()) {
    if (!instance.HandOver())
      std::fputs("kadenza: another copy is running but does not answer\n", stderr);
    return 0;
  }

  Tmain main;
  Tfrm_main frm_main(&main);
  main.SetSetupForm(&frm_main);
  QObject::connect(&instance, &SingleInstance::Activated, &main,
                   dialogs::Guard([&main] { main.setupClick(); }));

  // Started with the session, the application may come up before the panel that hosts tray
  // icons; wait for it a bounded time and show the icon again once it is there.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    auto* poll = new QTimer(&main);
    poll->setInterval(10000);
    QObject::connect(poll, &QTimer::timeout, &main, [poll, &main, tries = 0]() mutable {
      if (QSystemTrayIcon::isSystemTrayAvailable()) {
        main.tray->hide();
        main.tray->show();
      }
      if (QSystemTrayIcon::isSystemTrayAvailable() || ++tries >= 18)
        poll->deleteLater();
    });
    poll->start();
  }
  QTimer::singleShot(0, &main, [&main] { main.FormShow(); });
  return QApplication::exec();
}
