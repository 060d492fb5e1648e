"""The program as a screen reader meets it: started on a pseudo-terminal
port with settings and state of its own, found on the accessibility bus,
read through pyatspi and driven by real key presses (XTest, through
xdotool). Every wait is for a condition, with a generous limit, so a loaded
machine makes the tests slower, never wrong."""
import os
import shutil
import subprocess
import tempfile
import time

import gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402
import pyatspi  # noqa: E402

WAIT_SECONDS = 60
PORT_NUMBER = 5  # the port the program is given: COM5, a pseudo-terminal


def pump():
    """Lets the bus's events in."""
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def wait_for(what, condition, timeout=WAIT_SECONDS):
    """Polls `condition` until it gives something true; fails naming `what`."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        pump()
        try:
            value = condition()
            if value:
                return value
        except GLib.GError as error:  # an object that went away meanwhile
            last_error = error
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for %s%s" % (what, ": %s" % last_error if last_error else ""))
        time.sleep(0.05)


def registry_string(name, text, size=None):
    """A string value in the registry file's text form (UTF-16, hex bytes)."""
    data = (text.encode("utf-16-le") + b"\0\0").ljust(size or 0, b"\0")
    return '"%s"=hex(1):%s\n' % (name, ",".join("%02x" % b for b in data))


# ---------------------------------------------------------------------------
# Reading what a screen reader reads.

def role(obj):
    return obj.getRoleName()


def states(obj):
    return {pyatspi.stateToString(s) for s in obj.getState().getStates()}


def labelled_by(obj):
    """The names of the objects `obj` is labelled by."""
    names = []
    for relation in obj.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            names += [relation.getTarget(i).name for i in range(relation.getNTargets())]
    return names


def actions(obj):
    try:
        action = obj.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(i) for i in range(action.nActions)]


def do_action(obj, name):
    action = obj.queryAction()
    for i in range(action.nActions):
        if action.getName(i) == name:
            return action.doAction(i)
    raise AssertionError("%s %r has no action %r (has %s)" % (role(obj), obj.name, name, actions(obj)))


def text_of(obj):
    try:
        text = obj.queryText()
    except NotImplementedError:
        return None
    return text.getText(0, text.characterCount)


def walk(obj, showing_only=True):
    """Every object under `obj` (itself first), as a screen reader's review
    of the window visits them."""
    yield obj
    for i in range(obj.childCount):
        child = obj.getChildAtIndex(i)
        if child is None:
            continue
        if showing_only and "showing" not in states(child):
            continue
        yield from walk(child, showing_only)


def labelled(root, role_name, label):
    """The object of that role that the label `label` names."""
    for obj in walk(root):
        if role(obj) == role_name and label in labelled_by(obj):
            return obj
    return None


def find(root, role_name, name=None, showing_only=True):
    """The first object of that role (and name) under root, or None."""
    for obj in walk(root, showing_only):
        if role(obj) == role_name and (name is None or obj.name == name):
            return obj
    return None


def describe(obj):
    """One line: what a screen reader has for the control."""
    parts = [role(obj), repr(obj.name)]
    labels = labelled_by(obj)
    if labels:
        parts.append("labelled by %s" % ", ".join(repr(label) for label in labels))
    try:
        value = obj.queryValue()
        parts.append("value %g" % value.currentValue)
    except NotImplementedError:
        pass
    text = text_of(obj)
    if text is not None and role(obj) not in ("label", "push button", "combo box"):
        parts.append("text %r" % (text if len(text) < 60 else text[:57] + "..."))
    interesting = sorted(states(obj) & {"enabled", "focusable", "focused", "checked", "pressed", "editable",
                                         "expandable", "expanded", "has popup", "selectable", "selected",
                                         "read only", "multi line", "default", "checkable"})
    parts.append("[%s]" % ", ".join(interesting))
    acts = actions(obj)
    if acts:
        parts.append("actions: %s" % ", ".join(acts))
    return " ".join(parts)


# ---------------------------------------------------------------------------
# Events.

class EventLog:
    """Collects the bus's events of the given types while alive."""

    def __init__(self, *event_types):
        self.events = []
        self._listener = Atspi.EventListener.new(self._on_event)
        self._types = event_types
        for event_type in event_types:
            self._listener.register(event_type)

    def _on_event(self, event):
        try:
            source = event.source
            self.events.append((event.type, source.get_role_name(), source.get_name(), event.any_data))
        except GLib.GError:
            self.events.append((event.type, None, None, None))

    def close(self):
        for event_type in self._types:
            self._listener.deregister(event_type)


# ---------------------------------------------------------------------------
# The program.

class Vantrel:
    """The real program on a pseudo-terminal port, with a registry, a state
    folder and a device tree of its own (the machine's own ports are never
    reachable: the device tree is an empty folder)."""

    def __init__(self, folder=None, values=()):
        self._own_folder = folder is None
        self.folder = folder or tempfile.mkdtemp(prefix="vantrel-run-")
        self.master, slave = os.openpty()
        self.port_path = os.ttyname(slave)
        os.close(slave)
        self.process = None
        self.app = None
        registry = os.path.join(self.folder, "registry.reg")
        if not os.path.exists(registry):
            with open(registry, "w", encoding="utf-8") as out:
                out.write("Windows Registry Editor Version 5.00\n\n")
                out.write("[HKEY_CURRENT_USER\\Software\\Kerbix\\Vantrel]\n")
                out.write(registry_string("PortName", "COM%d" % PORT_NUMBER, 256))
                for value in values:  # more lines under the program's key
                    out.write(value + "\n")
                out.write("\n[HKEY_CURRENT_USER\\Software\\Kerbix\\Vantrel\\Ports]\n")
                out.write(registry_string("COM%d" % PORT_NUMBER, self.port_path))
        else:
            self._repoint_port(registry)
        os.makedirs(os.path.join(self.folder, "devices"), exist_ok=True)
        self.env = dict(os.environ,
                        VANTREL_REGISTRY=registry,
                        VANTREL_DEVICE_ROOT=os.path.join(self.folder, "devices"),
                        XDG_STATE_HOME=os.path.join(self.folder, "state"),
                        XDG_CONFIG_HOME=os.path.join(self.folder, "config"),
                        HOME=self.folder)

    def _repoint_port(self, registry):
        """A second run in the same folder: the port is a new terminal."""
        with open(registry, encoding="utf-8") as f:
            lines = f.readlines()
        with open(registry, "w", encoding="utf-8") as out:
            for line in lines:
                if line.startswith('"COM%d"=' % PORT_NUMBER):
                    line = registry_string("COM%d" % PORT_NUMBER, self.port_path)
                out.write(line)

    def start(self):
        # Standard error goes to a file: a pipe nobody reads would stop the
        # program once it filled.
        self.log_path = os.path.join(self.folder, "stderr-%d.log" % len(os.listdir(self.folder)))
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen([os.environ["VANTREL_BINARY"]], env=self.env,
                                            stdout=subprocess.DEVNULL, stderr=log)
        try:
            self._find_on_bus()
        except BaseException:
            self.kill()  # nothing of a failed start outlives the test
            raise
        return self

    def _find_on_bus(self):
        desktop = pyatspi.Registry.getDesktop(0)

        def app():
            if self.process.poll() is not None:
                with open(self.log_path, encoding="utf-8", errors="replace") as log:
                    raise AssertionError("the program ended: %s" % log.read())
            for i in range(desktop.childCount):
                candidate = desktop.getChildAtIndex(i)
                if candidate is not None and candidate.get_process_id() == self.process.pid:
                    return candidate
            return None
        self.app = wait_for("the program on the accessibility bus", app)
        # Read everything afresh each time: the tests check what the bus
        # says now, not what a cache kept.
        Atspi.Accessible.set_cache_mask(self.app, Atspi.Cache.NONE)
        self.main = self.window("Vantrel")

    def window(self, name, timeout=WAIT_SECONDS):
        """The top-level window or dialog of that name, once it shows."""
        def found():
            for i in range(self.app.childCount):
                child = self.app.getChildAtIndex(i)
                if child is not None and child.name == name and "showing" in states(child):
                    return child
            return None
        return wait_for("window %r" % name, found, timeout)

    def top(self, role_name):
        """The shown top-level window of that role (a question is an alert)."""
        def found():
            for i in range(self.app.childCount):
                child = self.app.getChildAtIndex(i)
                if child is not None and role(child) == role_name and "showing" in states(child):
                    return child
            return None
        return wait_for("a shown %s" % role_name, found)

    def run_command(self, name):
        """Runs a command through the Menu button's menu, by the bus's actions."""
        do_action(find(self.main, "push button", "Menu"), "Press")
        menu = wait_for("the command menu", lambda: find(self.main, "popup menu"))
        do_action(wait_for("menu entry %r" % name, lambda: find(menu, "menu item", name)), "Press")

    def gone(self, name):
        def is_gone():
            for i in range(self.app.childCount):
                child = self.app.getChildAtIndex(i)
                if child is not None and child.name == name and "showing" in states(child):
                    return False
            return True
        wait_for("window %r to close" % name, is_gone)

    def focus_window(self, name):
        """Gives the X window of that title the keyboard, as a click on it
        would (there is no window manager on the test display). Tried again
        until the display says so: a window just shown or closed may not
        take the focus at the first attempt."""
        def xdotool(*args):
            return subprocess.run(["xdotool"] + list(args), capture_output=True, text=True,
                                  timeout=WAIT_SECONDS).stdout.split()

        def focused():
            windows = xdotool("search", "--onlyvisible", "--pid", str(self.process.pid), "--name", "^%s$" % name)
            for window in reversed(windows):
                xdotool("windowfocus", window)
                if xdotool("getwindowfocus") == [window]:
                    return True
            return False
        wait_for("X window %r to take the keyboard" % name, focused)

    def keys(self, *names):
        """Presses keys (xdotool names: Tab, space, Down, Return, shift+Tab)."""
        for name in names:
            subprocess.run(["xdotool", "key", "--clearmodifiers", name], check=True, timeout=WAIT_SECONDS)

    def focused(self, root=None):
        """The object that has the keyboard focus under root (or the program)."""
        roots = [root] if root is not None else [self.app.getChildAtIndex(i) for i in range(self.app.childCount)]
        for top in roots:
            if top is None:
                continue
            for obj in walk(top):
                # Containers of the focus may say "focused" too; the focus
                # itself is what takes it.
                if {"focused", "focusable"} <= states(obj):
                    return obj
        return None

    def move_focus(self, key, root=None):
        """Presses a key that moves the focus and waits until it has moved;
        returns the newly focused object."""
        def identity(obj):
            return None if obj is None else (role(obj), obj.name, tuple(labelled_by(obj)))
        before = identity(self.focused(root))
        self.keys(key)
        return wait_for("the focus to move from %s on %s" % (before, key), lambda: (
            lambda now: now if now is not None and identity(now) != before else None)(self.focused(root)))

    def wait_focus(self, role_name, name=None, root=None):
        def matches():
            obj = self.focused(root)
            return obj if obj is not None and role(obj) == role_name and (name is None or obj.name == name) else None
        try:
            return wait_for("focus on %s %r" % (role_name, name), matches)
        except AssertionError:
            now = self.focused(root)
            raise AssertionError("focus never reached %s %r; it is on %s" % (
                role_name, name, describe(now) if now is not None else "nothing"))

    def send(self, data):
        """The far end: the instrument writes to the port."""
        os.write(self.master, data)

    def kill(self):
        """Ends the program as a crash would."""
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=WAIT_SECONDS)

    def close(self):
        self.kill()
        os.close(self.master)
        if self._own_folder:
            shutil.rmtree(self.folder, ignore_errors=True)
