#!/usr/bin/python3
"""A Secret Service that never answers: it owns org.freedesktop.secrets on the bus given as
the first argument, takes every method call and replies to none. Prints "ready" once the
name is owned."""
import sys

import dbus
import dbus.lowlevel
import dbus.mainloop.glib
from gi.repository import GLib

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(sys.argv[1])
kept = []


def swallow(connection, message):
    if isinstance(message, dbus.lowlevel.MethodCallMessage):
        kept.append(message)  # held, never answered
        return dbus.lowlevel.HANDLER_RESULT_HANDLED
    return dbus.lowlevel.HANDLER_RESULT_NOT_YET_HANDLED


bus.add_message_filter(swallow)
bus.request_name("org.freedesktop.secrets")
print("ready", flush=True)
GLib.MainLoop().run()
