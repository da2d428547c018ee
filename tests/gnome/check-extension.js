// Both forms of Huelens' GNOME Shell extension loaded as their shells load
// them, outside any shell (gjs -m, on a private session bus; see
// check-extension.sh): the GNOME Shell 43/44 form through `imports`, the 45+
// form as an ES module, with a stand-in for the shell's Extension class at
// its resource path. Each is enabled over a display with no focused window
// and must own its name and export its interface, the same interface for
// both, answer Get() with an empty description, and give both up again when
// disabled. The 43 form also runs in a real GNOME Shell (test_gnome_session);
// no GNOME Shell 45 or later is at hand to run the other.
//
//   gjs -m check-extension.js FORMS_FOLDER UUID SCRATCH_FOLDER

import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import GObject from 'gi://GObject';
import System from 'system';

const [forms, uuid, scratch] = ARGV;
const NAME = 'org.korvant.huelens.WindowInFront';
const PATH = '/org/korvant/huelens/WindowInFront';
let failures = 0;

function fail(message) {
    printerr(`FAIL: ${message}`);
    failures++;
}

// The shell's display as far as the extension uses it: a focus-window
// property that notifies.
const FakeDisplay = GObject.registerClass({
    Properties: {
        'focus-window': GObject.ParamSpec.object('focus-window', '', '', GObject.ParamFlags.READWRITE,
            GObject.Object),
    },
}, class FakeDisplay extends GObject.Object {});

// The shell's own Extension class (resource:///org/gnome/shell/extensions/
// extension.js), as far as an extension's module sees it.
function registerShellStandIn() {
    const folder = `${scratch}/resource`;
    GLib.mkdir_with_parents(folder, 0o755);
    GLib.file_set_contents(`${folder}/extension.js`,
        'export class Extension {\n    constructor(metadata) { this.metadata = metadata; }\n}\n');
    GLib.file_set_contents(`${folder}/shell.gresource.xml`,
        '<gresources><gresource prefix="/org/gnome/shell/extensions">' +
        '<file>extension.js</file></gresource></gresources>');
    const [, , err, status] = GLib.spawn_sync(folder, ['glib-compile-resources', '--target=shell.gresource',
        'shell.gresource.xml'], null, GLib.SpawnFlags.SEARCH_PATH, null);
    if (status !== 0)
        throw new Error(`glib-compile-resources: ${new TextDecoder().decode(err)}`);
    Gio.Resource.load(`${folder}/shell.gresource`)._register();
}

// Runs a command to its end while the main loop serves the bus; its output.
function run(argv) {
    const loop = new GLib.MainLoop(null, false);
    const process = Gio.Subprocess.new(argv, Gio.SubprocessFlags.STDOUT_PIPE | Gio.SubprocessFlags.STDERR_MERGE);
    let output = '';
    process.communicate_utf8_async(null, null, (p, result) => {
        [, output] = p.communicate_utf8_finish(result);
        loop.quit();
    });
    const limit = GLib.timeout_add_seconds(GLib.PRIORITY_DEFAULT, 10, () => {
        output = 'TIMEOUT';
        process.force_exit();
        return GLib.SOURCE_REMOVE;
    });
    loop.run();
    GLib.source_remove(limit);
    return output ?? '';
}

function nameOwned() {
    const reply = Gio.DBus.session.call_sync('org.freedesktop.DBus', '/org/freedesktop/DBus',
        'org.freedesktop.DBus', 'NameHasOwner', new GLib.Variant('(s)', [NAME]), null,
        Gio.DBusCallFlags.NONE, 5000, null);
    return reply.deepUnpack()[0];
}

// Lets the bus deliver what is queued (the name's acquisition).
function settle() {
    const context = GLib.MainContext.default();
    const until = GLib.get_monotonic_time() + 300000;
    while (GLib.get_monotonic_time() < until)
        context.iteration(false);
}

// The interface the enabled extension exports, and what Get() answers.
function exercise(form, enable, disable) {
    globalThis.global = {display: new FakeDisplay()};
    enable();
    settle();
    if (!nameOwned())
        fail(`${form}: enabled, it owns no ${NAME}`);
    const xml = run(['gdbus', 'introspect', '--session', '--xml', '--dest', NAME, '--object-path', PATH]);
    const iface = xml.match(/<interface name="org\.korvant\.huelens\.WindowInFront">[\s\S]*?<\/interface>/);
    if (!iface)
        fail(`${form}: no interface ${NAME} on ${PATH}: ${xml}`);
    const answer = run(['gdbus', 'call', '--session', '--dest', NAME, '--object-path', PATH, '--method',
        `${NAME}.Get`]).trim();
    if (answer !== '(@a{sv} {},)')
        fail(`${form}: Get() with no window in front answered ${answer}`);
    disable();
    settle();
    if (nameOwned())
        fail(`${form}: disabled, it still owns ${NAME}`);
    return iface ? iface[0] : '';
}

registerShellStandIn();

// GNOME Shell 43 and 44: the folder on the importer's path, init() gives the
// object enabled.
imports.searchPath.unshift(`${forms}/imports/${uuid}`);
const legacy = imports.extension.init();
const legacyInterface = exercise('imports form', () => legacy.enable(), () => legacy.disable());

// GNOME Shell 45 and later: import() of extension.js, its default export
// constructed with the metadata.
const module = await import(`file://${forms}/module/${uuid}/extension.js`);
const metadata = JSON.parse(new TextDecoder().decode(GLib.file_get_contents(`${forms}/module/${uuid}/metadata.json`)[1]));
if (metadata.uuid !== uuid)
    fail(`module form: metadata names ${metadata.uuid}`);
if (!metadata['shell-version'].includes('45'))
    fail(`module form: made for ${metadata['shell-version']}`);
const extension = new module.default(metadata);
if (typeof extension.enable !== 'function' || typeof extension.disable !== 'function')
    fail('module form: its default export has no enable() and disable()');
const moduleInterface = exercise('module form', () => extension.enable(), () => extension.disable());

if (legacyInterface !== moduleInterface)
    fail(`the two forms export different interfaces:\n${legacyInterface}\n---\n${moduleInterface}`);
if (failures === 0)
    print('both forms load, export the same interface and give it up again');
System.exit(failures === 0 ? 0 : 1);
