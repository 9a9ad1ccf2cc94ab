#!/usr/bin/python3
# What a screen reader sees of the running client, through the desktop's accessibility bus.
#   atspi_probe.py tree              the client's tree, one line per object: indent, role, name
#   atspi_probe.py press NAME        the "press" action of the first push button called NAME
#   atspi_probe.py texts PREFIX      the names of static texts that start with PREFIX
#   atspi_probe.py focused           the name of the push button that has the focus
# Exit code 2 when the client is not on the bus (yet), 3 when the object is not there.
import sys

import pyatspi

APP = "qev"


def client():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.name == APP:
            return app
    sys.exit(2)


def walk(node, depth=0):
    yield node, depth
    for child in node:
        if child is not None:
            yield from walk(child, depth + 1)


def main():
    command = sys.argv[1]
    app = client()
    if command == "tree":
        for node, depth in walk(app):
            print("%s%s %r" % ("  " * depth, node.getRoleName(), node.name))
        return 0
    if command == "press":
        for node, _ in walk(app):
            if (
                node.getRole() == pyatspi.ROLE_PUSH_BUTTON
                and node.name == sys.argv[2]
                and node.getState().contains(pyatspi.STATE_SHOWING)
            ):
                action = node.queryAction()
                for i in range(action.nActions):
                    if action.getName(i).lower() == "press":
                        action.doAction(i)
                        return 0
        return 3
    if command == "texts":
        found = [
            node.name
            for node, _ in walk(app)
            if node.getRole() in (pyatspi.ROLE_STATIC, pyatspi.ROLE_LABEL)
            and node.name.startswith(sys.argv[2])
        ]
        print("\n".join(found))
        return 0 if found else 3
    if command == "focused":
        for node, _ in walk(app):
            if node.getRole() == pyatspi.ROLE_PUSH_BUTTON and node.getState().contains(
                pyatspi.STATE_FOCUSED
            ):
                print(node.name)
                return 0
        return 3
    return 1


sys.exit(main())
