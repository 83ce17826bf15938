#!/usr/bin/python3
# A stand-in for BlueZ on the bus of DBUS_SYSTEM_BUS_ADDRESS, for the lidar tests.
#
# It owns org.bluez with one adapter (hci0) and the devices given as arguments,
# ADDRESS=NAME=BEHAVIOUR[=FLAGS]. NAME "alias:TEXT" gives the device only an Alias; FLAGS,
# separated by commas: "unpaired", "nospp" (an audio sink's UUID instead of the Serial Port
# Profile's).
# --no-adapter leaves hci0 out; --hang never answers GetManagedObjects. BEHAVIOUR says what
# Device1.ConnectProfile does:
#   unix:PATH              connects to the Unix socket at PATH (lidar-sim --socket) and hands
#                          that end to the first profile registered for the UUID in
#                          Profile1.NewConnection, then answers
#   error:NAME[:TEXT]      fails with the D-Bus error NAME (org.bluez.Error.NotReady ...)
#   hang                   never answers
#   delay:MS:BEHAVIOUR     does BEHAVIOUR after MS milliseconds
#   seq:B1,B2,...          does B1 on the first call, B2 on the second ..., the last one ever after
# ProfileManager1 keeps the registered profiles in order, several programs' for one UUID. Every
# call is written to standard output as one line; "ready" follows the set-up.
import socket
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

BLUEZ = 'org.bluez'
DEVICE = 'org.bluez.Device1'
ADAPTER = 'org.bluez.Adapter1'
SPP = '00001101-0000-1000-8000-00805f9b34fb'
AUDIO_SINK = '0000110b-0000-1000-8000-00805f9b34fb'

profiles = []  # (uuid, bus name, object path) in the order of registration


class Root(dbus.service.Object):
    def __init__(self, bus, objects, hang):
        super().__init__(bus, '/')
        self.objects, self.hang = objects, hang

    @dbus.service.method('org.freedesktop.DBus.ObjectManager', out_signature='a{oa{sa{sv}}}',
                         async_callbacks=('reply', 'error'))
    def GetManagedObjects(self, reply, error):
        if not self.hang:
            reply(self.objects)


class ProfileManager(dbus.service.Object):
    @dbus.service.method('org.bluez.ProfileManager1', in_signature='osa{sv}', sender_keyword='sender')
    def RegisterProfile(self, path, uuid, options, sender=None):
        print('RegisterProfile', path, uuid, ','.join(f'{k}={options[k]}' for k in sorted(options)))
        if any(owner == sender and at == path for _, owner, at in profiles):
            raise dbus.exceptions.DBusException('already registered', name='org.bluez.Error.AlreadyExists')
        profiles.append((str(uuid), sender, path))

    @dbus.service.method('org.bluez.ProfileManager1', in_signature='o', sender_keyword='sender')
    def UnregisterProfile(self, path, sender=None):
        print('UnregisterProfile', path)
        profiles[:] = [p for p in profiles if p[1:] != (sender, path)]


class Device(dbus.service.Object):
    def __init__(self, bus, path, behaviour):
        super().__init__(bus, path)
        self.bus, self.path, self.calls = bus, path, 0
        kind, _, steps = behaviour.partition(':')
        self.steps = steps.split(',') if kind == 'seq' else [behaviour]

    @dbus.service.method(DEVICE, in_signature='s', async_callbacks=('reply', 'error'))
    def ConnectProfile(self, uuid, reply, error):
        print('ConnectProfile', self.path, uuid)
        step = self.steps[min(self.calls, len(self.steps) - 1)]
        self.calls += 1
        self.act(step, str(uuid), reply, error)

    def act(self, behaviour, uuid, reply, error):
        kind, _, argument = behaviour.partition(':')
        if kind == 'hang':
            return
        if kind == 'delay':
            ms, _, then = argument.partition(':')
            GLib.timeout_add(int(ms), lambda: self.act(then, uuid, reply, error))
            return
        if kind == 'error':
            name, _, text = argument.partition(':')
            error(dbus.exceptions.DBusException(text or 'scripted failure', name=name))
            return
        # With no profile registered for the UUID, the call fails on an IndexError.
        _, owner, profile_path = [p for p in profiles if p[0] == uuid][0]
        link = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            link.connect(argument)
        except OSError as e:
            link.close()
            error(dbus.exceptions.DBusException(str(e), name='org.bluez.Error.Failed'))
            return
        profile = dbus.Interface(self.bus.get_object(owner, profile_path, introspect=False), 'org.bluez.Profile1')

        def handed_over():
            link.close()  # the profile holds its own copy now
            reply()

        def refused(e):
            link.close()
            error(dbus.exceptions.DBusException(str(e), name='org.bluez.Error.Failed'))

        profile.NewConnection(dbus.ObjectPath(self.path), dbus.types.UnixFd(link.fileno()),
                              dbus.Dictionary({}, signature='sv'),
                              reply_handler=handed_over, error_handler=refused, timeout=3)


def main():
    sys.stdout.reconfigure(line_buffering=True)  # each call's line reaches the test at once
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SystemBus()
    options = [a for a in sys.argv[1:] if a.startswith('--')]
    devices = [a for a in sys.argv[1:] if a not in options]
    objects = {}
    if '--no-adapter' not in options:
        objects[dbus.ObjectPath('/org/bluez/hci0')] = {ADAPTER: {'Address': 'AA:AA:AA:AA:AA:AA', 'Powered': True}}
    keep = [ProfileManager(bus, '/org/bluez')]
    for entry in devices:
        address, name, rest = entry.split('=', 2)
        behaviour, _, flags = rest.partition('=')
        path = '/org/bluez/hci0/dev_' + address.replace(':', '_')
        properties = {'Address': address, 'Paired': 'unpaired' not in flags, 'Trusted': True,
                      'UUIDs': dbus.Array([AUDIO_SINK if 'nospp' in flags else SPP], signature='s')}
        properties['Alias' if name.startswith('alias:') else 'Name'] = name.removeprefix('alias:')
        objects[dbus.ObjectPath(path)] = {DEVICE: properties}
        keep.append(Device(bus, path, behaviour))
    keep.append(Root(bus, objects, '--hang' in options))
    keep.append(dbus.service.BusName(BLUEZ, bus, do_not_queue=True))
    print('ready')
    GLib.MainLoop().run()


if __name__ == '__main__':
    main()
