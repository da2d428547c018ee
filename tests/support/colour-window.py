#!/usr/bin/python3
"""A window of one colour for the desktop tests: GTK 3, undecorated and
maximised, so the work area shows nothing but that colour.

    colour-window.py CLASS TITLE RRGGBB [SECONDS]

CLASS is the program name GTK gives the window (its app id on Wayland, the
class part of WM_CLASS on X11); the window closes after SECONDS (600)."""
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import GLib, Gdk, Gtk  # noqa: E402

klass, title, colour = sys.argv[1:4]
seconds = int(sys.argv[4]) if len(sys.argv) > 4 else 600
GLib.set_prgname(klass)
Gtk.init()
css = Gtk.CssProvider()
css.load_from_data(("window { background: #%s; }" % colour).encode())
Gtk.StyleContext.add_provider_for_screen(Gdk.Screen.get_default(), css, Gtk.STYLE_PROVIDER_PRIORITY_USER)
window = Gtk.Window(title=title)
window.set_decorated(False)
window.set_default_size(1280, 720)
window.connect("destroy", Gtk.main_quit)
window.maximize()
window.show_all()
GLib.timeout_add_seconds(seconds, Gtk.main_quit)
Gtk.main()
