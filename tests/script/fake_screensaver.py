'''A stand-in for the desktop's screen-saver service (python3-dbusmock template): Inhibit
hands out cookies 42, 43, ... and UnInhibit takes one back. The mock's log records every
call with its arguments.'''

BUS_NAME = 'org.freedesktop.ScreenSaver'
MAIN_OBJ = '/org/freedesktop/ScreenSaver'
MAIN_IFACE = 'org.freedesktop.ScreenSaver'
SYSTEM_BUS = False


def load(mock, _parameters):
    mock.next_cookie = 41
    mock.AddMethods(MAIN_IFACE, [
        ('Inhibit', 'ss', 'u', 'self.next_cookie += 1; ret = dbus.UInt32(self.next_cookie)'),
        ('UnInhibit', 'u', '', ''),
    ])
