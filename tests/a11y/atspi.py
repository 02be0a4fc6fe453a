#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The program as a screen reader sees it, over the accessibility bus.

atspi.py PID check LANG   prints the tree of the program's windows; fails when an
                          element that can be acted on lacks a role, a name in
                          LANG ("en" or "zh") or an action, when a text or
                          picture is shown without a name, or when any element,
                          shown or hidden, has a name in another language (but
                          a choice and its items, which are named by what they
                          list: receivers by their catalogue names).
atspi.py PID press NAME   does the first action of the showing element called NAME.
atspi.py PID announce NAME TEXT...
                          does the first action of NAME and fails unless a
                          reader is told of each TEXT as a new name within 20 s,
                          and only once.
atspi.py PID text NAME    prints the names of the showing elements, one a line,
                          and fails unless one of them is NAME.
Waits up to 15 s for the program to appear on the bus.
"""
import contextlib
import io
import sys
import time

import pyatspi
from gi.repository import GLib


def han(text):
    return any("\u4e00" <= c <= "\u9fff" for c in text)


def application(pid):
    deadline = time.time() + 15
    while time.time() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is not None and app.get_process_id() == pid and app.childCount > 0:
                    return app
            except Exception:
                pass
        time.sleep(0.2)
    sys.exit(f"no application with process {pid} on the accessibility bus")


def walk(node, depth=0):
    yield node, depth
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1)


def showing(node):
    states = node.getState()
    return states.contains(pyatspi.STATE_SHOWING) and states.contains(pyatspi.STATE_VISIBLE)


def actions(node):
    try:
        action = node.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(i) for i in range(action.nActions)]


def in_language(name, lang):
    # The languages offered are named in their own.
    return name in ("English", "中文") or han(name) == (lang == "zh")


def in_choice(node):
    # Under X, Qt names a combo box by its current item; the items are what the
    # choice lists, such as receivers by the names the catalogue gives them.
    while node is not None:
        if node.getRole() == pyatspi.ROLE_COMBO_BOX:
            return True
        node = node.parent
    return False


def check(app, lang):
    faults = 0
    for node, depth in walk(app):
        names = actions(node)
        role = node.getRoleName()
        print(f"{'  ' * depth}{role} \"{node.name}\" [{', '.join(names)}]"
              f"{'' if showing(node) else ' (hidden)'}"
              f"{' - ' + node.description if node.description else ''}")
        if node.getRole() in (pyatspi.ROLE_APPLICATION, pyatspi.ROLE_FRAME):
            continue
        problem = None
        if node.name.strip() and not in_language(node.name, lang) and not in_choice(node):
            # A hidden text a reader may still come across, such as a placeholder.
            problem = f"name not in {lang}"
        elif not showing(node):
            continue
        elif names:
            if node.getRole() in (pyatspi.ROLE_INVALID, pyatspi.ROLE_UNKNOWN):
                problem = "no role"
            elif not node.name.strip():
                problem = "no name"
        elif node.getRole() in (pyatspi.ROLE_LABEL, pyatspi.ROLE_IMAGE, pyatspi.ROLE_ICON) and not node.name.strip():
            problem = "shown without a name (a picture that only decorates has no place in the tree)"
        if problem:
            print(f"FAULT: {role} \"{node.name}\": {problem}")
            faults += 1
    return faults


def find(app, name):
    for node, _ in walk(app):
        if node.name == name and showing(node) and actions(node):
            return node
    return None


def main():
    pid, command, arg = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    app = application(pid)
    if command == "check":
        # A change just asked for (a language chosen) reaches the bus one name
        # at a time: the tree is read again until it has no fault, for up to 5 s.
        deadline = time.time() + 5
        while True:
            tree = io.StringIO()
            with contextlib.redirect_stdout(tree):
                faults = check(app, arg)
            if not faults or time.time() > deadline:
                print(tree.getvalue(), end="")
                sys.exit(1 if faults else 0)
            time.sleep(0.3)
    if command == "press":
        deadline = time.time() + 10
        while time.time() < deadline:
            node = find(app, arg)
            if node is not None:
                node.queryAction().doAction(0)
                return
            time.sleep(0.2)
        sys.exit(f"nothing to press called \"{arg}\"")
    if command == "announce":
        expected = sys.argv[4:]
        seen = []
        ending = []
        node = find(app, arg)
        if node is None:
            sys.exit(f"nothing to press called \"{arg}\"")

        def changed(event):
            try:
                seen.append(event.source.name)
            except Exception:
                return
            if all(text in seen for text in expected) and not ending:
                # A moment more, for a second telling of the last one.
                ending.append(True)
                GLib.timeout_add(1000, give_up)

        def press():
            node.queryAction().doAction(0)
            return False

        def give_up():
            pyatspi.Registry.stop()
            return False

        pyatspi.Registry.registerEventListener(changed, "object:property-change:accessible-name")
        GLib.timeout_add(300, press)
        GLib.timeout_add_seconds(20, give_up)
        pyatspi.Registry.start()
        print("\n".join(seen))
        twice = [text for text in expected if seen.count(text) > 1]
        if twice:
            print("told more than once: " + "; ".join(twice))
        sys.exit(0 if all(text in seen for text in expected) and not twice else 1)
    if command == "text":
        names = [node.name for node, _ in walk(app) if showing(node) and node.name]
        print("\n".join(names))
        sys.exit(0 if arg in names else 1)
    sys.exit(f"unknown command {command}")


if __name__ == "__main__":
    main()
