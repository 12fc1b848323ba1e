// Tells Ravolet which application is in front: exports the focused
// application's id (and the focused window's class) on the session bus, with
// a signal on every change of those or of the running applications (which
// Ravolet then asks for). Nothing else leaves the shell.
// GNOME Shell up to 44 (the imports generation).
const { Gio, GLib, Shell } = imports.gi;

const BUS_NAME = 'ai.ravolet.ShellFrontWindow';
const OBJECT_PATH = '/ai/ravolet/ShellFrontWindow';
const INTERFACE = `<node>
  <interface name="ai.ravolet.ShellFrontWindow">
    <method name="Get">
      <arg type="s" direction="out" name="appId"/>
      <arg type="s" direction="out" name="windowClass"/>
    </method>
    <method name="RunningApps"><arg type="as" direction="out" name="appIds"/></method>
    <signal name="Changed"><arg type="s" name="appId"/><arg type="s" name="windowClass"/></signal>
  </interface>
</node>`;

class FrontWindowExport {
    enable() {
        this._tracker = Shell.WindowTracker.get_default();
        this._object = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
        this._object.export(Gio.DBus.session, OBJECT_PATH);
        this._appChanged = this._tracker.connect('notify::focus-app', () => this._emit());
        this._windowChanged = global.display.connect('notify::focus-window', () => this._emit());
        this._appSystem = Shell.AppSystem.get_default();
        this._runningChanged = this._appSystem.connect('app-state-changed', () => this._emit());
        this._name = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME, Gio.BusNameOwnerFlags.NONE,
            null, null);
    }

    disable() {
        Gio.bus_unown_name(this._name);
        this._appSystem.disconnect(this._runningChanged);
        this._appSystem = null;
        global.display.disconnect(this._windowChanged);
        this._tracker.disconnect(this._appChanged);
        this._object.unexport();
        this._object = null;
        this._tracker = null;
    }

    Get() {
        const app = this._tracker.focus_app;
        const window = global.display.focus_window;
        return [app ? app.get_id() : '', window ? window.get_wm_class() || '' : ''];
    }

    RunningApps() {
        return this._appSystem.get_running().map(app => app.get_id());
    }

    _emit() {
        this._object.emit_signal('Changed', new GLib.Variant('(ss)', this.Get()));
    }
}

function init() {
    return new FrontWindowExport();
}
