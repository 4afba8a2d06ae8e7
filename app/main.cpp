// Start-up: the main part with the tray icon, then the hidden setup window, then the event
// loop; the start-up steps (autostart entry, schedule or first-run setup) run from the loop.
#include <QApplication>
#include <QStyleFactory>
#include <QTimer>

#include "app/AppIcon.h"
#include "app/MAIN_UM.h"
#include "app/UN_MAIN.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setWindowIcon(ApplicationIcon());

  Tmain main;
  Tfrm_main frm_main(&main);
  main.SetSetupForm(&frm_main);
  QTimer::singleShot(0, &main, [&main] { main.FormShow(); });
  return QApplication::exec();
}
