#include "app/TrayHost.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QGuiApplication>
#include <QVariant>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace trayhost {
namespace {

template <class T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

bool SelectionOwned(xcb_connection_t* x, const std::string& name) {
  const XcbReply<xcb_intern_atom_reply_t> atom(
      xcb_intern_atom_reply(
          x, xcb_intern_atom(x, 1, static_cast<uint16_t>(name.size()), name.data()), nullptr),
      &std::free);
  if (!atom || atom->atom == XCB_ATOM_NONE)  // never interned: nobody ever owned it
    return false;
  const XcbReply<xcb_get_selection_owner_reply_t> owner(
      xcb_get_selection_owner_reply(x, xcb_get_selection_owner(x, atom->atom), nullptr),
      &std::free);
  return owner && owner->owner != XCB_WINDOW_NONE;
}

}  // namespace

bool StatusNotifierHostRegistered(const QDBusConnection& bus) {
  if (!bus.isConnected())
    return false;
  // Asked directly instead of through QDBusInterface, which would introspect the watcher.
  QDBusMessage get = QDBusMessage::createMethodCall(
      kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("Get"));
  get << kWatcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
  const QDBusReply<QVariant> reply = QDBusConnection(bus).call(get, QDBus::Block, 2000);
  return reply.isValid() && reply.value().toBool();
}

bool XEmbedTrayOwned() {
  const auto* x11 =
      qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->connection())
    return false;
  xcb_connection_t* x = x11->connection();
  const int screens = xcb_setup_roots_length(xcb_get_setup(x));
  for (int screen = 0; screen < screens; ++screen) {
    if (SelectionOwned(x, "_NET_SYSTEM_TRAY_S" + std::to_string(screen)))
      return true;
  }
  return false;
}

bool Available(const QDBusConnection& bus) {
  return StatusNotifierHostRegistered(bus) || XEmbedTrayOwned();
}

}  // namespace trayhost
