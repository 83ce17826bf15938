#!/usr/bin/python3
# A stand-in for BlueZ on the bus of DBUS_SYSTEM_BUS_ADDRESS, for the lidar tests.
#
# It owns org.bluez with one adapter (hci0) and the paired devices given as arguments,
# ADDRESS=NAME=BEHAVIOUR, where BEHAVIOUR says what Device1.ConnectProfile does:
#   unix:PATH    connects to the Unix socket at PATH (lidar-sim --socket) and hands that end to
#                the registered profile in Profile1.NewConnection, then answers
#   error:NAME   fails with the D-Bus error NAME (org.bluez.Error.NotReady ...)
#   hang         never answers
# ProfileManager1.RegisterProfile/UnregisterProfile keep the profiles by UUID. SIGUSR1 calls
# Profile1.RequestDisconnection for every device connected so far, as BlueZ does when the link is
# taken down from elsewhere. Every call is written to standard output as one line; "ready" follows
# the set-up.
import signal
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

profiles = {}  # uuid -> (bus name, object path)
connected = []  # (profile proxy, device path) of every connection handed over


def say(*words):
    print(*words, flush=True)


class Root(dbus.service.Object):
    def __init__(self, bus, objects):
        super().__init__(bus, '/')
        self.objects = objects

    @dbus.service.method('org.freedesktop.DBus.ObjectManager', out_signature='a{oa{sa{sv}}}')
    def GetManagedObjects(self):
        return self.objects


class ProfileManager(dbus.service.Object):
    @dbus.service.method('org.bluez.ProfileManager1', in_signature='osa{sv}', sender_keyword='sender')
    def RegisterProfile(self, path, uuid, options, sender=None):
        say('RegisterProfile', path, uuid, ','.join(f'{k}={options[k]}' for k in sorted(options)))
        if uuid in profiles:
            raise dbus.exceptions.DBusException('already registered', name='org.bluez.Error.AlreadyExists')
        profiles[uuid] = (sender, path)

    @dbus.service.method('org.bluez.ProfileManager1', in_signature='o', sender_keyword='sender')
    def UnregisterProfile(self, path, sender=None):
        say('UnregisterProfile', path)
        for uuid, owner in list(profiles.items()):
            if owner == (sender, path):
                del profiles[uuid]


class Device(dbus.service.Object):
    def __init__(self, bus, path, behaviour):
        super().__init__(bus, path)
        self.bus, self.path, self.behaviour = bus, path, behaviour

    @dbus.service.method(DEVICE, in_signature='s', async_callbacks=('reply', 'error'))
    def ConnectProfile(self, uuid, reply, error):
        say('ConnectProfile', self.path, uuid)
        kind, _, argument = self.behaviour.partition(':')
        if kind == 'hang':
            return
        if kind == 'error':
            error(dbus.exceptions.DBusException('scripted failure', name=argument))
            return
        if uuid not in profiles:
            error(dbus.exceptions.DBusException('no profile for ' + uuid, name='org.bluez.Error.NotAvailable'))
            return
        link = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            link.connect(argument)
        except OSError as e:
            link.close()
            error(dbus.exceptions.DBusException(str(e), name='org.bluez.Error.Failed'))
            return
        owner, profile_path = profiles[uuid]
        profile = dbus.Interface(self.bus.get_object(owner, profile_path, introspect=False), 'org.bluez.Profile1')

        def handed_over():
            link.close()  # the profile holds its own copy now
            connected.append((profile, self.path))
            reply()

        def refused(e):
            link.close()
            error(dbus.exceptions.DBusException(str(e), name='org.bluez.Error.NotAvailable'))

        profile.NewConnection(dbus.ObjectPath(self.path), dbus.types.UnixFd(link.fileno()),
                              dbus.Dictionary({}, signature='sv'),
                              reply_handler=handed_over, error_handler=refused, timeout=3)

    @dbus.service.method(DEVICE, in_signature='s')
    def DisconnectProfile(self, uuid):
        say('DisconnectProfile', self.path, uuid)


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SystemBus()
    objects = {dbus.ObjectPath('/org/bluez/hci0'): {ADAPTER: {'Address': 'AA:AA:AA:AA:AA:AA', 'Powered': True}}}
    keep = [ProfileManager(bus, '/org/bluez')]
    for spec in sys.argv[1:]:
        address, name, behaviour = spec.split('=', 2)
        path = '/org/bluez/hci0/dev_' + address.replace(':', '_')
        objects[dbus.ObjectPath(path)] = {DEVICE: {
            'Address': address, 'Name': name, 'Paired': True, 'Trusted': True,
            'UUIDs': dbus.Array([SPP], signature='s'),
        }}
        keep.append(Device(bus, path, behaviour))
    keep.append(Root(bus, objects))
    keep.append(dbus.service.BusName(BLUEZ, bus, do_not_queue=True))
    def request_disconnection():
        for profile, path in connected:
            say('RequestDisconnection', path)
            profile.RequestDisconnection(dbus.ObjectPath(path), reply_handler=lambda: None,
                                         error_handler=lambda e: say('RequestDisconnection failed', e))
        return True

    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, request_disconnection)
    say('ready')
    GLib.MainLoop().run()


if __name__ == '__main__':
    main()
