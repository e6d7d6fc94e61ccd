#!/usr/bin/env python3
"""Small X11 helpers for scripted runs under Xvfb (ctypes over libX11).

  x11-session-helper.py tray           own the system-tray selection until killed,
                                       so the program sees a tray to live in
  x11-session-helper.py close WINDOW   ask a window to close, as a window
                                       manager's close button does
"""
import ctypes
import signal
import sys
import time

x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XCreateSimpleWindow.restype = ctypes.c_ulong
x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2
x11.XSetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]
x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class Event(ctypes.Union):
    _fields_ = [("message", ClientMessage), ("pad", ctypes.c_long * 24)]


CLIENT_MESSAGE = 33
STRUCTURE_NOTIFY_MASK = 1 << 17


def send(display, target, to, message_type, data, mask):
    event = Event()
    event.message.type = CLIENT_MESSAGE
    event.message.window = target
    event.message.message_type = message_type
    event.message.format = 32
    for i, value in enumerate(data):
        event.message.data[i] = value
    x11.XSendEvent(display, to, 0, mask, ctypes.byref(event))
    x11.XFlush(display)


def main():
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("no X display")
    root = x11.XDefaultRootWindow(display)
    if sys.argv[1:2] == ["tray"]:
        selection = x11.XInternAtom(display, b"_NET_SYSTEM_TRAY_S0", 0)
        owner = x11.XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0)
        x11.XSetSelectionOwner(display, selection, owner, 0)
        manager = x11.XInternAtom(display, b"MANAGER", 0)
        send(display, root, root, manager, [0, selection, owner, 0, 0], STRUCTURE_NOTIFY_MASK)
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
        while True:
            time.sleep(3600)
    elif sys.argv[1:2] == ["close"] and len(sys.argv) == 3:
        window = int(sys.argv[2], 0)
        protocols = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
        delete = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
        send(display, window, window, protocols, [delete, 0, 0, 0, 0], 0)
    else:
        sys.exit(__doc__)


main()
