// TrayHost tells whether the desktop has a host for tray icons right now: a StatusNotifier
// watcher on the session bus with a registered host (the panels of KDE, XFCE, LXQt and
// GNOME's AppIndicator extension), or, under X11, an owner of the tray selection
// _NET_SYSTEM_TRAY_S<screen> (the XEmbed trays). Qt picks its tray backend once, when the
// first tray icon is created, so the icon must not be created before one of these exists.
#pragma once

#include <QDBusConnection>
#include <QString>

namespace trayhost {

inline const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
inline const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
inline const QString kWatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");

// StatusNotifierHostRegistered: the watcher runs on `bus` and says a host is registered.
bool StatusNotifierHostRegistered(const QDBusConnection& bus);

// XEmbedTrayOwned: the application runs on X11 and some screen's tray selection has an owner.
bool XEmbedTrayOwned();

// Available: either of the two.
bool Available(const QDBusConnection& bus);

}  // namespace trayhost
