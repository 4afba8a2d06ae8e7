"""An XEmbed tray for tests, on the X display of $DISPLAY: owns the selection
_NET_SYSTEM_TRAY_S0, prints "ready", then "dock" for each icon that asks to be docked
(a _NET_SYSTEM_TRAY_OPCODE client message with SYSTEM_TRAY_REQUEST_DOCK). Xlib through ctypes,
so the test needs nothing beyond libX11."""
import ctypes
import ctypes.util

CLIENT_MESSAGE = 33
REQUEST_DOCK = 0


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class Event(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("client", ClientMessage), ("pad", ctypes.c_long * 24)]


def main():
    x = ctypes.CDLL(ctypes.util.find_library("X11"))
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x.XCreateSimpleWindow.restype = ctypes.c_ulong
    x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 4 + \
        [ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
    x.XSetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                     ctypes.c_ulong]
    x.XGetSelectionOwner.restype = ctypes.c_ulong
    x.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(Event)]
    x.XFlush.argtypes = [ctypes.c_void_p]

    display = x.XOpenDisplay(None)
    root = x.XDefaultRootWindow(display)
    selection = x.XInternAtom(display, b"_NET_SYSTEM_TRAY_S0", 0)
    opcode = x.XInternAtom(display, b"_NET_SYSTEM_TRAY_OPCODE", 0)
    window = x.XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0)
    x.XSetSelectionOwner(display, selection, window, 0)
    if x.XGetSelectionOwner(display, selection) != window:
        print("not owner", flush=True)
        return
    x.XFlush(display)
    print("ready", flush=True)
    event = Event()
    while True:
        x.XNextEvent(display, ctypes.byref(event))
        if (event.type == CLIENT_MESSAGE and event.client.message_type == opcode
                and event.client.data[1] == REQUEST_DOCK):
            print("dock", flush=True)


if __name__ == "__main__":
    main()
