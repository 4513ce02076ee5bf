#!/usr/bin/python3
"""A GSM modem behind a Unix socket, for ModemManager's generic plugin.

ModemManager connects to --at-socket as it would open a serial port; this
program answers the AT commands a plain GSM/UMTS USB modem answers (PDU-mode
SMS on the SIM storage "SM", registration, signal through +CIND/+CIEV and
+CSQ, the SIM's identity and PIN) and ERROR to what such a modem does not
know. Its settings and the SIM's messages stay when the port is closed and
opened again (ModemManager restarting).

The test steers it through --control-socket: one JSON object a line, one
JSON reply a line ({"ok": true, ...} or {"ok": false, "error": "..."}), each
command done before its reply:
  {"cmd": "fail_next", "number": N, "cms": C}  the next send to N: +CMS ERROR: C
  {"cmd": "fail_any", "cms": C}                the next send to anyone fails so
  {"cmd": "delay", "ms": T [, "number": N]}    answer +CMGS after T ms (to N only)
  {"cmd": "hang" [, "on": false]}              never answer +CMGS
  {"cmd": "report", "reference": R, "outcome": "delivered"|"failed"|"temporary"|"expired"}
                                               a status report (+CDS) for the message R
  {"cmd": "deliver", "from": N, "text": T [, "parts": P, "gapMs": G]}
                                               a message from the network: stored on
                                               the SIM and announced (+CMTI), in P parts
                                               G ms apart; held by the network while the
                                               SIM is full, until a message is deleted
  {"cmd": "registration", "registered": B}     lose or regain the network (+CREG)
  {"cmd": "signal", "percent": P}              signal quality (+CIEV)
  {"cmd": "vanish"} / {"cmd": "return"}        close the port and refuse it / accept again
  {"cmd": "state"}                             stored, capacity, pending, connected,
                                               pinLocked, sent, submitted
Every message the modem is asked to send is decoded (number, text in GSM-7,
UCS-2 or 8-bit, the concatenation header, the status-report request, the
reference given) and written to --sent-log as one JSON line when the modem
answers it (or, for one it never answers, as soon as its PDU came, with
"answered": false). --trace gets the whole AT dialogue, each line after the
time it was read or written (seconds since the epoch).
"""

import argparse
import asyncio
import datetime
import json
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gsmpdu  # noqa: E402

CTRL_Z = b"\x1a"
ESC = b"\x1b"

# Status values of a stored message (+CMGL/+CMGR, PDU mode).
REC_UNREAD, REC_READ, STO_UNSENT, STO_SENT = 0, 1, 2, 3

# How long the network waits before it offers a message again that a full
# SIM could not take.
NETWORK_RETRY_S = 2.0

# Status-report outcomes the test may ask for (23.040 TP-ST).
REPORT_STATUS = {"delivered": 0x00, "failed": 0x41, "temporary": 0x30, "expired": 0x46}


class Modem:
    def __init__(self, options):
        self.o = options
        self.tz = datetime.timezone(datetime.timedelta(hours=8))
        self.reset_settings()
        self.pin_locked = bool(options.pin)
        self.registered = True
        self.quality = options.signal  # percent
        self.storage = {}  # index -> (status, pdu hex, tpdu length)
        self.capacity = options.capacity
        self.pending = []  # (pdu hex, tpdu length) the network holds while the SIM is full
        self.next_reference = 0
        self.fail_next = {}  # number -> list of CMS codes, one per coming send
        self.fail_any = []
        self.delays = {}  # number ("" for every number) -> ms before the answer to +CMGS
        self.hang = False
        self.concat_reference = 0
        self.sent = []  # (reference, number) in order
        self.submitted = 0  # PDUs the host gave to +CMGS, answered or not
        self.writer = None
        self.present = True
        self.pdu_wait = None  # the +CMGS/+CMGW waiting for its PDU: (command, length)
        self.log = open(options.sent_log, "a", buffering=1) if options.sent_log else None
        self.trace = open(options.trace, "a", buffering=1) if options.trace else None
        self.hold_messages(options.held, options.held_optout)

    def reset_settings(self):
        self.echo = True
        self.cmee = 0
        self.cmgf = 0
        self.cscs = "IRA"
        self.creg_n = {"CREG": 0, "CGREG": 0, "CEREG": 0}
        self.cnmi = [0, 0, 0, 0, 0]
        self.cmer = False
        self.cops_format = 0
        self.cfun = 1

    # ---- storage --------------------------------------------------------

    def free_index(self):
        for index in range(self.capacity):
            if index not in self.storage:
                return index
        return None

    def store(self, status, pdu, length):
        index = self.free_index()
        if index is None:
            return None
        self.storage[index] = (status, pdu, length)
        return index

    def hold_messages(self, count, optouts):
        """Fills the SIM with messages received earlier, read already."""
        if count > self.capacity:
            self.capacity = count
        start = datetime.datetime(2026, 1, 5, 9, 0, 0, tzinfo=self.tz)
        for i in range(count):
            when = start + datetime.timedelta(minutes=i)
            sender = "+86139%08d" % (i + 1)
            text = "T" if i < optouts else "held message %d" % (i + 1)
            for pdu, length in gsmpdu.deliver_pdus(sender, text, when, self.o.smsc):
                self.store(REC_READ, pdu, length)

    def deliver(self, sender, text, parts=None, gap_ms=0):
        """A message from the network; with gap_ms its parts come that far apart."""
        when = datetime.datetime.now(self.tz).replace(microsecond=0)
        self.concat_reference = (self.concat_reference + 1) & 0xFF
        pdus = gsmpdu.deliver_pdus(sender, text, when, self.o.smsc,
                                   self.concat_reference, parts)
        loop = asyncio.get_event_loop()
        for i, pdu in enumerate(pdus):
            if gap_ms and i:
                loop.call_later(gap_ms * i / 1000, self.arrive, pdu)
            else:
                self.arrive(pdu)
        return len(pdus)

    def arrive(self, pdu):
        self.pending.append(pdu)
        self.flush_pending()

    def flush_pending(self):
        """Stores what the network holds as long as the SIM has room, each
        announced by +CMTI."""
        while self.pending and self.registered and not self.pin_locked:
            pdu, length = self.pending[0]
            index = self.store(REC_UNREAD, pdu, length)
            if index is None:
                return
            self.pending.pop(0)
            if self.cnmi[1] in (1, 2):
                self.urc('+CMTI: "SM",%d' % index)

    # ---- the AT port ----------------------------------------------------

    def write(self, data):
        if self.writer is None:
            return
        if self.trace:
            self.trace.write("%.6f <- %r\n" % (time.time(), data))
        self.writer.write(data)

    def urc(self, line):
        self.write(b"\r\n" + line.encode() + b"\r\n")

    def final(self, lines, result="OK"):
        # Information lines one after another, as modems write them (a PDU
        # right below its +CMGL/+CMGR line), then the result code.
        out = b""
        if lines:
            out = b"\r\n" + "\r\n".join(lines).encode() + b"\r\n"
        self.write(out + b"\r\n" + result.encode() + b"\r\n")

    def cme(self, code):
        if self.cmee == 0:
            return "ERROR"
        return "+CME ERROR: %d" % code

    def cms(self, code):
        return "+CMS ERROR: %d" % code

    async def serve_at(self, reader, writer):
        if not self.present or self.writer is not None:
            writer.close()
            return
        # The modem keeps its settings when the port is closed and opened again.
        self.writer = writer
        buffer = b""
        try:
            while True:
                data = await reader.read(4096)
                if not data:
                    break
                if self.trace:
                    self.trace.write("%.6f -> %r\n" % (time.time(), data))
                buffer += data
                buffer = await self.consume(buffer)
        except (ConnectionError, asyncio.CancelledError):
            pass
        finally:
            if self.writer is writer:
                self.writer = None
                self.pdu_wait = None
            writer.close()

    async def consume(self, buffer):
        while True:
            if self.pdu_wait is not None:
                end = min((i for i in (buffer.find(CTRL_Z), buffer.find(ESC)) if i >= 0),
                          default=-1)
                if end < 0:
                    return buffer
                pdu, terminator = buffer[:end], buffer[end:end + 1]
                buffer = buffer[end + 1:]
                command, length = self.pdu_wait
                self.pdu_wait = None
                if terminator == ESC:
                    self.final([])
                else:
                    await self.pdu_entered(command, length, pdu.decode(errors="replace").strip())
                continue
            end = buffer.find(b"\r")
            if end < 0:
                return buffer
            line = buffer[:end].decode(errors="replace").strip("\n ")
            buffer = buffer[end + 1:].lstrip(b"\n")
            if self.echo and line:
                self.write(line.encode() + b"\r")
            if line:
                await self.command_line(line)

    async def command_line(self, line):
        if not line.upper().startswith("AT"):
            return  # a real modem ignores what does not start with AT
        body = line[2:]
        if body.upper().startswith("+") or body.upper().startswith("^"):
            commands = split_commands(body)
        elif body == "":
            commands = []
        else:
            commands = self.basic_commands(body)
            if commands is None:
                self.final([], "ERROR")
                return
        lines = []
        for command in commands:
            result = await self.extended(command)
            if result is None:
                return  # answered later (+CMGS waiting for its PDU)
            out, status = result
            lines.extend(out)
            if status != "OK":
                self.final(lines, status)
                return
        self.final(lines)

    def basic_commands(self, body):
        """ATE0, ATV1, ATZ, AT&F, ATI... (several may share a line); None
        when one is unknown. Extended commands after ';' or a '+' are
        returned for the caller."""
        rest = []
        plus = body.find("+")
        if plus >= 0:
            rest = split_commands(body[plus:])
            body = body[:plus]
        i = 0
        out = []
        while i < len(body):
            c = body[i].upper()
            m = re.match(r"(\d*)", body[i + 1:])
            arg = m.group(1)
            i += 1 + len(arg)
            if c == "E":
                self.echo = arg != "0"
            elif c in "VQXLMS":
                if c == "S":
                    m2 = re.match(r"[=?][0-9]*", body[i:])
                    if m2:
                        i += len(m2.group(0))
            elif c == "Z":
                self.reset_settings()
            elif c == "H":
                pass  # no call to hang up
            elif c == "&":
                if i < len(body):
                    i += 1
                    m3 = re.match(r"\d*", body[i:])
                    i += len(m3.group(0))
            elif c == "I":
                out.append(("I" + arg, None))
            elif c == ";":
                continue
            else:
                return None
        return [c for c, _ in out] + rest

    async def extended(self, command):
        """One command; (info lines, final result) or None when the answer
        comes later."""
        upper = command.upper()
        if upper.startswith("I"):
            if upper in ("I", "I0"):
                return ["%s %s" % (self.o.manufacturer, self.o.model), "Revision: EMU-1.0",
                        "IMEI: %s" % self.o.imei, "+GCAP: +CGSM,+DS,+ES"], "OK"
            return [], "ERROR"
        m = re.match(r"\+([A-Z]+)(.*)", upper)
        if not m:
            return [], "ERROR"
        name, arg = m.group(1), command[1 + len(m.group(1)):]
        handler = getattr(self, "at_" + name.lower(), None)
        if handler is None:
            return [], "ERROR"
        result = handler(arg)
        if asyncio.iscoroutine(result):
            result = await result
        return result

    # ---- identity -------------------------------------------------------

    def at_gcap(self, arg):
        return ["+GCAP: +CGSM,+DS,+ES"], "OK"

    def at_cgmi(self, arg):
        return ([self.o.manufacturer], "OK") if arg == "" else ([], "OK")

    def at_cgmm(self, arg):
        return ([self.o.model], "OK") if arg == "" else ([], "OK")

    def at_cgmr(self, arg):
        return (["EMU-1.0"], "OK") if arg == "" else ([], "OK")

    def at_cgsn(self, arg):
        return ([self.o.imei], "OK") if arg == "" else ([], "OK")

    def at_gmi(self, arg):
        return self.at_cgmi(arg)

    def at_gmm(self, arg):
        return self.at_cgmm(arg)

    def at_gmr(self, arg):
        return self.at_cgmr(arg)

    def at_gsn(self, arg):
        return self.at_cgsn(arg)

    def at_cmee(self, arg):
        if arg.startswith("="):
            if arg == "=?":
                return ["+CMEE: (0-2)"], "OK"
            self.cmee = int(arg[1:] or 0)
            return [], "OK"
        return ["+CMEE: %d" % self.cmee], "OK"

    def at_cscs(self, arg):
        if arg == "=?":
            return ['+CSCS: ("IRA","GSM","UCS2")'], "OK"
        if arg == "?":
            return ['+CSCS: "%s"' % self.cscs], "OK"
        value = arg[1:].strip('"').upper()
        if value not in ("IRA", "GSM", "UCS2"):
            return [], self.cme(4)
        self.cscs = value
        return [], "OK"

    def text_out(self, text):
        """A string in the character set the host chose."""
        if self.cscs == "UCS2":
            return text.encode("utf-16-be").hex().upper()
        return text

    def at_cfun(self, arg):
        if arg == "=?":
            return ["+CFUN: (0,1,4),(0,1)"], "OK"
        if arg == "?":
            return ["+CFUN: %d" % self.cfun], "OK"
        self.cfun = int(arg[1:].split(",")[0] or 1)
        return [], "OK"

    # ---- SIM ------------------------------------------------------------

    def sim_error(self):
        if self.o.no_sim:
            return self.cme(10)
        if self.pin_locked:
            return self.cme(11)
        return None

    def at_cpin(self, arg):
        if arg == "=?":
            return [], "OK"
        if arg == "?":
            if self.o.no_sim:
                return [], self.cme(10)
            return ["+CPIN: %s" % ("SIM PIN" if self.pin_locked else "READY")], "OK"
        pin = arg[1:].split(",")[0].strip('"')
        if self.o.no_sim:
            return [], self.cme(10)
        if not self.pin_locked:
            return [], self.cme(3)
        if pin != self.o.pin:
            return [], self.cme(16)
        self.pin_locked = False
        self.flush_pending()
        return [], "OK"

    def at_cpinr(self, arg):
        return ['+CPINR: SIM PIN,3,3', '+CPINR: SIM PUK,10,10'], "OK"

    def at_clck(self, arg):
        if arg == "=?":
            return ['+CLCK: ("SC")'], "OK"
        error = self.sim_error()
        if error and not arg.upper().startswith('="SC",2'):
            return [], error
        if arg.upper().startswith('="SC",2'):
            return ["+CLCK: %d" % (1 if self.o.pin else 0)], "OK"
        return [], self.cme(4)

    def at_cimi(self, arg):
        error = self.sim_error()
        if error:
            return [], error
        return [self.o.imsi], "OK"

    def at_ccid(self, arg):
        error = self.sim_error()
        if error and self.o.no_sim:
            return [], error
        return ["+CCID: %s" % self.o.iccid], "OK"

    def at_crsm(self, arg):
        if self.o.no_sim:
            return [], self.cme(10)
        fields = arg[1:].split(",")
        if fields[:2] == ["176", "12258"]:
            iccid = self.o.iccid + ("F" if len(self.o.iccid) % 2 else "")
            swapped = "".join(iccid[i + 1] + iccid[i] for i in range(0, len(iccid), 2))
            return ['+CRSM: 144,0,"%s"' % swapped], "OK"
        return ["+CRSM: 106,130"], "OK"  # file not found

    def at_cnum(self, arg):
        error = self.sim_error()
        if error:
            return [], error
        if not self.o.number:
            return [], "OK"
        toa = 145 if self.o.number.startswith("+") else 129
        return ['+CNUM: "","%s",%d' % (self.o.number, toa)], "OK"

    # ---- network --------------------------------------------------------

    def registration_state(self):
        return 1 if self.registered and self.cfun == 1 and not self.pin_locked else 0

    def registration_line(self, name, query):
        n = self.creg_n[name]
        stat = self.registration_state()
        if query:
            if n == 2 and stat:
                return '+%s: %d,%d,"1A2B","01C3D4E5",%d' % (name, n, stat,
                                                             7 if name == "CEREG" else 2)
            return "+%s: %d,%d" % (name, n, stat)
        if n == 2 and stat:
            return '+%s: %d,"1A2B","01C3D4E5",%d' % (name, stat, 7 if name == "CEREG" else 2)
        return "+%s: %d" % (name, stat)

    def registration_command(self, name, arg):
        error = self.sim_error()
        if arg == "=?":
            return ["+%s: (0-2)" % name], "OK"
        if arg == "?":
            if error:
                return [], error
            return [self.registration_line(name, True)], "OK"
        self.creg_n[name] = int(arg[1:] or 0)
        return [], "OK"

    def at_creg(self, arg):
        return self.registration_command("CREG", arg)

    def at_cgreg(self, arg):
        return self.registration_command("CGREG", arg)

    def at_cereg(self, arg):
        return self.registration_command("CEREG", arg)

    def registration_changed(self):
        for name, n in self.creg_n.items():
            if n:
                self.urc(self.registration_line(name, False))
        if self.cmer:
            self.urc("+CIEV: 1,%d" % self.registration_state())

    def at_cops(self, arg):
        if arg == "=?":
            return ['+COPS: (2,"%s","%s","%s",7),,(0-4),(0-2)' % (
                self.text_out(self.o.operator), self.text_out(self.o.operator),
                self.o.operator_code)], "OK"
        if arg == "?":
            error = self.sim_error()
            if error:
                return [], error
            if not self.registration_state():
                return ["+COPS: 0"], "OK"
            if self.cops_format == 2:
                return ['+COPS: 0,2,"%s",7' % self.o.operator_code], "OK"
            return ['+COPS: 0,%d,"%s",7' % (self.cops_format,
                                             self.text_out(self.o.operator))], "OK"
        fields = arg[1:].split(",")
        if fields[0] == "3" and len(fields) > 1:
            self.cops_format = int(fields[1])
        return [], "OK"

    def csq(self):
        if not self.registration_state() or self.quality < 0:
            return 99
        return min(31, round(self.quality * 31 / 100))

    def at_csq(self, arg):
        if arg == "=?":
            return ["+CSQ: (0-31,99),(0-7,99)"], "OK"
        return ["+CSQ: %d,99" % self.csq()], "OK"

    def cind_signal(self):
        if not self.registration_state() or self.quality < 0:
            return 0
        return min(5, round(self.quality / 20))

    def at_cind(self, arg):
        if arg == "=?":
            return ['+CIND: ("service",(0-1)),("signal",(0-5)),("roam",(0-1)),'
                    '("smsfull",(0-1))'], "OK"
        return ["+CIND: %d,%d,0,%d" % (self.registration_state(), self.cind_signal(),
                                      int(self.free_index() is None))], "OK"

    def at_cmer(self, arg):
        if arg == "=?":
            return ["+CMER: (0,3),(0),(0),(0,1),(0)"], "OK"
        if arg == "?":
            return ["+CMER: %d,0,0,%d,0" % (3 if self.cmer else 0, int(self.cmer))], "OK"
        fields = arg[1:].split(",")
        self.cmer = fields[0] == "3" and len(fields) > 3 and fields[3] == "1"
        return [], "OK"

    def signal_changed(self):
        if self.cmer:
            self.urc("+CIEV: 2,%d" % self.cind_signal())

    # ---- messaging ------------------------------------------------------

    def at_csms(self, arg):
        if arg == "=?":
            return ["+CSMS: (0)"], "OK"
        if arg == "?":
            return ["+CSMS: 0,1,1,1"], "OK"
        return ["+CSMS: 1,1,1"], "OK"

    def at_cmgf(self, arg):
        if arg == "=?":
            return ["+CMGF: (0)"], "OK"  # PDU mode only, as many modems
        if arg == "?":
            return ["+CMGF: %d" % self.cmgf], "OK"
        if arg[1:] != "0":
            return [], self.cms(303)
        self.cmgf = 0
        return [], "OK"

    def at_csca(self, arg):
        if arg == "?":
            if not self.o.smsc:
                return ['+CSCA: "",129'], "OK"
            return ['+CSCA: "%s",145' % self.text_out(self.o.smsc)], "OK"
        return [], "OK"

    def at_cpms(self, arg):
        error = self.sim_error()
        if arg == "=?":
            return ['+CPMS: ("SM"),("SM"),("SM")'], "OK"
        if error:
            return [], self.cms(311 if self.pin_locked else 310)
        used = len(self.storage)
        if arg == "?":
            return ['+CPMS: "SM",%d,%d,"SM",%d,%d,"SM",%d,%d' % ((used, self.capacity) * 3)], "OK"
        mems = [m.strip('"').upper() for m in arg[1:].split(",")]
        if any(m != "SM" for m in mems if m):
            return [], self.cms(302)
        return ["+CPMS: " + ",".join(["%d,%d" % (used, self.capacity)] * len(mems))], "OK"

    def at_cnmi(self, arg):
        if arg == "=?":
            return ["+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)"], "OK"
        if arg == "?":
            return ["+CNMI: " + ",".join(str(v) for v in self.cnmi)], "OK"
        values = [int(v or 0) for v in arg[1:].split(",")]
        if len(values) > 5 or values[0] > 2 or (len(values) > 3 and values[3] > 2):
            return [], self.cms(303)
        self.cnmi = (values + [0] * 5)[:5]
        return [], "OK"

    def at_cmgl(self, arg):
        if arg == "=?":
            return ["+CMGL: (0-4)"], "OK"
        error = self.sim_error()
        if error:
            return [], self.cms(311 if self.pin_locked else 310)
        wanted = int(arg[1:] or 4) if arg.startswith("=") and arg[1:].isdigit() else None
        if wanted is None:
            return [], self.cms(304)
        lines = []
        for index in sorted(self.storage):
            status, pdu, length = self.storage[index]
            if wanted in (4, status):
                lines.append("+CMGL: %d,%d,,%d" % (index, status, length))
                lines.append(pdu)
                if status == REC_UNREAD:
                    self.storage[index] = (REC_READ, pdu, length)
        return lines, "OK"

    def at_cmgr(self, arg):
        error = self.sim_error()
        if error:
            return [], self.cms(311 if self.pin_locked else 310)
        try:
            index = int(arg[1:])
        except ValueError:
            return [], self.cms(304)
        if index not in self.storage:
            return [], self.cms(321)
        status, pdu, length = self.storage[index]
        if status == REC_UNREAD:
            self.storage[index] = (REC_READ, pdu, length)
        return ["+CMGR: %d,,%d" % (status, length), pdu], "OK"

    def at_cmgd(self, arg):
        if arg == "=?":
            return ["+CMGD: (%s),(0-4)" % ",".join(str(i) for i in sorted(self.storage))], "OK"
        fields = arg[1:].split(",")
        try:
            index = int(fields[0])
            flag = int(fields[1]) if len(fields) > 1 else 0
        except ValueError:
            return [], self.cms(304)
        if flag == 4:
            self.storage.clear()
        elif flag:
            keep = {0: (), 1: (REC_UNREAD, STO_UNSENT, STO_SENT), 2: (REC_UNREAD, STO_UNSENT),
                    3: (REC_UNREAD,)}[flag]
            self.storage = {i: v for i, v in self.storage.items() if v[0] in keep}
        elif index not in self.storage:
            return [], self.cms(321)
        else:
            del self.storage[index]
        # The network tries again a while after the SIM has room, as a
        # network does (not at the very moment of the deletion).
        asyncio.get_event_loop().call_later(NETWORK_RETRY_S, self.flush_pending)
        return [], "OK"

    def at_cmgs(self, arg):
        return self.pdu_prompt("CMGS", arg)

    def at_cmgw(self, arg):
        return self.pdu_prompt("CMGW", arg)

    def pdu_prompt(self, command, arg):
        if arg == "=?":
            return [], "OK"
        error = self.sim_error()
        if error:
            return [], self.cms(311 if self.pin_locked else 310)
        try:
            length = int(arg[1:].split(",")[0])
        except ValueError:
            return [], self.cms(304)
        self.pdu_wait = (command, length)
        self.write(b"\r\n> ")
        return None

    async def pdu_entered(self, command, length, pdu_hex):
        try:
            pdu = bytes.fromhex(pdu_hex)
            if len(pdu) - pdu[0] - 1 != length:
                raise ValueError("length %d does not match" % length)
            fields = gsmpdu.decode_submit(pdu)
        except (ValueError, IndexError) as error:
            self.record({"command": command, "pdu": pdu_hex, "error": str(error)})
            self.final([], self.cms(304))
            return
        if command == "CMGW":
            index = self.store(STO_UNSENT, pdu_hex, length)
            if index is None:
                self.final([], self.cms(322))
            else:
                self.final(["+CMGW: %d" % index])
            return
        self.submitted += 1
        await self.transmit(fields, pdu_hex)

    def at_cmss(self, arg):
        try:
            index = int(arg[1:].split(",")[0])
        except ValueError:
            return [], self.cms(304)
        if index not in self.storage:
            return [], self.cms(321)
        status, pdu_hex, length = self.storage[index]
        fields = gsmpdu.decode_submit(bytes.fromhex(pdu_hex))
        return self.transmit(fields, pdu_hex, index)

    async def transmit(self, fields, pdu_hex, stored_index=None):
        """The network's answer to one message: a reference, a CMS error, or
        nothing at all."""
        record = dict(fields)
        record["pdu"] = pdu_hex
        number = local_number(fields["number"])
        if self.hang:
            record["answered"] = False
            self.record(record)
            return None
        delay = self.delays.get(number, self.delays.get("", 0))
        if delay:
            await asyncio.sleep(delay / 1000)
        if self.writer is None:
            return None
        codes = self.fail_next.get(number)
        code = codes.pop(0) if codes else (self.fail_any.pop(0) if self.fail_any else None)
        if code is None and not self.registration_state():
            code = 331
        if code is not None:
            record["answered"] = True
            record["cms"] = code
            self.record(record)
            result = ([], self.cms(code))
        else:
            reference = self.next_reference
            self.next_reference = (self.next_reference + 1) & 0xFF
            record["answered"] = True
            record["messageReference"] = reference
            self.sent.append((reference, fields["number"]))
            self.record(record)
            if stored_index is not None:
                status, pdu, length = self.storage[stored_index]
                self.storage[stored_index] = (STO_SENT, pdu, length)
                result = (["+CMSS: %d" % reference], "OK")
            else:
                result = (["+CMGS: %d" % reference], "OK")
        if stored_index is not None:
            return result
        self.final(*result)
        return None

    def record(self, entry):
        if self.log:
            self.log.write(json.dumps(entry, ensure_ascii=False) + "\n")

    def status_report(self, reference, outcome):
        number = None
        for ref, recipient in reversed(self.sent):
            if ref == reference:
                number = recipient
                break
        if number is None:
            raise ValueError("no message sent with reference %d" % reference)
        now = datetime.datetime.now(self.tz).replace(microsecond=0)
        pdu, length = gsmpdu.status_report_pdu(reference, number, REPORT_STATUS[outcome],
                                               now, now, self.o.smsc)
        if self.cnmi[3] == 1:
            self.urc("+CDS: %d\r\n%s" % (length, pdu))
        elif self.cnmi[3] == 2:
            index = self.store(REC_UNREAD, pdu, length)
            if index is not None:
                self.urc('+CDSI: "SM",%d' % index)
        else:
            raise ValueError("status reports are not routed (+CNMI %s)" % self.cnmi)

    # ---- the test's commands ------------------------------------------------

    async def control(self, request):
        what = request.get("cmd")
        if what == "fail_next":
            self.fail_next.setdefault(local_number(request["number"]), []).append(
                int(request["cms"]))
        elif what == "fail_any":
            self.fail_any.append(int(request["cms"]))
        elif what == "delay":
            self.delays[local_number(request.get("number", ""))] = int(request["ms"])
        elif what == "hang":
            self.hang = bool(request.get("on", True))
        elif what == "report":
            self.status_report(int(request["reference"]), request["outcome"])
        elif what == "deliver":
            parts = self.deliver(request["from"], request["text"], request.get("parts"),
                                 int(request.get("gapMs", 0)))
            return {"parts": parts}
        elif what == "registration":
            self.registered = bool(request["registered"])
            self.registration_changed()
            self.flush_pending()
        elif what == "signal":
            self.quality = int(request["percent"])
            self.signal_changed()
        elif what == "vanish":
            self.present = False
            if self.writer is not None:
                writer, self.writer = self.writer, None
                writer.close()
        elif what == "return":
            self.present = True
        elif what == "state":
            return {"stored": len(self.storage), "capacity": self.capacity,
                    "pending": len(self.pending), "connected": self.writer is not None,
                    "pinLocked": self.pin_locked, "sent": len(self.sent),
                    "submitted": self.submitted}
        else:
            raise ValueError("unknown command %r" % what)
        return {}

    async def serve_control(self, reader, writer):
        try:
            while True:
                line = await reader.readline()
                if not line:
                    break
                try:
                    reply = await self.control(json.loads(line))
                    reply["ok"] = True
                except (ValueError, KeyError, TypeError) as error:
                    reply = {"ok": False, "error": str(error)}
                writer.write((json.dumps(reply) + "\n").encode())
                await writer.drain()
        except ConnectionError:
            pass
        finally:
            writer.close()


def split_commands(body):
    """'+CMEE=1;+CSQ' -> ['+CMEE=1', '+CSQ'] (a ';' inside quotes stays)."""
    out, current, quoted = [], "", False
    for ch in body:
        if ch == '"':
            quoted = not quoted
        if ch == ";" and not quoted:
            if current:
                out.append(current)
            current = ""
            continue
        current += ch
    if current:
        out.append(current)
    return [c if c.startswith(("+", "^")) else "+" + c for c in out]


def local_number(number):
    digits = number.lstrip("+")
    if digits.startswith("86") and len(digits) == 13:
        return digits[2:]
    return digits


async def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--at-socket", required=True)
    parser.add_argument("--control-socket", required=True)
    parser.add_argument("--sent-log")
    parser.add_argument("--trace")
    parser.add_argument("--manufacturer", default="Lanzhou")
    parser.add_argument("--model", default="GSM Modem")
    parser.add_argument("--imei", default="867530900000001")
    parser.add_argument("--imsi", default="460001234567801")
    parser.add_argument("--iccid", default="89860000000000000001")
    parser.add_argument("--number", default="")
    parser.add_argument("--operator", default="CHINA MOBILE")
    parser.add_argument("--operator-code", default="46000")
    parser.add_argument("--smsc", default="+8613800200500")
    parser.add_argument("--signal", type=int, default=64)
    parser.add_argument("--capacity", type=int, default=30)
    parser.add_argument("--held", type=int, default=0)
    parser.add_argument("--held-optout", type=int, default=0)
    parser.add_argument("--pin", default="")
    parser.add_argument("--no-sim", action="store_true")
    options = parser.parse_args()

    modem = Modem(options)
    for path in (options.at_socket, options.control_socket):
        if os.path.exists(path):
            os.unlink(path)
    control = await asyncio.start_unix_server(modem.serve_control, options.control_socket)
    at = await asyncio.start_unix_server(modem.serve_at, options.at_socket)
    print("ready", flush=True)
    async with control, at:
        await asyncio.gather(control.serve_forever(), at.serve_forever())


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        pass
