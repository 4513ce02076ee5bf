'''Stand-in for the KDE Connect daemon on the session bus, for what the real
daemon (tests/support/phonerig.h) cannot be made to do: a phone's SMS object
answering sendSms with an error of its own (the real one only queues a packet
for the phone).

Starts with no phone. The test adds a reachable, paired phone with
AddPhone(id, name) and makes it refuse SMS with FailSms(id, message).
'''

import dbus

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.kde.kdeconnect'
MAIN_OBJ = '/modules/kdeconnect'
MAIN_IFACE = 'org.kde.kdeconnect.daemon'
SYSTEM_BUS = False

DEVICE_IFACE = 'org.kde.kdeconnect.device'
SMS_IFACE = 'org.kde.kdeconnect.device.sms'

# What the daemon loads for a phone with the app's SMS, share and telephony plugins.
PHONE_PLUGINS = ['kdeconnect_sms', 'kdeconnect_share', 'kdeconnect_telephony']

# Method code runs with its own locals, which a comprehension cannot see.
DEVICES = '''
ret = []
for path in sorted(objects):
    if path.startswith("/modules/kdeconnect/devices/") and path.count("/") == 4:
        ret.append(path.rsplit("/", 1)[1])
'''


def load(mock, _parameters):
    mock.AddMethods(MAIN_IFACE, [('devices', 'bb', 'as', DEVICES)])


def device_path(device_id):
    return MAIN_OBJ + '/devices/' + device_id


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='')
def AddPhone(self, device_id, name):
    path = device_path(device_id)
    self.AddObject(path, DEVICE_IFACE,
                   {'name': name, 'type': 'smartphone', 'isReachable': True, 'isTrusted': True,
                    'supportedPlugins': dbus.Array(PHONE_PLUGINS, signature='s')},
                   [('loadedPlugins', '', 'as', 'ret = %r' % PHONE_PLUGINS)])
    self.AddObject(path + '/sms', SMS_IFACE, {}, [('sendSms', 'avsavx', '', '')])
    self.EmitSignal(MAIN_IFACE, 'deviceAdded', 's', [device_id])
    self.EmitSignal(MAIN_IFACE, 'deviceListChanged', '', [])


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='')
def FailSms(self, device_id, message):
    sms = mockobject.objects[device_path(device_id) + '/sms']
    sms.AddMethod(SMS_IFACE, 'sendSms', 'avsavx', '',
                  'raise dbus.exceptions.DBusException(%r, name="org.kde.kdeconnect.Error")'
                  % message)
