"""A desktop notification service for tests: owns org.freedesktop.Notifications on the bus
whose address is argv[1], prints "ready", then one line per Notify call:
"notify <replaces_id> <returned id> <timeout> <summary>|<body with \\n as \\\\n>".
With --actions as argv[2] it also offers the "actions" capability, appends
" entry=<desktop-entry hint> actions=<key,label,...>" to each line, and answers a line
"invoke <id> <key>" on standard input with the signal ActionInvoked(id, key)."""
import os
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.Notifications"


class Server(dbus.service.Object):
    def __init__(self, bus, details):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.next_id = 0
        self.details = details

    @dbus.service.method(NAME, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces_id, icon, summary, body, actions, hints, timeout):
        if replaces_id:
            nid = replaces_id
        else:
            self.next_id += 1
            nid = self.next_id
        body = body.replace("\n", "\\n")
        line = f"notify {int(replaces_id)} {nid} {int(timeout)} {summary}|{body}"
        if self.details:
            line += f" entry={hints.get('desktop-entry', '')} actions={','.join(actions)}"
        print(line, flush=True)
        return dbus.UInt32(nid)

    @dbus.service.method(NAME, in_signature="u", out_signature="")
    def CloseNotification(self, nid):
        print(f"close {int(nid)}", flush=True)

    @dbus.service.method(NAME, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["body", "actions"] if self.details else ["body"]

    @dbus.service.signal(NAME, signature="us")
    def ActionInvoked(self, nid, key):
        pass

    @dbus.service.method(NAME, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ["test", "kadenza", "1", "1.2"]


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(sys.argv[1])
    name = dbus.service.BusName(NAME, bus)  # noqa: F841 (released when collected)
    details = sys.argv[2:] == ["--actions"]
    server = Server(bus, details)

    def commands(fd, _condition):
        # Unbuffered: every line that arrived is answered now, not when the next one comes.
        data = os.read(fd, 4096)
        if not data:
            return False
        for line in data.decode().splitlines():
            words = line.split()
            if len(words) == 3 and words[0] == "invoke":
                server.ActionInvoked(dbus.UInt32(int(words[1])), words[2])
        return True

    if details:
        GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, commands)
    print("ready", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
