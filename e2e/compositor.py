#!/usr/bin/python3
"""GNOME's and KDE's compositors through their D-Bus APIs on the session bus:

    compositor.py mutter-scale SCALE       the monitor at SCALE, once mutter answers
    compositor.py mutter-shot|kwin-shot PNG  the screen
    compositor.py mutter-drag X Y [DX DY]  the virtual pointer's left button
                                           pressed at X Y, moved by DX DY, let go
    compositor.py mutter-keys [KEY...]     keys typed on the virtual keyboard, each
                                           a name of KEYSYMS (Tab, space, Return) or
                                           MOD+KEY (alt+F4), pressed and let go; with
                                           none, those of each line read, in one session"""
import os
import subprocess
import sys
import time

from gi.repository import Gio, GLib

BUS = Gio.bus_get_sync(Gio.BusType.SESSION)
MUTTER = 'org.gnome.Mutter.'


def call(service, path, method, args=None, fds=None):  # method: interface.Method
    interface, method = method.rsplit('.', 1)
    reply = BUS.call_with_unix_fd_list_sync(service, path, interface, method, args, None, 0, 5000, fds)[0]
    return reply.unpack() if reply else None


def display(method, args=None):
    return call(MUTTER + 'DisplayConfig', '/org/gnome/Mutter/DisplayConfig', MUTTER + 'DisplayConfig.' + method, args)


def mutter_scale(scale):
    for _ in range(100):
        try:
            serial, monitors = display('GetCurrentState')[:2]
            break
        except GLib.Error:
            time.sleep(0.1)
    else:
        sys.exit("compositor: mutter's display configuration never answered")
    (connector, *_), modes, _ = monitors[0]
    mode = next(m for m in modes if m[6].get('is-current'))
    scale = min(mode[5], key=lambda s: abs(s - float(scale)))  # as offered: 1.5 may be 1.4999...
    display('ApplyMonitorsConfig', GLib.Variant('(uua(iiduba(ssa{sv}))a{sv})',
                                                (serial, 1, [(0, 0, scale, 0, True, [(connector, mode[0], {})])], {})))


def remote_desktop():
    """A remote desktop session with a screen cast of the monitor, started:
    the session, the stream's path and its PipeWire node."""
    session = call(MUTTER + 'RemoteDesktop', '/org/gnome/Mutter/RemoteDesktop',
                   MUTTER + 'RemoteDesktop.CreateSession')[0]
    session_id = call(MUTTER + 'RemoteDesktop', session, 'org.freedesktop.DBus.Properties.Get',
                      GLib.Variant('(ss)', (MUTTER + 'RemoteDesktop.Session', 'SessionId')))[0]
    cast = call(MUTTER + 'ScreenCast', '/org/gnome/Mutter/ScreenCast', MUTTER + 'ScreenCast.CreateSession',
                GLib.Variant('(a{sv})', ({'remote-desktop-session-id': GLib.Variant('s', session_id)},)))[0]
    stream = call(MUTTER + 'ScreenCast', cast, MUTTER + 'ScreenCast.Session.RecordMonitor',
                  GLib.Variant('(sa{sv})', ('', {})))[0]
    node = []
    BUS.signal_subscribe(None, MUTTER + 'ScreenCast.Stream', 'PipeWireStreamAdded', stream, None, 0,
                         lambda *args: node.append(args[5].unpack()[0]))
    remote(session, 'Start')
    for _ in range(1000):
        if node:
            return session, stream, node[0]
        GLib.MainContext.default().iteration(False) or time.sleep(0.01)
    sys.exit('compositor: mutter started no screen cast stream')


def remote(session, method, signature=None, *args):  # a step at a time, as a hand moves
    call(MUTTER + 'RemoteDesktop', session, MUTTER + 'RemoteDesktop.Session.' + method,
         GLib.Variant(signature, args) if signature else None)
    time.sleep(0.05)


def mutter_shot(png):  # a frame of the screen cast
    session, _, node = remote_desktop()
    subprocess.run(['gst-launch-1.0', '-q', 'pipewiresrc', 'path=%d' % node, 'num-buffers=1', '!', 'videoconvert',
                    '!', 'pngenc', '!', 'filesink', 'location=' + png], check=True, timeout=20)
    remote(session, 'Stop')


def mutter_drag(x, y, dx=0, dy=0):
    x, y, dx, dy = map(float, (x, y, dx, dy))
    session, stream, _ = remote_desktop()
    for i in range(11 if dx or dy else 1):
        remote(session, 'NotifyPointerMotionAbsolute', '(sdd)', stream, x + dx * i / 10, y + dy * i / 10)
        if i == 0:
            remote(session, 'NotifyPointerButton', '(ib)', 0x110, True)  # evdev's left button
    remote(session, 'NotifyPointerButton', '(ib)', 0x110, False)
    remote(session, 'Stop')


KEYSYMS = {'alt': 0xffe9, 'ctrl': 0xffe3, 'shift': 0xffe1, 'Tab': 0xff09, 'Return': 0xff0d, 'Escape': 0xff1b,
           'space': 0x20, 'F4': 0xffc1, 'Down': 0xff54, 'Up': 0xff52}


def mutter_keys(*keys):  # a session of the keyboard alone: no screen cast
    session = call(MUTTER + 'RemoteDesktop', '/org/gnome/Mutter/RemoteDesktop',
                   MUTTER + 'RemoteDesktop.CreateSession')[0]
    remote(session, 'Start')
    # A session that ends takes the focus from the window with it: a script
    # typing now and then keeps one open, feeding it lines.
    for line in ([' '.join(keys)] if keys else sys.stdin):
        type_keys(session, line.split())
    remote(session, 'Stop')


def type_keys(session, keys):
    for key in keys:
        syms = [KEYSYMS[k] if k in KEYSYMS else sys.exit('compositor: no key ' + k) for k in key.split('+')]
        for sym in syms:
            remote(session, 'NotifyKeyboardKeysym', '(ub)', sym, True)
        for sym in reversed(syms):
            remote(session, 'NotifyKeyboardKeysym', '(ub)', sym, False)
        time.sleep(0.2)


def kwin_shot(png):  # KWin writes the pixels to a pipe
    read, write = os.pipe()
    fds = Gio.UnixFDList()
    fds.append(write)  # a copy, for KWin
    os.close(write)
    native = {'native-resolution': GLib.Variant('b', True)}  # device pixels, not logical ones
    info = call('org.kde.KWin.ScreenShot2', '/org/kde/KWin/ScreenShot2', 'org.kde.KWin.ScreenShot2.CaptureWorkspace',
                GLib.Variant('(a{sv}h)', (native, 0)), fds)[0]
    with os.fdopen(read, 'rb') as pipe:
        data = pipe.read(info['stride'] * info['height'])
    rows = b''.join(data[y * info['stride']:y * info['stride'] + info['width'] * 4] for y in range(info['height']))
    # QImage's 32-bit formats lie in memory as B, G, R, A here.
    subprocess.run(['convert', '-size', '%dx%d' % (info['width'], info['height']), '-depth', '8', 'bgra:-',
                    '-alpha', 'off', png], input=rows, check=True)


COMMANDS = {'mutter-scale': mutter_scale, 'mutter-shot': mutter_shot, 'mutter-drag': mutter_drag,
            'mutter-keys': mutter_keys, 'kwin-shot': kwin_shot}
COMMANDS[sys.argv[1]](*sys.argv[2:]) if sys.argv[1:] and sys.argv[1] in COMMANDS else sys.exit(__doc__)
