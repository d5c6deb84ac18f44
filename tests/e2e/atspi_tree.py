#!/usr/bin/python3
"""Prints what a screen reader finds in one window of a running program.

usage: atspi_tree.py APPLICATION TITLE [SECONDS]

Waits up to SECONDS (default 20) for a showing window named TITLE of the
application named APPLICATION in the AT-SPI tree, then prints one line per
fact, fields separated by tabs, with backslash, tab and line breaks escaped:

    window      NAME  DESCRIPTION
    focusable   ROLE  NAME            every showing object that can take focus
    labelled-by ROLE  NAME  LABEL...  every object with that relation

Exits 1 when the window does not appear in time.
"""
import sys
import time

import pyatspi


def text(value):
    return (value or "").replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def line(*fields):
    print("\t".join(text(f) for f in fields))


def find_window(app_name, title):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is None or app.name != app_name:
            continue
        for window in app:
            if (window is not None and window.name == title and
                    window.getState().contains(pyatspi.STATE_SHOWING)):
                return window
    return None


def walk(node):
    for child in node:
        if child is None:
            continue
        yield child
        yield from walk(child)


def report(window):
    line("window", window.name, window.description)
    for node in walk(window):
        state = node.getState()
        if state.contains(pyatspi.STATE_SHOWING) and state.contains(pyatspi.STATE_FOCUSABLE):
            line("focusable", node.getRoleName(), node.name)
        for relation in node.getRelationSet():
            if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
                labels = [relation.getTarget(i).name for i in range(relation.getNTargets())]
                line("labelled-by", node.getRoleName(), node.name, *labels)


def main():
    app_name, title = sys.argv[1], sys.argv[2]
    deadline = time.monotonic() + (float(sys.argv[3]) if len(sys.argv) > 3 else 20.0)
    while True:
        window = find_window(app_name, title)
        if window is not None:
            report(window)
            return 0
        if time.monotonic() > deadline:
            print("no showing window %r of %r" % (title, app_name), file=sys.stderr)
            return 1
        time.sleep(0.1)


if __name__ == "__main__":
    sys.exit(main())
