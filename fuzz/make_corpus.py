#!/usr/bin/env python3
"""Writes the seed corpus of the dispatcher fuzz target (fuzz/corpus/)."""
import os
import struct

WIRE = 4 + 1 + 1 + 8 + 7 + 4 + 8 + 80 + 1  # the fuzz target's record


def packet(type_, body):
    return b"\x5a\x81" + struct.pack(">IH", len(body), type_ & 0xFFFF) + body


def record(me=0, mask=0xF, mode=1, rate=25, tally=(0xFFFFFFFF, 0xFF)):
    body = struct.pack(">IBB4h", mask, me, mode, -2, 3, -4, 5)
    body += struct.pack(">IBh", 3, 1, rate) + struct.pack(">f", 0.5)
    body += struct.pack(">II", *tally) + struct.pack(">40H", *range(40)) + b"\x01"
    assert len(body) == WIRE
    return body


def text(chars, count=None):
    count = len(chars) if count is None else count
    return struct.pack(">h", count) + (chars.ljust(count + 1, b"\0") if count >= 0 else b"")


KEY_HEAD = 325  # key record bytes before its names


def key(me=0, channel=0, name1=b"", name2=b"", n1=None, n2=None, masks=(0xFFFFFFFF, 0xFFFFF), fill=0):
    body = struct.pack(">IIBH", masks[0], masks[1], me, channel)
    body += bytes((fill * i) & 0xFF for i in range(KEY_HEAD - len(body)))
    body += struct.pack(">I", 3) + text(name1, n1) + text(name2, n2) + struct.pack(">I3B", 7, 1, 1, 4)
    return body


assert len(key()) == 342 and len(key(name1=b"abc", n2=-1)) == 342 + 3 - 1


DSK_HEAD = 92  # downstream key record bytes before its names


def dsk(channel=0, name1=b"", name2=b"", n1=None, mask=0x3FF, fill=0):
    """A downstream key record (type 5, 102 bytes and its names)."""
    body = struct.pack(">IH", mask, channel)
    body += bytes((fill * i) & 0xFF for i in range(DSK_HEAD - len(body)))
    return body + struct.pack(">I", 3) + text(name1, n1) + text(name2)


assert len(dsk()) == 102 and len(dsk(name1=b"Logo1")) == 107


def cbgd(channel, mask=0xFFF, colors=((0, 1000, 1000), (2400, 500, 800)), wash=1, curve=0, size=500, centre=540,
         form=1, rate=25, position=900, direction=450, motion=1, speed=500):
    """A colour background record (type 6, 34 bytes on the wire) for the whole-system target."""
    body = struct.pack(">IH3h3hBBhhBhhhBh", mask, channel, *colors[0], *colors[1], wash, curve, size, centre, form,
                       rate, position, direction, motion, speed)
    assert len(body) == 34
    return body


def panel_config():
    def panel(level):
        return struct.pack(">I6BB4hBBI4BI4B", 0x1FFF, 1, 0, 1, 0, 1, 0, 2, 8, 9, 10, 5, 1, 1, 0xF, 1, 0, 1, 0, 0xF, 0, 1, 0, 1) \
            if level else struct.pack(">I6BB4hBBI4BI4B", 0x180, 0, 0, 0, 0, 0, 0, 0, 20, 30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0)

    def texts(first):
        return struct.pack(">IH", 1, len(first)) + first + b"\0" + struct.pack(">HbHbHb", 0, 0, 0, 0, 0, 0)

    body = struct.pack(">I", 0) + panel(True) + panel(False) + texts(b"ab") + panel(False) + texts(b"")
    body += struct.pack(">I4B", 0xF, 1, 12, 3, 1) + struct.pack(">I4B", 0xF, 0, 5, 6, 7) * 8
    body += struct.pack(">I4B", 0xF, 12, 13, 5, 5) + struct.pack(">I", 0xFF) + struct.pack(">24h", *range(24))
    body += b"".join(struct.pack(">IBB", 3, 1 + n % 9, n % 4) for n in range(96))
    body += struct.pack(">I12B", 0xFFF, *([1, 0] * 6)) * 24
    assert len(body) == 1239 + 2
    return body


def lamps(me=None, panel_=0):
    head = struct.pack(">IH", 0, panel_) if me is None else struct.pack(">IBH", 0, me, panel_)
    n = 350 if me is None else 309
    body = head + b"\xff" * (4 * ((n + 31) // 32)) + bytes(i % 14 for i in range(n))
    assert len(body) == (400 if me is None else 356)
    return body


def operate():
    """An operate record (type 36, 774 bytes): options, a fade to black, swapped rows, bus settings."""
    body = struct.pack(">II5B", 0xFF, 3, 1, 0, 2, 1, 1) + struct.pack(">I8B", 0xF, 0, 1, 2, 1, 0, 0, 0, 0)
    body += struct.pack(">IH", 1, 75) + b"\x01" + struct.pack(">IBBhBB", 0x7, 1, 10, 10, 0, 0)
    body += struct.pack(">I8B", 0xF, 1, 1, 0, 0, 0, 0, 0, 0) + struct.pack(">I8H", 0xF, 10, 30, 0, 999, 0, 0, 0, 0)
    body += b"\x01\x00" + struct.pack(">I4B", 3, 1, 0, 2, 3) * 3 + struct.pack(">IBB", 3, 1, 0) * 2
    body += b"".join(struct.pack(">II5B", 1, 0xF, 1 + n % 18, 2, 3, 4, n % 2) for n in range(48))
    body += struct.pack(">I8B", 0xFF, 0, 1, 2, 3, 4, 5, 0, 1) * 3 + b"\x01\x01"
    assert len(body) == 774
    return body


def gpi(entries=((0, 1, 245, 3), (57, 3, 246, 4), (58, 1, 1319, 0), (135, 3, -1, 2))):
    """GPI port settings (type 31, 956 bytes): (entry, presence, code, mode) for the entries set."""
    body = bytearray(struct.pack(">I", 0xFFFFFFFF) + b"\0" * 7 * 136)
    for k, mask, code, mode in entries:
        body[4 + 7 * k:11 + 7 * k] = struct.pack(">IhB", mask, code, mode)
    assert len(body) == 956
    return bytes(body)


def inhibit(panel, flag=1):
    """Button inhibit table of one panel (type 34, 1638 bytes)."""
    body = struct.pack(">IHB", 1, panel, flag) + b"".join(struct.pack(">I3B", 7, k % 226, k % 12, k % 5)
                                                        for k in range(233))
    assert len(body) == 1638
    return body


def plugin_status(slot, text1=b"plug-in", text2=b"", n1=None, values=(1, 65536, 32768, 6, 1), mask=0x7F):
    """A plug-in status slot (type 45, 23 bytes and its texts)."""
    return struct.pack(">Ih", mask, slot) + text(text1, n1) + text(text2) + struct.pack(">BiiBB", *values)


def test_record(me, channel, values, mask=None):
    """A test pattern channel (type 57, 51 bytes)."""
    mask = (1 << len(values)) - 1 if mask is None else mask
    body = struct.pack(">IBHI20h", 0, me, channel, mask, *(list(values) + [0] * (20 - len(values))))
    assert len(body) == 51
    return body


assert len(plugin_status(0)) == 23 + 7 and len(plugin_status(0, n1=-1)) == 23 - 1


def bkgd(me=0, mask=0x1FFFFFF, mix=(1, 0, 1), colour=(1200, 500, 800), trans=(1, 0, 25, 700, 500), pattern=(4, 0),
         border=(1, 20, 100), dust=(1, 500, 1, 3), link=(2, 2, 1), edges=(-100, 100, -100, 100), check=0, state=1):
    """A background record (type 2, 239 bytes): every group present, valid values unless given."""
    sub = 0xFFFFFFFF
    body = struct.pack(">IBBBBIBI4B", mask, me, state, state, 1, 1, 1, 0xF, 1, 0, 1, 0)
    body += struct.pack(">I3B3h", 7, *mix, *colour) + struct.pack(">IBhhhh", sub, trans[0], *trans[1:])
    body += struct.pack(">IBhh", 7, 1, 5000, 10) + bytes(pattern) + struct.pack(">IBhh3h", 7, *border, *colour)
    body += struct.pack(">IBhBB", 0xF, *dust) + struct.pack(">I3B", 7, *link)
    body += struct.pack(">IBhhh", 0xF, 1, 2000, 100, 20) * 2 + struct.pack(">4h", *edges)
    body += bytes((1, 2, 4, 0, 1, check, 3)) + struct.pack(">hhh", 1000, 5000, 3000) + struct.pack(">6h", 0, 0, 100, -100, 50, 50)
    body += struct.pack(">3h", -500, 0, 500) + struct.pack(">IBhhh", 0xF, 1, 900, -900, 0) * 2
    body += struct.pack(">Ihhb", 7, 1, 2, 1)
    body += struct.pack(">IIhh3h4hB", 0x7FF, 5000, 100, -100, 10, 20, 30, -50, 50, -50, 50, 1) * 2 + bytes((1, 0, 1, 0))
    assert len(body) == 239
    return body


def bkgd_wipe(me=0, selected=0, step=0, entries=None):
    """A wipe memory record (type 9, 2875 bytes): twelve background bodies."""
    entries = entries or [bkgd(me, pattern=(n % 12, n % 4)) for n in range(12)]
    return struct.pack(">IBB", 3, me, selected) + b"".join(entries) + bytes((step,))


def button(code, me=0, panel=0, state=1):
    return struct.pack(">HBHBBBHBB", 0, 0, 0, panel, me, 0, code, state, 0)


def color_correct(channel, mask=0x3FF, enable=1, limit=3, levels=(1000, 0, 1000, 900), fixed=0, link=1,
                  points=(0, 333, 666, 1000), value=60, reset_target=1, aux=5):
    """A colour correction record (type 46, 232 bytes): every sub-record carried, one value for all."""
    body = struct.pack(">IHBB4hBB", mask, channel, enable, limit, *levels, fixed, link)
    body += b"".join(struct.pack(">I3h", 7, p, p, p) for p in points)
    body += struct.pack(">IIBBBBIBBBB", 0xFFFF, 0xF, 1, 2, 3, 4, 0xF, 5, 6, 7, 8) * 3
    body += struct.pack(">I6h", 0x3F, *[value] * 6) + struct.pack(">I2h", 3, value, -value) * 12
    body += struct.pack(">BB", reset_target, aux)
    assert len(body) == 232
    return body


def color_correct_cmd(kind, channel, source=0):
    return struct.pack(">BBHhHH", 1, 2, kind, 0, channel, source)


def key_cmd(target_me, sources, command=0, head=(1, 2)):
    """A key command (type 75, 15 bytes): copy the DVE settings of the sources onto target_me's keys."""
    return struct.pack(">BBHhBI4B", *head, command, 0, target_me, 0xF, *sources)


def chroma(me, channel, mask=0x3FF, base=1, width=-23, sample_key=2, mode=3, point=1, centre=(5000, -5000), size=100,
           extra=(1000, -1000, 0)):
    """A chroma key record (type 1, 25 bytes)."""
    body = struct.pack(">IBHBhBBB", mask, me, channel, base, width, sample_key, mode, point)
    body += struct.pack(">6h", *centre, size, *extra)
    assert len(body) == 25
    return body


def chroma_cmd(me, channel, kind=0, head=(1, 2)):
    """A chroma key command (type 77, 11 bytes): re-read a channel's data block."""
    return struct.pack(">BBhhBhBB", *head, kind, 0, me, channel, 3, 4)


def wait(n):
    return packet(74, b"\0" * 6 + struct.pack(">h", n))


seeds = {
    "records": b"\x00" + packet(2, record(1)) + packet(6, record(1)) + packet(0, record(3)) + packet(14, record()),
    "bad_values": b"\x00" + packet(2, record(2, mode=7, rate=5000)) + packet(2, record(9)) + packet(6, record(5)),
    "commands": b"\x01" + packet(73, struct.pack(">IHI", 1, 2, 3)) + packet(94, b"\x02\x01") + packet(15, record()),
    "failing_command": b"\x00" + packet(73, struct.pack(">IH", 0xDEAD, 0)) + packet(73, struct.pack(">IH", 1, 1)),
    "wait": b"\x03" + wait(3) + packet(2, record()) + wait(0) + wait(-1) + packet(2, record(1)),
    "skipped": b"\x00" + packet(54, b"\x5a" * 6) + packet(200, b"\x81" * 12) + packet(0x8000, b"") + packet(78, b"abc")
    + packet(2, record()),
    "garbage": b"\x00" + b"\x00\x5a\x81\x00\x11\x22\x5a" + packet(2, record()) + b"\x5a\x81\xff\xff\xff\xff\x00\x02",
    "long_length": b"\x00" + b"\x5a\x81\x00\x00\x40\x00\x00\x02" + packet(2, record()),
    "short_and_long": b"\x00" + packet(2, record()[:-1]) + packet(2, record() + packet(2, record())) + wait(5)[:-1],
    "panel_records": b"\x02" + packet(25, panel_config()) + packet(49, lamps(panel_=1)) + packet(50, lamps(2, 0))
    + packet(49, lamps(panel_=3)) + packet(50, lamps(4, 1)),
    "operate_records": b"\x04" + packet(36, operate()) + packet(36, b"\0" * 774),
    "split": b"\x07" + packet(2, record(1)) * 3,
    "many": b"\x01" + packet(6, record(0)) * 120,
    # Colour backgrounds: both channels moving, values out of range, channels the category drops.
    "cbgd_records": b"\x03" + packet(6, cbgd(0)) + packet(6, cbgd(1, motion=2, speed=-500))
    + packet(6, cbgd(1, colors=((3600, 0, 0), (0, 1001, 0)), wash=2, rate=1001, position=-1801, motion=3, speed=501))
    + packet(6, cbgd(2)) + packet(6, cbgd(256)) + packet(6, cbgd(0)[:-1]) + packet(6, cbgd(0, mask=0x30, size=1000)),
    "no_reader": b"\x80" + packet(73, struct.pack(">IHI", 7, 7, 7)) * 50 + packet(2, record()) * 20,
    "key_records": b"\x01" + packet(0, key(1, 2, b"Key one", b"ABCDEFGHIJKL")) + packet(0, key(3, 3, fill=7))
    + packet(0, key(0, 1, masks=(0x1, 0))),
    # Backgrounds of two MEs (one with values out of range), their buttons, a running wipe of ME 0.
    "bkgd_records": b"\x04" + packet(2, bkgd(0)) + packet(2, bkgd(1, mix=(3, 2, 2), colour=(3600, 1001, -1),
                                                              trans=(2, 7, 1000, 1000, 1000), pattern=(15, 1),
                                                              border=(2, 0, 1001), link=(4, 9, 1), edges=(9000, 0, 0, 0),
                                                              state=2))
    + packet(94, button(1608, panel=1)) + packet(94, button(1612)) + packet(94, button(1601, 1))
    + packet(94, button(3000, me=7, state=0)) + packet(94, button(3000, me=9)) + packet(2, bkgd(3, check=1))
    + packet(2, bkgd(4)) + packet(2, bkgd(2)[:200]),
    # Wipe memories: a selection that recalls, a step request, a selection past the entries.
    "bkgd_wipe_records": b"\x05" + packet(36, operate()) + packet(9, bkgd_wipe(0, 3, 1))
    + packet(9, bkgd_wipe(1, 12, 1, [bkgd(1, pattern=(15, 1), dust=(1, -9000, 1, 255))] * 12))
    + packet(9, bkgd_wipe(2, 255)) + packet(9, bkgd_wipe(5)) + packet(9, bkgd_wipe(0)[:1000]),
    # Key commands: copies within and across MEs, targets without keys, bad sources and commands,
    # a short and a long body.
    "key_commands": b"\x02" + packet(0, key(0, 0, fill=3)) + packet(75, key_cmd(1, (1, 2, 3, 4)))
    + packet(75, key_cmd(0, (0, 9, 0, 26))) + packet(75, key_cmd(5, (1, 1, 1, 1))) + packet(75, key_cmd(9, (0, 0, 0, 0)))
    + packet(75, key_cmd(1, (13, 0, 0, 0))) + packet(75, key_cmd(1, (255, 0, 0, 0))) + packet(75, key_cmd(0, (1, 0, 0, 0), 1))
    + packet(75, key_cmd(2, (1, 0, 0, 0))[:-2]) + packet(75, key_cmd(3, (2, 0, 0, 0)) + b"\x00\x01"),
    "key_bad": b"\x00" + packet(0, key()[:200]) + packet(0, key(4, 0)) + packet(0, key(0, 4))
    + packet(0, key(2, 0, b"A" * 40, b"B", n2=-1)) + packet(0, key(0, 0, b"", b"x" * 13, n1=-2)) + packet(0, key(1, 1)),
    # The periphery records: one of each kept type, then the addresses each category drops.
    "periphery_records": b"\x01" + packet(31, gpi()) + packet(34, inhibit(2))
    + packet(30, struct.pack(">I6B", 0x3F, 1, 2, 0, 1, 0, 1)) + packet(35, struct.pack(">I5B", 0x1F, 1, 1, 1, 1, 9))
    + packet(51, struct.pack(">II24h", 0, 0x01, 1, 2, 3, *[0] * 21)) + packet(44, struct.pack(">5I", 0xF, 1, 2, 3, 9))
    + packet(45, plugin_status(29, b"x" * 40, b"ok"))
    + packet(55, struct.pack(">I4B5HB", 0x1F, 5, 1, 2, 3, 1, 2, 3, 4, 5, 2))
    + packet(57, test_record(3, 15, range(20))) + packet(34, inhibit(3)) + packet(34, inhibit(0xFFFF))
    + packet(45, plugin_status(30)) + packet(45, plugin_status(-1)) + packet(57, test_record(4, 0, [1]))
    + packet(57, test_record(0, 16, [1])) + packet(61, b"\0" * 4) + packet(62, b"") + packet(83, b"\1" * 3)
    + packet(90, b"\2" * 9),
    # Both test modes on every ME with values far outside what the drivers accept.
    "test_patterns": b"\x04" + packet(57, test_record(1, 0, [1, 7, 150, 20, 150, 150, -5, 150, 150, 150, 3, 2]))
    + packet(45, plugin_status(3, n1=-1)) + packet(57, test_record(1, 0, [2, 80, -10, 150, -3, 1, 0, 120, -1]))
    + packet(57, test_record(1, 0, [1, -32768, -1, -1, -1, -1, -1, -1, -1, -1, -1, -32768])),
    # Colour correction: records in and out of range, channels the category drops, resets, copies
    # and commands it answers with a failure.
    "color_correct": b"\x02" + packet(46, color_correct(0)) + packet(46, color_correct(11, link=0, fixed=1))
    + packet(46, color_correct(3, limit=4, levels=(2001, -201, -1, 3600), link=2, points=(-101, 0, 1080, 1081),
                               value=301, reset_target=5, aux=28))
    + packet(46, color_correct(12)) + packet(46, color_correct(0xFFFF)) + packet(46, color_correct(5)[:-1])
    + packet(71, color_correct_cmd(0, 0)) + packet(71, color_correct_cmd(1, 9, 3))
    + packet(71, color_correct_cmd(1, 3, 12)) + packet(71, color_correct_cmd(0, 12)) + packet(71, color_correct_cmd(2, 1))
    + packet(71, color_correct_cmd(0, 1)[:9]),
    # Downstream keys in and out of range, channels the category drops, a short body; transition
    # status records (the front end may send them) whole and short.
    "dsk_records": b"\x02" + packet(5, dsk(0, b"Logo1")) + packet(5, dsk(3, b"x" * 20, fill=7))
    + packet(5, dsk(1, fill=255)) + packet(5, dsk(4)) + packet(5, dsk(0x100)) + packet(5, dsk(2, n1=-1))
    + packet(5, dsk(1)[:60]) + packet(56, struct.pack(">I", 0) + struct.pack(">I4B", 0xF, 1, 3, 4, 0) * 7)
    + packet(56, b"\0" * 30),
    # Chroma keys with the key source memory on: records in and out of range, addresses the category
    # drops, a short body; commands of every kind, for an ME and channels without a block; key
    # settings changed so that the memory stores them.
    "chroma_records": b"\x03" + packet(36, operate()) + packet(1, chroma(0, 0)) + packet(1, chroma(1, 3, width=41, size=99))
    + packet(1, chroma(3, 2, base=4, sample_key=5, mode=4, point=15, centre=(10001, 0), size=10001, extra=(1001, 0, -1001)))
    + packet(1, chroma(4, 0)) + packet(1, chroma(0, 4)) + packet(1, chroma(2, 1)[:20])
    + packet(77, chroma_cmd(0, 0)) + packet(77, chroma_cmd(1, 3, 3)) + packet(77, chroma_cmd(0, 1, 4))
    + packet(77, chroma_cmd(0, -1)) + packet(77, chroma_cmd(0, 4)) + packet(77, chroma_cmd(5, 0))
    + packet(77, chroma_cmd(2, 2)[:9]) + packet(0, key(0, 0, fill=5)) + packet(0, key(1, 2, masks=(0x7F, 0)))
    + packet(5, dsk(1, fill=3)),
}

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
os.makedirs(out, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
