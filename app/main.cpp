// Start-up: the main part (its tray icon comes once the desktop has a tray), told how to make the
// setup window when it is first needed, then the event loop; the start-up steps (autostart
// entry, schedule or first-run setup) run from the loop. `kadenza --send-now` instead sends the
// stored message once and exits.
#include <QApplication>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <string_view>

#include "app/AppIcon.h"
#include "app/Dialogs.h"
#include "app/Installed.h"
#include "app/Language.h"
#include "app/MAIN_UM.h"
#include "app/SendNow.h"
#include "app/SingleInstance.h"
#include "app/TrayStart.h"
#include "app/UN_MAIN.h"

int main(int argc, char* argv[]) {
  if (argc == 2 && std::string_view(argv[1]) == "--send-now")
    return SendNow();
  if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
    std::fwrite(kUsageText.data(), 1, kUsageText.size(), stdout);
    return 0;
  }
  if (argc > 1) {
    std::fprintf(stderr, "kadenza: neznámá volba %s\n\n", argv[1]);
    std::fwrite(kUsageText.data(), 1, kUsageText.size(), stderr);
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setWindowIcon(ApplicationIcon());
  // Shells match the windows to the desktop entry of this name.
  QGuiApplication::setDesktopFileName(installed::kAppId);
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
  main.SetSetupFactory([] { return std::make_unique<Tfrm_main>(); });
  QObject::connect(&instance, &SingleInstance::Activated, &main,
                   dialogs::Guard([&main] { main.setupClick(); }));

  // Started with the session, the application may come up before the panel that hosts tray
  // icons: the icon waits for a tray host, the schedule does not.
  TrayStart trayStart([&main] { main.CreateTray(); },
                      dialogs::Guard([&main] { main.TrayUnavailable(); }));
  trayStart.Start();
  QTimer::singleShot(0, &main, [&main] { main.FormShow(); });
  return QApplication::exec();
}
