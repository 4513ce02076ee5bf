'''Stand-in for the KDE Connect daemon on the session bus, for what the real
daemon (tests/support/phonerig.h) cannot be made to do: a phone's SMS object
answering sendSms with an error of its own.

Starts with no phone. The test adds phones with AddPhone(id, name,
reachable, paired), changes them with SetReachable(id, reachable), and
makes a phone refuse SMS with FailSms(id, message). Each phone's sms
object keeps what it was asked to send in its property Sent
("<address count>|<first address>|<text>|<SIM>"), its share object the
addresses it was asked to open in Shared.
'''

import dbus

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.kde.kdeconnect'
MAIN_OBJ = '/modules/kdeconnect'
MAIN_IFACE = 'org.kde.kdeconnect.daemon'
SYSTEM_BUS = False

DEVICE_IFACE = 'org.kde.kdeconnect.device'
SMS_IFACE = 'org.kde.kdeconnect.device.sms'
SHARE_IFACE = 'org.kde.kdeconnect.device.share'

# What the daemon loads for a phone with the app's SMS, share and telephony plugins.
PHONE_PLUGINS = ['kdeconnect_sms', 'kdeconnect_share', 'kdeconnect_telephony']

# Method code runs with its own locals, which a comprehension cannot see.
DEVICES = '''
ret = []
for path, device in sorted(objects.items()):
    if not path.startswith("/modules/kdeconnect/devices/") or path.count("/") != 4:
        continue
    if args[0] and not device.Get("org.kde.kdeconnect.device", "isReachable"):
        continue
    if args[1] and not device.Get("org.kde.kdeconnect.device", "isTrusted"):
        continue
    ret.append(path.rsplit("/", 1)[1])
'''

RECORD_SMS = (
    'self.Set("org.kde.kdeconnect.device.sms", "Sent", '
    'self.Get("org.kde.kdeconnect.device.sms", "Sent") + '
    '["%d|%s|%s|%d" % (len(args[0]), args[0][0][0] if len(args[0]) else "", args[1], args[3])])'
)

RECORD_SHARE = (
    'self.Set("org.kde.kdeconnect.device.share", "Shared", '
    'self.Get("org.kde.kdeconnect.device.share", "Shared") + [args[0]])'
)


def load(mock, _parameters):
    mock.AddMethods(MAIN_IFACE, [('devices', 'bb', 'as', DEVICES)])


def device_path(device_id):
    return MAIN_OBJ + '/devices/' + device_id


@dbus.service.method(MOCK_IFACE, in_signature='ssbb', out_signature='')
def AddPhone(self, device_id, name, reachable, paired):
    path = device_path(device_id)
    plugins = dbus.Array(PHONE_PLUGINS, signature='s')
    self.AddObject(path, DEVICE_IFACE,
                   {'name': name, 'type': 'smartphone', 'isReachable': reachable,
                    'isTrusted': paired, 'supportedPlugins': plugins},
                   [('loadedPlugins', '', 'as', 'ret = %r' % PHONE_PLUGINS)])
    self.AddObject(path + '/sms', SMS_IFACE, {'Sent': dbus.Array([], signature='s')},
                   [('sendSms', 'avsavx', '', RECORD_SMS)])
    self.AddObject(path + '/share', SHARE_IFACE, {'Shared': dbus.Array([], signature='s')},
                   [('shareUrl', 's', '', RECORD_SHARE)])
    self.EmitSignal(MAIN_IFACE, 'deviceAdded', 's', [device_id])
    self.EmitSignal(MAIN_IFACE, 'deviceListChanged', '', [])


@dbus.service.method(MOCK_IFACE, in_signature='sb', out_signature='')
def SetReachable(self, device_id, reachable):
    mockobject.objects[device_path(device_id)].Set(DEVICE_IFACE, 'isReachable', reachable)
    self.EmitSignal(MAIN_IFACE, 'deviceVisibilityChanged', 'sb', [device_id, reachable])
    self.EmitSignal(MAIN_IFACE, 'deviceListChanged', '', [])


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='')
def FailSms(self, device_id, message):
    sms = mockobject.objects[device_path(device_id) + '/sms']
    sms.AddMethod(SMS_IFACE, 'sendSms', 'avsavx', '',
                  'raise dbus.exceptions.DBusException(%r, name="org.kde.kdeconnect.Error")'
                  % message)
