"""A minimal StatusNotifierWatcher (the part of a desktop tray that icons register
with), for tests: prints OWNED once it holds the name and ITEM for each icon."""
import sys
from gi.repository import Gio, GLib
XML = """<node><interface name="org.kde.StatusNotifierWatcher">
<method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
<method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
<property name="RegisteredStatusNotifierItems" type="as" access="read"/>
<property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
<property name="ProtocolVersion" type="i" access="read"/>
<signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
</interface></node>"""
items = []
def call(conn, sender, path, iface, method, params, inv):
    if method == "RegisterStatusNotifierItem":
        items.append(sender + " " + params.unpack()[0]); print("ITEM", sender, params.unpack()[0], flush=True)
    inv.return_value(None)
def prop(conn, sender, path, iface, name):
    return {"RegisteredStatusNotifierItems": GLib.Variant("as", items), "IsStatusNotifierHostRegistered": GLib.Variant("b", True), "ProtocolVersion": GLib.Variant("i", 0)}[name]
bus = Gio.bus_get_sync(Gio.BusType.SESSION)
node = Gio.DBusNodeInfo.new_for_xml(XML)
bus.register_object("/StatusNotifierWatcher", node.interfaces[0], call, prop, None)
Gio.bus_own_name_on_connection(bus, "org.kde.StatusNotifierWatcher", 0, lambda *a: print("OWNED", flush=True), None)
GLib.MainLoop().run()
