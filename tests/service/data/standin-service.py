#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# Stands in for the pairing service until it exists: started by the system
# bus on the first call to org.bondara.Pairing1, it appends "PID UID" to the
# marker file named by its argument once it owns the name, and answers
# Authorize() as the service will: polkit is asked about org.bondara.pair
# for the caller's bus name, and a caller polkit does not authorise gets
# AccessDenied. It ends when the bus goes away.
import os
import sys

from gi.repository import Gio, GLib

NAME = "org.bondara.Pairing1"
PATH = "/org/bondara/Pairing1"
INTERFACE = Gio.DBusNodeInfo.new_for_xml(
    '<node><interface name="org.bondara.Pairing1"><method name="Authorize"/></interface></node>'
).interfaces[0]


def on_call(connection, sender, path, interface, method, parameters, invocation):
    subject = ("system-bus-name", {"name": GLib.Variant("s", sender)})

    def answered(connection, result):
        try:
            reply = connection.call_finish(result)
        except GLib.Error as error:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.Failed", error.message)
            return
        authorized, challenge, _details = reply.unpack()[0]
        if authorized:
            invocation.return_value(None)
        else:
            why = "Not authorized" + (" (authentication required)" if challenge else "")
            invocation.return_dbus_error("org.freedesktop.DBus.Error.AccessDenied", why)

    connection.call(
        "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
        "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization",
        GLib.Variant("((sa{sv})sa{ss}us)", (subject, "org.bondara.pair", {}, 0, "")),
        GLib.VariantType("((bba{ss}))"), Gio.DBusCallFlags.NONE, -1, None, answered)


def on_bus(connection, name):
    connection.register_object(PATH, INTERFACE, on_call, None, None)


def on_name(connection, name):
    with open(sys.argv[1], "a") as marker:
        marker.write(f"{os.getpid()} {os.getuid()}\n")


def on_lost(connection, name):
    os._exit(1)


Gio.bus_own_name(Gio.BusType.SYSTEM, NAME, Gio.BusNameOwnerFlags.NONE, on_bus, on_name, on_lost)
GLib.MainLoop().run()
