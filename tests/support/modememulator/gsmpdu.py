"""GSM 03.40 PDUs as a modem sees them: SMS-SUBMIT decoded, SMS-DELIVER and
SMS-STATUS-REPORT made. Standard library only."""

import datetime

# The GSM 7-bit default alphabet (23.038), index = septet value.
GSM7 = (
    "@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞ\x1bÆæßÉ !\"#¤%&'()*+,-./0123456789:;<=>?"
    "¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§¿abcdefghijklmnopqrstuvwxyzäöñüà"
)
# The extension table, reached through the escape septet 0x1B.
GSM7_EXT = {0x0A: "\f", 0x14: "^", 0x28: "{", 0x29: "}", 0x2F: "\\", 0x3C: "[",
            0x3D: "~", 0x3E: "]", 0x40: "|", 0x65: "€"}
GSM7_INDEX = {ch: i for i, ch in enumerate(GSM7) if i != 0x1B}
GSM7_EXT_INDEX = {ch: code for code, ch in GSM7_EXT.items()}


def gsm7_septets(text):
    """The septets of text, or None when it needs UCS-2."""
    out = []
    for ch in text:
        if ch in GSM7_INDEX:
            out.append(GSM7_INDEX[ch])
        elif ch in GSM7_EXT_INDEX:
            out.extend((0x1B, GSM7_EXT_INDEX[ch]))
        else:
            return None
    return out


def septets_text(septets):
    out = []
    escape = False
    for s in septets:
        if escape:
            out.append(GSM7_EXT.get(s, " "))
            escape = False
        elif s == 0x1B:
            escape = True
        else:
            out.append(GSM7[s])
    return "".join(out)


def pack_septets(septets, fill_bits=0):
    bits = 0
    nbits = fill_bits
    out = bytearray()
    for s in septets:
        bits |= (s & 0x7F) << nbits
        nbits += 7
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits > 0:
        out.append(bits & 0xFF)
    return bytes(out)


def unpack_septets(data, count, fill_bits=0):
    value = int.from_bytes(data, "little")
    return [(value >> (fill_bits + 7 * i)) & 0x7F for i in range(count)]


def semi_octets(digits):
    if len(digits) % 2:
        digits += "F"
    return bytes(int(digits[i + 1] + digits[i], 16) for i in range(0, len(digits), 2))


def semi_octet_digits(data, count):
    digits = "".join("%X%X" % (b & 0x0F, b >> 4) for b in data)
    return digits[:count]


def encode_address(number):
    """TP address: digit count, type, semi-octets."""
    toa = 0x81
    if number.startswith("+"):
        number = number[1:]
        toa = 0x91
    return bytes((len(number), toa)) + semi_octets(number)


def decode_address(pdu, offset):
    count = pdu[offset]
    toa = pdu[offset + 1]
    length = (count + 1) // 2
    raw = pdu[offset + 2:offset + 2 + length]
    if toa & 0x70 == 0x50:  # alphanumeric
        number = septets_text(unpack_septets(raw, count * 4 // 7))
    else:
        number = semi_octet_digits(raw, count)
        if toa & 0x70 == 0x10:
            number = "+" + number
    return number, offset + 2 + length


def encode_smsc(number):
    if not number:
        return b"\x00"
    body = encode_address(number)[1:]  # the SMSC field counts octets, not digits
    return bytes((len(body),)) + body


def encode_timestamp(when):
    offset = when.utcoffset() or datetime.timedelta(0)
    quarters = int(offset.total_seconds()) // 900
    tz = semi_octets("%02d" % abs(quarters))[0]
    if quarters < 0:
        tz |= 0x08
    return semi_octets("%02d%02d%02d%02d%02d%02d" % (
        when.year % 100, when.month, when.day, when.hour, when.minute, when.second)) + bytes((tz,))


def decode_submit(pdu):
    """The fields of an SMS-SUBMIT (with its SMSC field first) as a dict."""
    offset = pdu[0] + 1
    first = pdu[offset]
    if first & 0x03 != 0x01:
        raise ValueError("not an SMS-SUBMIT")
    vpf = (first >> 3) & 0x03
    udhi = bool(first & 0x40)
    result = {
        "statusReport": bool(first & 0x20),
        "rejectDuplicates": bool(first & 0x04),
        "reference": pdu[offset + 1],
    }
    number, offset = decode_address(pdu, offset + 2)
    result["number"] = number
    pid = pdu[offset]
    dcs = pdu[offset + 1]
    offset += 2
    offset += {0: 0, 1: 7, 2: 1, 3: 7}[vpf]
    udl = pdu[offset]
    ud = pdu[offset + 1:]
    alphabet = (dcs >> 2) & 0x03 if dcs & 0xC0 == 0 else (1 if dcs & 0xF4 == 0xF4 else 0)
    header = b""
    if udhi:
        header = ud[1:1 + ud[0]]
    concat = None
    i = 0
    while i + 1 < len(header):
        iei, length = header[i], header[i + 1]
        data = header[i + 2:i + 2 + length]
        if iei == 0x00 and length == 3:
            concat = {"ref": data[0], "total": data[1], "seq": data[2]}
        elif iei == 0x08 and length == 4:
            concat = {"ref": (data[0] << 8) | data[1], "total": data[2], "seq": data[3]}
        i += 2 + length
    header_octets = len(header) + 1 if udhi else 0
    if alphabet == 0:
        header_septets = (header_octets * 8 + 6) // 7
        septets = unpack_septets(ud, udl)
        text = septets_text(septets[header_septets:])
        encoding = "gsm7"
    elif alphabet == 2:
        body = ud[header_octets:udl]
        text = body.decode("utf-16-be", errors="replace")
        encoding = "ucs2"
    else:
        text = ud[header_octets:udl].hex()
        encoding = "8bit"
    result.update({"pid": pid, "dcs": dcs, "encoding": encoding, "text": text,
                   "validityFormat": vpf})
    if concat:
        result["concat"] = concat
    return result


def deliver_pdus(sender, text, when, smsc="", reference=0, max_parts=None):
    """The SMS-DELIVER PDUs (hex, with the SMSC field) that carry text, one per
    part, and their TPDU lengths. A text longer than one part is split with a
    concatenation header (8-bit reference)."""
    septets = gsm7_septets(text)
    if septets is not None:
        single, per_part = 160, 153
        units = septets
    else:
        single, per_part = 70, 67
        units = list(text.encode("utf-16-be"))
        units = [units[i:i + 2] for i in range(0, len(units), 2)]
    if len(units) <= single and max_parts is None:
        chunks = [units]
    else:
        step = per_part if max_parts is None else max(1, -(-len(units) // max_parts))
        step = min(step, per_part)
        chunks = [units[i:i + step] for i in range(0, len(units), step)] or [[]]
    out = []
    multi = len(chunks) > 1
    for seq, chunk in enumerate(chunks, 1):
        first = 0x04 | (0x40 if multi else 0)
        head = bytes((first,)) + encode_address(sender) + bytes((0x00,))
        if septets is not None:
            dcs = 0x00
            if multi:
                udh = bytes((5, 0x00, 3, reference & 0xFF, len(chunks), seq))
                # six header octets, then one fill bit up to the septet boundary
                ud = udh + pack_septets(chunk, fill_bits=1)
                udl = 7 + len(chunk)
            else:
                ud = pack_septets(chunk)
                udl = len(chunk)
        else:
            dcs = 0x08
            body = b"".join(bytes(pair) for pair in chunk)
            ud = body
            if multi:
                ud = bytes((5, 0x00, 3, reference & 0xFF, len(chunks), seq)) + body
            udl = len(ud)
        tpdu = head + bytes((dcs,)) + encode_timestamp(when) + bytes((udl,)) + ud
        out.append(((encode_smsc(smsc) + tpdu).hex().upper(), len(tpdu)))
    return out


def status_report_pdu(reference, recipient, status, submitted, done, smsc=""):
    """An SMS-STATUS-REPORT (hex, with the SMSC field) and its TPDU length."""
    tpdu = (bytes((0x06, reference & 0xFF)) + encode_address(recipient)
            + encode_timestamp(submitted) + encode_timestamp(done) + bytes((status & 0xFF,)))
    return (encode_smsc(smsc) + tpdu).hex().upper(), len(tpdu)
