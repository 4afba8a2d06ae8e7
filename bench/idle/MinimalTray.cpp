// The yardstick of the idle benchmark: the least a Qt tray program can be, a tray icon with
// a two-item menu and one timer ticking once a minute.
#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::blue);
  QMenu menu;
  menu.addAction(QStringLiteral("Nastavení"));
  menu.addSeparator();
  QObject::connect(menu.addAction(QStringLiteral("Konec")), &QAction::triggered, &app,
                   &QApplication::quit);
  QSystemTrayIcon tray{QIcon(pixmap)};
  tray.setContextMenu(&menu);
  tray.show();
  int ticks = 0;
  QTimer timer;
  timer.setInterval(60000);
  QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
  timer.start();
  return QApplication::exec();
}
