'''Stand-in for ModemManager on the system bus.

Starts with no modem. The test adds modems with AddModem(manufacturer,
model, operator, signal) (the new modem's path comes back; its IMEI is
8675309 and the modem's number in eight digits, it has no SIM object) and
removes them with RemoveModem(path). Messages are made with the modem's
Messaging.Create and sent with the message's Sms.Send, which takes
SetSendDelay(number, seconds) seconds ("" for every number) and fails with
the D-Bus error named by FailNumber(number, error name). Sent() lists what
really went out, as "number|text", in order. Receive(modem, number, text)
ReceiveAt(modem, number, text, timestamp) (a timestamp of "" as some
networks send) and Report(modem, number, reference, delivery state) make a
received message or a status report and announce it with
Messaging.Added(path, true).
'''

import time

import dbus

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.freedesktop.ModemManager1'
MAIN_OBJ = '/org/freedesktop/ModemManager1'
MAIN_IFACE = 'org.freedesktop.ModemManager1'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

MODEM_IFACE = 'org.freedesktop.ModemManager1.Modem'
MODEM_3GPP_IFACE = 'org.freedesktop.ModemManager1.Modem.Modem3gpp'
MESSAGING_IFACE = 'org.freedesktop.ModemManager1.Modem.Messaging'
SMS_IFACE = 'org.freedesktop.ModemManager1.Sms'

STATE_STORED = 1
STATE_RECEIVED = 3
STATE_SENT = 5
PDU_DELIVER = 1
PDU_SUBMIT = 2
PDU_STATUS_REPORT = 3

counters = {'modem': 0, 'sms': 0, 'reference': 0}
failures = {}
delays = {}
sent = []


def load(mock, _parameters):
    mock.AddMethods(MAIN_IFACE, [('ScanDevices', '', '', '')])


def add_sms(modem_path, properties):
    counters['sms'] += 1
    path = '%s/SMS/%d' % (MAIN_OBJ, counters['sms'])
    values = {
        'State': dbus.UInt32(STATE_STORED),
        'PduType': dbus.UInt32(PDU_SUBMIT),
        'Number': dbus.String(''),
        'Text': dbus.String(''),
        'MessageReference': dbus.UInt32(0),
        'DeliveryState': dbus.UInt32(0),
        'DeliveryReportRequest': dbus.Boolean(False),
        'Timestamp': dbus.String(''),
    }
    values.update(properties)
    mockobject.objects[MAIN_OBJ].AddObject(path, SMS_IFACE, values, [])
    mockobject.objects[path].AddMethods(SMS_IFACE, [('Send', '', '', send)])
    modem = mockobject.objects[modem_path]
    messages = list(modem.Get(MESSAGING_IFACE, 'Messages'))
    modem.Set(MESSAGING_IFACE, 'Messages', dbus.Array(messages + [dbus.ObjectPath(path)],
                                                      signature='o'))
    return path


def create(modem, properties):
    return dbus.ObjectPath(add_sms(modem.path, {
        'Number': dbus.String(properties['number']),
        'Text': dbus.String(properties['text']),
        'DeliveryReportRequest': dbus.Boolean(properties.get('delivery-report-request', False)),
    }))


def held_messages(modem):
    return modem.Get(MESSAGING_IFACE, 'Messages')


def send(sms):
    number = str(sms.Get(SMS_IFACE, 'Number'))
    delay = delays.get(number, delays.get('', 0))
    if delay:
        time.sleep(delay)
    if number in failures:
        raise dbus.exceptions.DBusException('sending failed', name=failures[number])
    counters['reference'] = (counters['reference'] + 1) % 256
    sms.props[SMS_IFACE]['MessageReference'] = dbus.UInt32(counters['reference'])
    sms.props[SMS_IFACE]['State'] = dbus.UInt32(STATE_SENT)
    sent.append('%s|%s' % (number, sms.Get(SMS_IFACE, 'Text')))


@dbus.service.method(MOCK_IFACE, in_signature='sssu', out_signature='o')
def AddModem(self, manufacturer, model, operator, signal):
    counters['modem'] += 1
    path = '%s/Modem/%d' % (MAIN_OBJ, counters['modem'])
    self.AddObject(path, MODEM_IFACE, {
        'Manufacturer': dbus.String(manufacturer),
        'Model': dbus.String(model),
        'EquipmentIdentifier': dbus.String('8675309%08d' % counters['modem']),
        'SignalQuality': dbus.Struct((dbus.UInt32(signal), dbus.Boolean(True)), signature='ub'),
        'State': dbus.Int32(11),
    }, [])
    modem = mockobject.objects[path]
    modem.AddProperties(MODEM_3GPP_IFACE, {'OperatorName': dbus.String(operator)})
    modem.AddProperties(MESSAGING_IFACE, {'Messages': dbus.Array([], signature='o')})
    modem.AddMethods(MESSAGING_IFACE, [('Create', 'a{sv}', 'o', create),
                                       ('List', '', 'ao', held_messages),
                                       ('Delete', 'o', '', '')])
    self.object_manager_emit_added(path)
    return path


@dbus.service.method(MOCK_IFACE, in_signature='o', out_signature='')
def RemoveModem(self, path):
    self.object_manager_emit_removed(path)
    self.RemoveObject(path)


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='')
def FailNumber(_self, number, error_name):
    if error_name:
        failures[number] = error_name
    else:
        failures.pop(number, None)


@dbus.service.method(MOCK_IFACE, in_signature='sd', out_signature='')
def SetSendDelay(_self, number, seconds):
    delays[number] = seconds


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def Sent(_self):
    return dbus.Array(sent, signature='s')


@dbus.service.method(MOCK_IFACE, in_signature='oss', out_signature='o')
def Receive(self, modem_path, number, text):
    return ReceiveAt(self, modem_path, number, text, time.strftime('%Y-%m-%dT%H:%M:%S+08:00'))


@dbus.service.method(MOCK_IFACE, in_signature='osss', out_signature='o')
def ReceiveAt(_self, modem_path, number, text, timestamp):
    path = add_sms(modem_path, {
        'State': dbus.UInt32(STATE_RECEIVED),
        'PduType': dbus.UInt32(PDU_DELIVER),
        'Number': dbus.String(number),
        'Text': dbus.String(text),
        'Timestamp': dbus.String(timestamp),
    })
    mockobject.objects[modem_path].EmitSignal(MESSAGING_IFACE, 'Added', 'ob', [path, True])
    return path


@dbus.service.method(MOCK_IFACE, in_signature='o', out_signature='')
def ForgetMessages(_self, modem_path):
    """The modem lists no message any more (as after ModemManager restarted)."""
    mockobject.objects[modem_path].Set(MESSAGING_IFACE, 'Messages', dbus.Array([], signature='o'))


@dbus.service.method(MOCK_IFACE, in_signature='osuu', out_signature='o')
def Report(_self, modem_path, number, reference, delivery_state):
    path = add_sms(modem_path, {
        'State': dbus.UInt32(STATE_RECEIVED),
        'PduType': dbus.UInt32(PDU_STATUS_REPORT),
        'Number': dbus.String(number),
        'MessageReference': dbus.UInt32(reference),
        'DeliveryState': dbus.UInt32(delivery_state),
    })
    mockobject.objects[modem_path].EmitSignal(MESSAGING_IFACE, 'Added', 'ob', [path, True])
    return path
