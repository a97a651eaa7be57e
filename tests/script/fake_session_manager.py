'''A stand-in for the GNOME session manager's inhibitions (python3-dbusmock template):
Inhibit(app_id, toplevel_xid, reason, flags) hands out cookies 7, 8, ... and Uninhibit
takes one back. The mock's log records every call with its arguments.'''

BUS_NAME = 'org.gnome.SessionManager'
MAIN_OBJ = '/org/gnome/SessionManager'
MAIN_IFACE = 'org.gnome.SessionManager'
SYSTEM_BUS = False


def load(mock, _parameters):
    mock.next_cookie = 6
    mock.AddMethods(MAIN_IFACE, [
        ('Inhibit', 'susu', 'u', 'self.next_cookie += 1; ret = dbus.UInt32(self.next_cookie)'),
        ('Uninhibit', 'u', '', ''),
        ('IsInhibited', 'u', 'b', 'ret = False'),
    ])
