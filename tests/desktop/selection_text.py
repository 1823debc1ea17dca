#!/usr/bin/env python3
# Prints the text of an X selection (UTF-8; PRIMARY unless another is named, e.g. CLIPBOARD),
# through libX11 only: the desktop test reads the text of a message box selected with the mouse.
# Exits 1 when no owner answers within 5 s.
#   selection_text.py [SELECTION]
import ctypes
import ctypes.util
import sys
import time

x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XCreateSimpleWindow.restype = ctypes.c_ulong
x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + \
    [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2
x11.XConvertSelection.argtypes = [ctypes.c_void_p] + [ctypes.c_ulong] * 4 + [ctypes.c_ulong]
x11.XPending.argtypes = [ctypes.c_void_p]
x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
x11.XGetWindowProperty.argtypes = [
    ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long, ctypes.c_int,
    ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int),
    ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
    ctypes.POINTER(ctypes.c_void_p)]
x11.XFree.argtypes = [ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]


class SelectionEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("requestor", ctypes.c_ulong),
                ("selection", ctypes.c_ulong), ("target", ctypes.c_ulong),
                ("property", ctypes.c_ulong), ("time", ctypes.c_ulong)]


class Event(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("selection", SelectionEvent),
                ("pad", ctypes.c_long * 24)]


SELECTION_NOTIFY = 31
display = x11.XOpenDisplay(None)
if not display:
    sys.exit("selection_text: no X display")
selection = x11.XInternAtom(display, (sys.argv[1] if len(sys.argv) > 1 else "PRIMARY").encode(), 0)
utf8 = x11.XInternAtom(display, b"UTF8_STRING", 0)
prop = x11.XInternAtom(display, b"QZ_SELECTION", 0)
window = x11.XCreateSimpleWindow(display, x11.XDefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0)
x11.XConvertSelection(display, selection, utf8, prop, window, 0)
event = Event()
deadline = time.monotonic() + 5
answered = False
while time.monotonic() < deadline and not answered:
    while x11.XPending(display):
        x11.XNextEvent(display, ctypes.byref(event))
        if event.type == SELECTION_NOTIFY:
            answered = True
            break
    else:
        time.sleep(0.05)
if not answered or event.selection.property == 0:
    sys.exit(1)
kind, fmt = ctypes.c_ulong(), ctypes.c_int()
count, left, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
x11.XGetWindowProperty(display, window, prop, 0, 1 << 20, 1, 0, ctypes.byref(kind),
                       ctypes.byref(fmt), ctypes.byref(count), ctypes.byref(left),
                       ctypes.byref(data))
text = ctypes.string_at(data, count.value) if data else b""
if data:
    x11.XFree(data)
x11.XCloseDisplay(display)
sys.stdout.write(text.decode("utf-8", "replace"))
