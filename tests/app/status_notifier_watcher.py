"""A StatusNotifier watcher with a registered host, for tests: owns org.kde.StatusNotifierWatcher
on the session bus (DBUS_SESSION_BUS_ADDRESS), says a host is registered, prints "ready", then
for each item that registers: "item <service>" and, read from the item's own menu
(com.canonical.dbusmenu), "menu <label>|<label>|..." with separators left out."""
import sys

from gi.repository import Gio, GLib

NAME = "org.kde.StatusNotifierWatcher"
PATH = "/StatusNotifierWatcher"
XML = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>
"""

items = []


def labels(layout):
    """The visible labels of a dbusmenu layout (id, properties, children)."""
    out = []
    for child in layout[2]:
        props = child[1]
        if props.get("type") == "separator" or not props.get("visible", True):
            continue
        out.append(props.get("label", "").replace("&", "").replace("_", ""))
    return out


def report(bus, service, path):
    menu = bus.call_sync(service, path, "org.freedesktop.DBus.Properties", "Get",
                         GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", "Menu")),
                         GLib.VariantType("(v)"), Gio.DBusCallFlags.NONE, 5000, None)
    menu_path = menu.unpack()[0]
    layout = bus.call_sync(service, menu_path, "com.canonical.dbusmenu", "GetLayout",
                           GLib.Variant("(iias)", (0, -1, [])),
                           GLib.VariantType("(u(ia{sv}av))"), Gio.DBusCallFlags.NONE, 5000,
                           None)
    print("menu " + "|".join(labels(layout.unpack()[1])), flush=True)
    return False


def on_call(bus, sender, path, iface, method, params, invocation):
    if method == "RegisterStatusNotifierItem":
        service = params.unpack()[0]
        item_path = "/StatusNotifierItem"
        if service.startswith("/"):  # some items pass only their object path
            service, item_path = sender, service
        items.append(service)
        invocation.return_value(None)
        print(f"item {service}", flush=True)
        bus.emit_signal(None, PATH, NAME, "StatusNotifierItemRegistered",
                        GLib.Variant("(s)", (service,)))
        GLib.idle_add(report, bus, service, item_path)
    else:
        invocation.return_value(None)


def on_get(bus, sender, path, iface, prop):
    if prop == "RegisteredStatusNotifierItems":
        return GLib.Variant("as", items)
    if prop == "IsStatusNotifierHostRegistered":
        return GLib.Variant("b", True)
    return GLib.Variant("i", 0)


def main():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    node = Gio.DBusNodeInfo.new_for_xml(XML)
    bus.register_object(PATH, node.interfaces[0], on_call, on_get, None)

    def acquired(*_):
        print("ready", flush=True)

    def lost(*_):
        print("name lost", flush=True)
        sys.exit(1)

    Gio.bus_own_name_on_connection(bus, NAME, Gio.BusNameOwnerFlags.NONE, acquired, lost)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
