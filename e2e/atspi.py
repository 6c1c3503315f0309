#!/usr/bin/python3
"""The accessibility tree of a running program, as a screen reader reads it
through AT-SPI, and its push buttons pressed the same way.

    atspi.py tree APP                print the tree of application APP
    atspi.py press APP NAME          do the "Press" action of push button NAME
                                     (WINDOW/NAME: the one in window WINDOW)
    atspi.py wait APP NAME STATE...  wait up to 10 s until push button NAME
                                     is there and has every STATE (AT-SPI's names: enabled,
                                     focused, ...; "!focused" for its absence)

Debian's python3 with python3-gi and gir1.2-atspi-2.0; the session bus in
DBUS_SESSION_BUS_ADDRESS leads to the accessibility bus. Exit status 0 on
success, 1 when the application, the button or the states never came."""
import sys
import time
import warnings

import gi

gi.require_version('Atspi', '2.0')
from gi.repository import Atspi, GLib  # noqa: E402

# get_action_name is deprecated, but this libatspi's bindings have nothing newer.
warnings.filterwarnings('ignore', category=DeprecationWarning)

TIMEOUT = 10


def application(name):
    end = time.time() + TIMEOUT
    while time.time() < end:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_name() == name:
                return app
        time.sleep(0.2)
    sys.exit('atspi: no application "%s" on the accessibility bus' % name)


def states(node):
    node.clear_cache()
    return sorted(Atspi.StateType(s).value_nick for s in node.get_state_set().get_states())


def actions(node):
    """Names of the node's actions; none when it has no Action interface."""
    try:
        return [node.get_action_name(i) for i in range(node.get_n_actions())]
    except GLib.Error:
        return []


def walk(node, depth=0):
    yield node, depth
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            yield from walk(child, depth + 1)


def button(app, name, wait=0):
    """The push button, waiting up to `wait` seconds for it to come."""
    window, _, name = name.rpartition('/')
    end = time.time() + wait
    while True:
        scope = next((node for node, _ in walk(app) if node.get_name() == window), None) if window else app
        for node, _ in walk(scope) if scope else []:
            if node.get_role() == Atspi.Role.PUSH_BUTTON and node.get_name() == name:
                return node
        if time.time() > end:
            sys.exit('atspi: no push button "%s"%s' % (name, ' in "%s"' % window if window else ''))
        time.sleep(0.2)


def tree(app):
    for node, depth in walk(app):
        print('%s%s "%s" [%s] actions: %s' % ('  ' * depth, node.get_role_name(), node.get_name(),
                                             ' '.join(states(node)), ', '.join(actions(node)) or '-'))


def press(app, name):
    node = button(app, name)
    names = actions(node)
    if 'Press' in names:
        node.do_action(names.index('Press'))
        return
    sys.exit('atspi: push button "%s" offers no Press' % name)


def wait(app, name, wanted):
    node = button(app, name, TIMEOUT)
    end = time.time() + TIMEOUT
    while True:
        have = states(node)
        if all((w[1:] not in have) if w.startswith('!') else (w in have) for w in wanted):
            return
        if time.time() > end:
            sys.exit('atspi: "%s" is [%s], not %s' % (name, ' '.join(have), ' '.join(wanted)))
        time.sleep(0.1)


def main():
    command, app = sys.argv[1], application(sys.argv[2])
    if command == 'tree':
        tree(app)
    elif command == 'press':
        press(app, sys.argv[3])
    elif command == 'wait':
        wait(app, sys.argv[3], sys.argv[4:])
    else:
        sys.exit(__doc__)


main()
