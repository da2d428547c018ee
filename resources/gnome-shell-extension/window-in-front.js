// The window in front, told on the session bus. GNOME gives no other program
// a way to learn it; Huelens reads it here to recognise the application the
// user works in.
//
// This is the body both forms of the extension share: the build puts it into
// extension-imports.js.in (GNOME Shell 43 and 44) or extension-module.js.in
// (45 and later), which define Gio, GLib, Meta and Shell and call
// `new WindowInFront(global.display, ...)` on enable and destroy() on disable.
// It exports one object and owns one name; it adds nothing to the shell's
// screen and keeps no settings.

const BUS_NAME = 'org.korvant.huelens.WindowInFront';
const OBJECT_PATH = '/org/korvant/huelens/WindowInFront';

// Get() and Changed carry the same dictionary, empty while no window has the
// focus:
//   id                t  the shell's number for the window, unique in this session
//   title             s  its title
//   wm-class          s  X11: the class part of WM_CLASS; Wayland: the app id
//   wm-class-instance s  X11: the instance part of WM_CLASS; Wayland: the app id
//   app-id            s  the .desktop id of its application, where the shell
//                        matched the window to a .desktop file; else empty
//   pid               u  its process, 0 when unknown
//   x11               b  true for a window of an X11 client (XWayland)
// A reader ignores keys it does not know, so keys may be added later.
const INTERFACE = `<node>
  <interface name="org.korvant.huelens.WindowInFront">
    <method name="Get">
      <arg name="window" type="a{sv}" direction="out"/>
    </method>
    <signal name="Changed">
      <arg name="window" type="a{sv}"/>
    </signal>
  </interface>
</node>`;

// The window's properties whose change is told.
const WATCHED = ['notify::title', 'notify::wm-class', 'notify::gtk-application-id'];

function describe(window, appOf) {
    if (!window)
        return {};
    const app = appOf(window);
    const pid = window.get_pid();
    return {
        'id': new GLib.Variant('t', window.get_id()),
        'title': new GLib.Variant('s', window.get_title() || ''),
        'wm-class': new GLib.Variant('s', window.get_wm_class() || ''),
        'wm-class-instance': new GLib.Variant('s', window.get_wm_class_instance() || ''),
        'app-id': new GLib.Variant('s', app && !app.is_window_backed() ? app.get_id() || '' : ''),
        'pid': new GLib.Variant('u', pid > 0 ? pid : 0),
        'x11': new GLib.Variant('b', window.get_client_type() === Meta.WindowClientType.X11),
    };
}

// What the bus sees: only Get().
class WindowInFrontService {
    constructor(owner) {
        this._owner = owner;
    }

    Get() {
        return this._owner.describe();
    }
}

class WindowInFront {
    // display: the shell's MetaDisplay; appOf(window): the ShellApp of a
    // window, or null.
    constructor(display, appOf) {
        this._display = display;
        this._appOf = appOf;
        this._window = null;
        this._windowSignals = [];
        this._told = null;

        this._exported = Gio.DBusExportedObject.wrapJSObject(INTERFACE, new WindowInFrontService(this));
        this._exported.export(Gio.DBus.session, OBJECT_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
        this._focusSignal = display.connect('notify::focus-window', () => this._follow());
        this._follow();
    }

    destroy() {
        this._display.disconnect(this._focusSignal);
        this._forgetWindow();
        Gio.bus_unown_name(this._nameId);
        this._exported.unexport();
        this._exported = null;
    }

    describe() {
        return describe(this._window, this._appOf);
    }

    _forgetWindow() {
        if (this._window) {
            for (const id of this._windowSignals)
                this._window.disconnect(id);
        }
        this._window = null;
        this._windowSignals = [];
    }

    _follow() {
        const window = this._display.focus_window;
        if (window !== this._window) {
            this._forgetWindow();
            this._window = window;
            if (window) {
                this._windowSignals = WATCHED.map(signal => window.connect(signal, () => this._tell()));
                // A window that goes while it has the focus is not touched again.
                this._windowSignals.push(window.connect('unmanaged', () => {
                    this._forgetWindow();
                    this._tell();
                }));
            }
        }
        this._tell();
    }

    // Tells a change once: a title set again to the same text tells nothing.
    _tell() {
        const now = new GLib.Variant('(a{sv})', [this.describe()]);
        if (this._told && this._told.equal(now))
            return;
        this._told = now;
        this._exported.emit_signal('Changed', now);
    }
}
