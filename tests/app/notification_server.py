"""A desktop notification service for tests: owns org.freedesktop.Notifications on the bus
whose address is argv[1], prints "ready", then one line per Notify call:
"notify <replaces_id> <returned id> <timeout> <summary>|<body with \\n as \\\\n>"."""
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.Notifications"


class Server(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.next_id = 0

    @dbus.service.method(NAME, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces_id, icon, summary, body, actions, hints, timeout):
        if replaces_id:
            nid = replaces_id
        else:
            self.next_id += 1
            nid = self.next_id
        body = body.replace("\n", "\\n")
        print(f"notify {int(replaces_id)} {nid} {int(timeout)} {summary}|{body}", flush=True)
        return dbus.UInt32(nid)

    @dbus.service.method(NAME, in_signature="u", out_signature="")
    def CloseNotification(self, nid):
        print(f"close {int(nid)}", flush=True)

    @dbus.service.method(NAME, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(NAME, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ["test", "kadenza", "1", "1.2"]


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(sys.argv[1])
    name = dbus.service.BusName(NAME, bus)  # noqa: F841 (released when collected)
    server = Server(bus)  # noqa: F841
    print("ready", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
