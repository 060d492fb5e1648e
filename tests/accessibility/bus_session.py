#!/usr/bin/env python3
"""Runs accessibility tests where a screen reader meets the program: on a
virtual X display of their own, with a private session bus and the
accessibility bus it starts on demand. Everything it started is stopped at
the end, whatever the tests did.

Usage: bus_session.py PROGRAM TEST_MODULE...
"""
import fcntl
import os
import select
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def start_display(log):
    """Starts Xvfb on the first free display and waits until a client can
    connect to it; returns (process, ':N'). Starts are taken one at a time
    on the machine, so servers starting together never contend for one
    display number."""
    try:
        lock = open(os.path.join("/tmp", "vantrel-xvfb-start.lock"), "a")
    except OSError:  # another user's lock file: start unserialized
        lock = open(os.devnull, "a")
    with lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        xvfb, display = launch_display(log)
        deadline = time.monotonic() + 120
        while subprocess.run(["xdotool", "getdisplaygeometry"], env=dict(os.environ, DISPLAY=display),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            if xvfb.poll() is not None or time.monotonic() > deadline:
                xvfb.kill()
                raise SystemExit("Xvfb on %s accepts no clients" % display)
            time.sleep(0.1)
        return xvfb, display


def launch_display(log):
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        # -noreset: a server resets when its last client leaves, and a
        # program connecting during that moment is refused.
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"],
        pass_fds=[write_end], stdout=log, stderr=log, start_new_session=True)
    os.close(write_end)
    number = b""
    # The server writes its display number once it accepts clients; on a
    # loaded machine that can take a while.
    while not number.endswith(b"\n"):
        ready, _, _ = select.select([read_end], [], [], 120)
        chunk = os.read(read_end, 16) if ready else b""
        if not chunk:
            xvfb.kill()
            raise SystemExit("Xvfb did not start")
        number += chunk
    os.close(read_end)
    return xvfb, ":" + number.decode().strip()


def stop_group(process):
    """Stops a process and everything it started in its session."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            return
        try:
            process.wait(timeout=10)
            if sig == signal.SIGTERM:
                continue
        except subprocess.TimeoutExpired:
            pass


def main():
    program, modules = sys.argv[1], sys.argv[2:]
    with tempfile.TemporaryDirectory(prefix="vantrel-a11y-") as folder:
        runtime = os.path.join(folder, "runtime")
        os.mkdir(runtime, 0o700)
        with open(os.path.join(folder, "xvfb.log"), "wb") as log:
            xvfb, display = start_display(log)
        env = {k: v for k, v in os.environ.items()
               if k not in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "WAYLAND_DISPLAY")}
        env.update(DISPLAY=display, XDG_RUNTIME_DIR=runtime, TMPDIR=folder,
                   QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   QT_ACCESSIBILITY="1", VANTREL_BINARY=program,
                   PYTHONPATH=HERE, PYTHONDONTWRITEBYTECODE="1")
        tests = subprocess.Popen(
            # pyatspi calls parts of the C library that it calls deprecated.
            ["dbus-run-session", "--", sys.executable, "-W", "ignore::DeprecationWarning", "-m", "unittest", "-v"]
            + modules,
            env=env, cwd=HERE, start_new_session=True)
        try:
            result = tests.wait()
        finally:
            stop_group(tests)
            stop_group(xvfb)
    sys.exit(result)


if __name__ == "__main__":
    main()
