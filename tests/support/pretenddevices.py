#!/usr/bin/python3
'''The network side of the phone rig: the KDE Connect daemon and pretend devices.

Runs inside a network namespace of its own (the C++ side starts it through
`unshare --net`). It gives the namespace's loopback a TEST-NET address (the
daemon ignores identity packets from 127.0.0.0/8), starts a private session
bus without service activation (its socket is a file in the test's folder,
so the test reaches it from outside the namespace), starts the daemon on it,
and plays devices that speak the LAN protocol
as the daemon expects it (protocol version 7):

  device  -- UDP identity (with its TCP port) -->  daemon, port 1716
  daemon  -- connects over TCP, sends its own identity in the clear
  device  -- TLS client (its self-signed certificate's CN is its id),
             the daemon is the TLS server
  then JSON packets one a line both ways; an unpaired device asks to pair.

Steering: one JSON object a line on stdin, one answer a line on stdout
({"ok": true, ...} or {"error": "..."}); the first answer, unasked, names the
bus ({"ok": true, "bus": address}). Commands:

  add      id, name, kind ("phone" or "desktop"): create (or reuse, keeping its
           certificate and pairing) a device and let it connect
  leave    id: close the link and stop announcing
  return   id: announce again and reconnect
  hold     id, messages: messages the phone's SMS store gets without telling the
           daemon, a list of {number, body, date, type (1 inbox, 2 sent)}
  push     id, message: a message arriving at the phone now; it is stored and
           sent to the daemon as the phone app does
  stopdaemon  the daemon quits, as when the user ends it
  quit

Every packet a device receives is appended, as received, to
<dir>/devices/<id>/packets.jsonl, once the device has answered it.
'''

import argparse
import ctypes
import json
import os
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time

DAEMON_UDP_PORT = 1716
FIRST_DEVICE_PORT = 1740  # the daemon takes 1716 and up; devices must stay <= 1764
LAST_DEVICE_PORT = 1764
PROTOCOL_VERSION = 7

# What the phone app and a desktop announce; the daemon picks its plugins
# from these.
CAPABILITIES = {
    'phone': {
        'incoming': ['kdeconnect.sms.request', 'kdeconnect.sms.request_conversations',
                     'kdeconnect.sms.request_conversation', 'kdeconnect.share.request',
                     'kdeconnect.telephony.request_mute', 'kdeconnect.ping'],
        'outgoing': ['kdeconnect.sms.messages', 'kdeconnect.telephony',
                     'kdeconnect.share.request', 'kdeconnect.ping'],
    },
    'desktop': {
        'incoming': ['kdeconnect.share.request', 'kdeconnect.ping'],
        'outgoing': ['kdeconnect.share.request', 'kdeconnect.ping'],
    },
}

PR_SET_PDEATHSIG = 1

BUS_CONFIG = '''<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%s</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
'''


def die_with_parent():
    '''Runs in a child before exec: it is killed when this process ends.'''
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def packet(kind, body):
    return (json.dumps({'id': int(time.time() * 1000), 'type': kind, 'body': body},
                       ensure_ascii=False) + '\n').encode('utf-8')


class Device:
    def __init__(self, rig, device_id, name, kind, port):
        self.rig = rig
        self.id = device_id
        self.name = name
        self.kind = kind
        self.port = port
        self.folder = os.path.join(rig.folder, 'devices', device_id)
        os.makedirs(self.folder, exist_ok=True)
        self.cert = os.path.join(self.folder, 'certificate.pem')
        self.key = os.path.join(self.folder, 'privateKey.pem')
        self.paired_mark = os.path.join(self.folder, 'paired')
        self.log_path = os.path.join(self.folder, 'packets.jsonl')
        self.lock = threading.Lock()
        self.messages = []  # the SMS store: dicts as the phone app sends them
        self.next_uid = 1
        self.threads = {}  # number -> thread id
        self.wanted = False
        self.asked_to_pair = False
        self.link = None
        self.connected = threading.Event()
        self.closed = threading.Event()
        self.closed.set()
        self.worker = None
        if not os.path.exists(self.cert):
            self.make_certificate()

    def make_certificate(self):
        subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes',
                        '-keyout', self.key, '-out', self.cert, '-days', '3650',
                        '-subj', '/O=KDE/OU=Kde connect/CN=' + self.id],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @property
    def paired(self):
        return os.path.exists(self.paired_mark)

    def identity(self):
        caps = CAPABILITIES[self.kind]
        return packet('kdeconnect.identity', {
            'deviceId': self.id, 'deviceName': self.name, 'deviceType': self.kind,
            'protocolVersion': PROTOCOL_VERSION, 'incomingCapabilities': caps['incoming'],
            'outgoingCapabilities': caps['outgoing'], 'tcpPort': self.port})

    # --- the link ---------------------------------------------------------

    def start(self):
        if self.worker and self.worker.is_alive():
            return
        self.wanted = True
        self.closed.clear()
        self.worker = threading.Thread(target=self.run, daemon=True)
        self.worker.start()

    def stop(self):
        self.wanted = False
        with self.lock:
            link = self.link
        if link is not None:
            try:
                link.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        self.closed.wait(10)

    def run(self):
        try:
            while self.wanted:
                link = self.connect()
                if link is None:
                    continue
                self.serve(link)
                break
        except Exception as error:  # the test reads why in the rig's log
            self.rig.note('%s: %r' % (self.id, error))
        finally:
            with self.lock:
                self.link = None
            self.connected.clear()
            self.closed.set()

    def connect(self):
        '''Announces the device until the daemon connects back; the TLS link.'''
        server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        server.bind((self.rig.address, self.port))
        server.listen(1)
        server.settimeout(0.5)
        announcer = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        announcer.bind((self.rig.address, 0))
        try:
            while self.wanted:
                # Sent again and again: the daemon may not listen yet.
                announcer.sendto(self.identity(), (self.rig.address, DAEMON_UDP_PORT))
                try:
                    plain, _ = server.accept()
                except socket.timeout:
                    continue
                plain.settimeout(10)
                line = b''
                while not line.endswith(b'\n'):
                    chunk = plain.recv(1)
                    if not chunk:
                        break
                    line += chunk
                self.rig.note('%s: daemon identity %s' % (self.id, line.strip().decode()))
                context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
                context.check_hostname = False
                context.verify_mode = ssl.CERT_NONE
                context.load_cert_chain(self.cert, self.key)
                link = context.wrap_socket(plain, server_side=False)
                link.settimeout(None)
                return link
        finally:
            server.close()
            announcer.close()
        return None

    def serve(self, link):
        with self.lock:
            self.link = link
        self.connected.set()
        self.asked_to_pair = not self.paired
        if self.asked_to_pair:
            self.send(packet('kdeconnect.pair', {'pair': True}))
        reader = link.makefile('rb')
        for line in reader:
            text = line.decode('utf-8').strip()
            if not text:
                continue
            try:
                self.answer(json.loads(text))
            finally:
                # Logged once answered: a test that sees the packet sees its effects.
                with open(self.log_path, 'a', encoding='utf-8') as log:
                    log.write(text + '\n')
        try:
            link.close()
        except OSError:
            pass

    def send(self, data):
        with self.lock:
            if self.link is None:
                return False
            self.link.sendall(data)
            return True

    # --- what a phone does with the packets ------------------------------

    def answer(self, received):
        kind = received.get('type')
        body = received.get('body', {})
        if kind == 'kdeconnect.pair':
            if body.get('pair'):
                if not self.paired:
                    open(self.paired_mark, 'w').close()
                    if not self.asked_to_pair:
                        # The daemon asked first: say yes.
                        self.send(packet('kdeconnect.pair', {'pair': True}))
            elif self.paired:
                os.remove(self.paired_mark)
            self.asked_to_pair = False
        elif kind == 'kdeconnect.sms.request_conversations':
            self.send_messages(self.newest_of_each_thread())
        elif kind == 'kdeconnect.sms.request_conversation':
            self.send_messages(self.conversation(body.get('threadID'),
                                                 body.get('rangeStartTimestamp', -1),
                                                 body.get('numberToRequest', -1)))
        elif kind == 'kdeconnect.sms.request':
            # The phone sends it and, as the app does, tells of the new sent message.
            for address in body.get('addresses', []):
                sent = self.store({'number': address.get('address', ''),
                                   'body': body.get('messageBody', ''),
                                   'date': int(time.time() * 1000), 'type': 2})
                self.send_messages([sent])

    def send_messages(self, messages):
        self.send(packet('kdeconnect.sms.messages', {'messages': messages, 'version': 2}))

    def store(self, given):
        number = given['number']
        if number not in self.threads:
            self.threads[number] = len(self.threads) + 1
        message = {'event': 1, 'body': given['body'], 'addresses': [{'address': number}],
                   'date': int(given['date']), 'type': int(given.get('type', 1)),
                   'read': 0, 'thread_id': self.threads[number], '_id': self.next_uid,
                   'sub_id': 1}
        self.next_uid += 1
        self.messages.append(message)
        return message

    def newest_of_each_thread(self):
        newest = {}
        for message in self.messages:
            known = newest.get(message['thread_id'])
            if known is None or message['date'] >= known['date']:
                newest[message['thread_id']] = message
        return list(newest.values())

    def conversation(self, thread_id, range_start, count):
        '''Newest first, those at or before range_start when it is given.'''
        chosen = [m for m in self.messages if m['thread_id'] == thread_id
                  and (range_start is None or range_start <= 0 or m['date'] <= range_start)]
        chosen.sort(key=lambda m: m['date'], reverse=True)
        return chosen[:count] if count and count > 0 else chosen


class Rig:
    def __init__(self, folder, address):
        self.folder = folder
        self.address = address
        self.devices = {}
        self.log = open(os.path.join(folder, 'rig.log'), 'a', encoding='utf-8')
        self.log_lock = threading.Lock()
        self.daemon = None
        self.bus = None

    def note(self, text):
        with self.log_lock:
            self.log.write('%.3f %s\n' % (time.time(), text))
            self.log.flush()

    def prepare_network(self):
        for command in (['ip', 'addr', 'add', self.address + '/24', 'dev', 'lo'],
                        ['ip', 'link', 'set', 'lo', 'up']):
            done = subprocess.run(command, capture_output=True, text=True)
            if done.returncode != 0:
                raise RuntimeError('%s: %s' % (' '.join(command), done.stderr.strip()))

    def start_bus(self):
        '''A session bus of our own, without service activation.'''
        config = os.path.join(self.folder, 'bus.conf')
        with open(config, 'w', encoding='utf-8') as out:
            out.write(BUS_CONFIG % os.path.join(self.folder, 'bus'))
        self.bus = subprocess.Popen(['dbus-daemon', '--config-file=' + config, '--nofork',
                                     '--print-address=1'],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=self.log, preexec_fn=die_with_parent)
        address = self.bus.stdout.readline().decode().strip()
        if not address:
            raise RuntimeError('dbus-daemon printed no address')
        return address

    def start_daemon(self, program, bus):
        environment = dict(os.environ)
        for variable, sub in (('HOME', 'home'), ('XDG_CONFIG_HOME', 'config'),
                              ('XDG_DATA_HOME', 'data'), ('XDG_CACHE_HOME', 'cache'),
                              ('XDG_RUNTIME_DIR', 'runtime')):
            path = os.path.join(self.folder, sub)
            os.makedirs(path, mode=0o700, exist_ok=True)
            environment[variable] = path
        environment['DBUS_SESSION_BUS_ADDRESS'] = bus
        environment['QT_QPA_PLATFORM'] = 'offscreen'
        environment.pop('DISPLAY', None)
        environment.pop('WAYLAND_DISPLAY', None)
        output = open(os.path.join(self.folder, 'daemon.log'), 'ab')
        self.daemon = subprocess.Popen([program], env=environment, stdin=subprocess.DEVNULL,
                                       stdout=output, stderr=output,
                                       preexec_fn=die_with_parent)

    def free_port(self):
        used = {device.port for device in self.devices.values()}
        for port in range(FIRST_DEVICE_PORT, LAST_DEVICE_PORT + 1):
            if port not in used:
                return port
        raise RuntimeError('no free port for another device')

    def command(self, request):
        name = request.get('cmd')
        if name == 'quit':
            return None
        if name == 'stopdaemon':
            self.daemon.terminate()
            self.daemon.wait(10)
            return {'ok': True}
        if name == 'add':
            device = self.devices.get(request['id'])
            if device is None:
                device = Device(self, request['id'], request['name'], request['kind'],
                                self.free_port())
                self.devices[device.id] = device
            device.start()
            return {'ok': True, 'port': device.port}
        device = self.devices.get(request.get('id'))
        if device is None:
            return {'error': 'no device %r' % request.get('id')}
        if name == 'leave':
            device.stop()
            return {'ok': True}
        if name == 'return':
            device.start()
            return {'ok': True}
        if name == 'hold':
            for message in request['messages']:
                device.store(message)
            return {'ok': True}
        if name == 'push':
            message = device.store(request['message'])
            if not device.send(packet('kdeconnect.sms.messages',
                                      {'messages': [message], 'version': 2})):
                return {'error': 'device %s is not connected' % device.id}
            return {'ok': True}
        return {'error': 'unknown command %r' % name}

    def stop(self):
        for device in self.devices.values():
            device.stop()
        for process in (self.daemon, self.bus):
            if process is None:
                continue
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def reply(answer):
    sys.stdout.write(json.dumps(answer, ensure_ascii=False) + '\n')
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--dir', required=True)
    parser.add_argument('--daemon', required=True)
    parser.add_argument('--address', default='192.0.2.1')
    options = parser.parse_args()
    # Ends with the test, even when the test cannot say so.
    die_with_parent()
    rig = Rig(options.dir, options.address)
    try:
        rig.prepare_network()
        bus = rig.start_bus()
        rig.start_daemon(options.daemon, bus)
    except Exception as error:
        reply({'error': str(error)})
        rig.stop()
        return 1
    reply({'ok': True, 'bus': bus})
    try:
        # Ends with "quit" or when the test's end of the pipe closes.
        for line in sys.stdin:
            if not line.strip():
                continue
            try:
                answer = rig.command(json.loads(line))
            except Exception as error:
                answer = {'error': repr(error)}
            if answer is None:
                break
            reply(answer)
    finally:
        rig.stop()
        reply({'ok': True, 'stopped': True})
    return 0


if __name__ == '__main__':
    sys.exit(main())
