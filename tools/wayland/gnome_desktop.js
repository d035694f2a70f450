// The GNOME Shell extension that makes the headless shell of tools/wayland/session
// a still, known desktop for tests, as sway's configuration does there: no top
// bar (it shows a clock, and an indicator while the screen is shared), no
// notification banners, the test windows at fixed places; and it tells the
// session what the portal's chooser dialog does. It writes to the session's
// directory, $ZORSCK_WAYLAND_DIR: `shell-ready` once the desktop is set up,
// `asked` (one more line per chooser dialog shown, also across restarts of
// the shell) and `dialogs` (how many show now).
/* exported init */
const { Gio, GLib } = imports.gi;
const Main = imports.ui.main;

// Where the windows of the test clients go, by their Wayland app_id.
const kPlaces = { 'zorsck-pattern': [300, 200], 'zorsck-generations': [0, 0] };
const kChooser = 'xdg-desktop-portal-gnome';

class TestDesktop {
    constructor() {
        this._dir = GLib.getenv('ZORSCK_WAYLAND_DIR');
        this._open = new Set();
        this._handlers = [];
    }

    // Sets the desktop up and watches windows; on the shell's main loop.
    enable() {
        const layout = Main.layoutManager;
        layout.untrackChrome(layout.panelBox);  // no strut: windows may cover the whole monitor
        layout.panelBox.hide();
        Main.messageTray.bannerBlocked = true;
        this._connect(global.window_manager, 'map', (wm, actor) => this._mapped(actor.meta_window));
        this._write('dialogs', '0\n');
        if (layout._startingUp)
            this._connect(layout, 'startup-complete', () => this._write('shell-ready', 'ready\n'));
        else
            this._write('shell-ready', 'ready\n');
    }

    // Lets the signals go; on the shell's main loop.
    disable() {
        for (const [object, id] of this._handlers)
            object.disconnect(id);
        this._handlers = [];
    }

    _connect(object, signal, handler) {
        this._handlers.push([object, object.connect(signal, handler)]);
    }

    // Places a test window, or counts a chooser dialog until it goes; on the shell's main loop.
    _mapped(window) {
        const app = window.get_wm_class();
        if (app in kPlaces) {
            window.move_frame(false, ...kPlaces[app]);
        } else if (app === kChooser && !this._open.has(window)) {
            this._open.add(window);
            this._append('asked', 'asked\n');
            this._write('dialogs', `${this._open.size}\n`);
            window.connect('unmanaged', () => {
                this._open.delete(window);
                this._write('dialogs', `${this._open.size}\n`);
            });
        }
    }

    // Replaces the session's file `name` with `text`; on the shell's main loop.
    _write(name, text) {
        if (this._dir)
            GLib.file_set_contents(`${this._dir}/${name}`, text);
    }

    // Adds `text` to the end of the session's file `name`; on the shell's main loop.
    _append(name, text) {
        if (!this._dir)
            return;
        const stream = Gio.File.new_for_path(`${this._dir}/${name}`).append_to(Gio.FileCreateFlags.NONE, null);
        stream.write_all(new TextEncoder().encode(text), null);
        stream.close(null);
    }
}

function init() {
    return new TestDesktop();
}
