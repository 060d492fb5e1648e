#!/usr/bin/python3
"""Listens on the accessibility bus as a screen reader does, for the events
it follows while text comes in, and says how many it heard when stopped."""
import signal
import sys

import pyatspi

heard = {"events": 0}


def count(event):
    heard["events"] += 1


def stop(*_):
    print("accessibility listener: %d events heard" % heard["events"], file=sys.stderr)
    pyatspi.Registry.stop()


for kind in ("object:text-changed", "object:children-changed", "object:state-changed",
             "object:property-change", "object:text-caret-moved", "object:visible-data-changed"):
    pyatspi.Registry.registerEventListener(count, kind)
signal.signal(signal.SIGTERM, stop)
signal.signal(signal.SIGINT, stop)
pyatspi.Registry.start()
