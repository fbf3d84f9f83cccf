#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/)."""
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


USK_HEAD = 47  # up-stream key record bytes before its text mask


def usk(channel=0, text1=b"", text2=b"", n1=None, n2=None, mask=0x3, fill=0):
    """An up-stream key record (type 7, 57 bytes and its two text lengths)."""
    body = struct.pack(">IH", mask, channel)
    body += bytes((fill * i) & 0xFF for i in range(USK_HEAD - len(body)))
    return body + struct.pack(">I", 3) + text(text1, n1) + text(text2, n2)


assert len(usk()) == 57 and len(usk(text1=b"x" * 12, n2=-1)) == 57 + 12 - 1


def usk_assign(sources=(20, 12, 181, 191, 140, 223, 42, 138), entries=((0, 3), (31, 7), (40, 5), (149, 9)),
               on_off=(1, 0, 1, 2)):
    """An up-stream key assignment record (type 8, 774 bytes)."""
    table = dict(entries)
    body = struct.pack(">II8B", 0, 0xFF, *sources)
    body += b"".join(struct.pack(">IB", 1 if e in table else 0, table.get(e, 0)) for e in range(150))
    body += struct.pack(">I4B", 0xF, *on_off)
    assert len(body) == 774
    return body


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


def button(code, me=0, panel=0, state=1, entry=0):
    return struct.pack(">HBHBBBHBB", 0, 0, 0, panel, me, entry, code, state, 0)


def xpt_assign(panel, sources):
    """A crosspoint assignment (type 38, 415 bytes): buttons 0.. of the panel carry the sources."""
    masks = [0] * 6
    for b in range(len(sources)):
        masks[b // 32] |= 1 << (b % 32)
    body = struct.pack(">IH6I192hB", 0, panel, *masks, *(list(sources) + [0] * (192 - len(sources))), 0)
    assert len(body) == 415
    return body


def bus(me, codes, program=0):
    """A bus record (type 47, 196 bytes): entries 0.. set to the codes, and the program bus."""
    masks = [0, 0, 0]
    for e in range(len(codes)):
        masks[e // 32] |= 1 << (e % 32)
    body = struct.pack(">IB3I89HB", 1, me, *masks, *(list(codes) + [0] * (89 - len(codes))), program)
    assert len(body) == 196
    return body


def bus_status(me, rows, panel=0):
    """A bus status record (type 48, 32 bytes): the entries the panel's rows 0..3 show, on page 0."""
    body = struct.pack(">IBHI5B3BI7BBB", 0, me, panel, 0xF, *rows, 0, 0, 0, 0, 0, *[0] * 7, 0, 0)
    assert len(body) == 32
    return body


# Sources 10..33 (SDI inputs 1..24) on the first row of buttons of panel 0.
XPT_SOURCES = list(range(10, 34))


def fader(lever, value, panel=0):
    """A lever's raw value (type 95, 13 bytes): only lever, value and panel are read."""
    return struct.pack(">HBHBHHBBB", 0, 0, 0, lever, value, 0, panel, 0, 0)


assert len(fader(0, 0)) == 13


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


def maintenance(label1=b"Studio", levers=(0, 2000, 400, 95), mv_time=(2024, 2, 29, 12, 0, 0)):
    """The maintenance record (type 27): 494 bytes and the lengths of its 109 texts."""
    texts = []

    def t(chars=b"", count=None):
        texts.append(len(chars) if count is None else count)
        return text(chars, count)

    body = struct.pack(">I", 0x3FFF) + t(label1)
    for _ in range(4):
        body += struct.pack(">I", 0x1FFFF) + t(b"1.00") + b"".join(t() for _ in range(16))
    body += t(b"x" * 20)  # label2, cut to 12 characters
    for flags in ((1, 1, 1, 1), (1, 0, 2, 0), (0, 0, 0, 0), (1, 1, 1, 1)):
        body += struct.pack(">I", 0xFF) + t(b"Fan") + t(count=-1) + t() + t() + struct.pack(">4B", *flags)
    body += struct.pack(">IB", 1, 1) + struct.pack(">I8B", 0xFF, 0, 2, 1, 9, 0, 0, 0, 0)
    body += struct.pack(">IBB", 7, 1, 200) + t(b"option")
    body += struct.pack(">I", 0xF) + b"".join(t() for _ in range(4)) + t(b"label3")
    body += struct.pack(">I", 7) + b"".join(t() for _ in range(3))
    body += struct.pack(">BB9h12h", 2, 3, 2024, 2, 30, 23, 59, 59, 24, 0, 0, *mv_time, 2023, 2, 29, 0, 0, 0)
    body += struct.pack(">IB", 0xF, 1) + b"".join(t() for _ in range(3)) + struct.pack(">IBB", 7, 1, 6) + t(b"mode")
    body += struct.pack(">I", 0x7FFFFFF) + t(b"12345h") + b"".join(t() for _ in range(9)) + bytes(range(17))
    body += struct.pack(">4h", *levers)
    assert len(texts) == 109 and len(body) == 494 + sum(texts)
    return body


def maintenance_cmd(code, head=(1, 2, 3, 4)):
    """The maintenance command (type 70, 20 bytes)."""
    return struct.pack(">BBhhBB6h", head[0], head[1], code, 0, head[2], head[3], 2011, 1, 1, 0, 0, 0)
def image_target(enable=1, posterize=1, y=3, c=5, options=(0, 1), colorize=1, hue=0, sat=1000, effect=2, level=500,
                 mask=0x7FF):
    """One image-effect target (20 bytes on the wire, colourise before the effect type)."""
    return struct.pack(">IBBhhBBBhhBh", mask, enable, posterize, y, c, *options, colorize, hue, sat, effect, level)


def image(me=0, targets=None, record_flag=1, dve=(0x1F, 1, 0, 30, 1, 500), mask=1):
    """An image-effect record (type 3, 148 bytes): key targets 1..4, A, B, the record flag, two DVE sub-records."""
    targets = targets or [image_target()] * 6
    body = struct.pack(">IB", mask, me) + b"".join(targets) + bytes((record_flag,))
    body += struct.pack(">IBBhBh", *dve) * 2
    assert len(body) == 148
    return body


def key_preset(targets=(0, 1, 2, 3, 4), extra=(1, 2, 3, 4), group9=2, entries=None, settings=(4, 3, 3, 1)):
    """A key preset record (type 19, 429 bytes): every field carried, the same targets on each panel."""
    body = struct.pack(">IIBBBI3B", 3, 3, settings[0], settings[1], settings[2], 7, 1, 0, 1)
    body += struct.pack(">II5BI4BIB", 0, 0x1F, *targets, 0xF, *extra, 1, group9) * 3
    entries = entries if entries is not None else [e % 5 - 1 for e in range(80)]
    body += struct.pack(">B3I80i", settings[3], 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFF, *entries)
    assert len(body) == 429
    return body


def custom_info(slots):
    """A custom-information record (type 33, 88 bytes) carrying its eight ME slot words."""
    return struct.pack(">IB3BII36BI8I", 1, 1, 0, 0, 0, 0, 0, *range(36), 0xFF, *slots)


def switching(me=0, entries=((0, 1036), (1, 1037)), kind=0, no_record=0, tag=1, program=1):
    """A switching command (type 76): 203 bytes with a bus record, 7 without one."""
    head = struct.pack(">BBhhB", tag, 2, kind, 0, no_record)
    if no_record:
        return head
    masks, codes = [0, 0, 0], [0] * 89
    for entry, code in entries:
        masks[entry // 32] |= 1 << (entry % 32)
        codes[entry] = code
    body = head + struct.pack(">IB3I89HB", 1, me, *masks, *codes, program)
    assert len(body) == 203
    return body


def system(fmt=0, mode=0, scale=0, phase=(1, -25, 3), genlock=(1, 1), routing=(1, 2, 1, 2, 1, 2), dsk=(2, 0),
           keys=(2,) * 8, multiview=tuple(range(8)), recall=1, display=(1, 2, 1, 1, 1), texts=None):
    """A system record (type 29) with every field but the address texts present (texts: their mask and
    four wire texts); 106 bytes with empty texts."""
    body = struct.pack(">IIBBB", 0x1, 0x7, fmt, mode, scale) + struct.pack(">IBhh", 0x7, *phase)
    body += struct.pack(">IBB", 0x3, *genlock) + text(b"") + struct.pack(">IBB", 0xB, 0, 0) + text(b"") + b"\x01"
    body += struct.pack(">I6B", 0x3F, *routing) + struct.pack(">I2B", 0x3, *dsk) + struct.pack(">I8B", 0xFF, *keys)
    body += struct.pack(">I8B", 0xFF, *multiview) + bytes((recall,))
    body += struct.pack(">I", 0) + text(b"") * 4 if texts is None else struct.pack(">I", texts[0]) + b"".join(texts[1])
    body += struct.pack(">I5B", 0x1F, *display) + b"\x00"
    assert len(body) == 106 or texts is not None
    return body
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


def peripheral(mode=1, form=0, groups=((0x3FF, (1, 2, 13, 21, 36, 0, 7, 0x8000), 2, 5),), masks=(0x7, 0x1)):
    """Peripheral tally groups (type 28, 100 bytes): (mask, eight codes, colour, exclusion) per group."""
    body = struct.pack(">II4B", masks[0], masks[1], 1, 1, form, mode)
    for g in range(4):
        mask, codes, colour, exclusion = groups[g] if g < len(groups) else (0, (0,) * 8, 0, 0)
        body += struct.pack(">I8HBB", mask, *codes, colour, exclusion)
    assert len(body) == 100
    return body


def bus_tally(me, flag=1):
    """A bus tally record (type 52, 106 bytes) with every entry present."""
    return struct.pack(">IB3I", 0, me, 0xFFFFFFFF, 0xFFFFFFFF, 0x1FFFFFF) + bytes([flag]) * 89


def source_tally(index, flag=1, presence=0xFFFFFFFF):
    """A source tally record (type 53, 285 bytes)."""
    return struct.pack(">IH8I", 0, index, *[presence] * 8) + bytes([flag]) * 247
def mainframe_config(me_rows=None, dsk=(9, 15, 1, (0, 1, 0, 1), 1, (1, 0, 1, 0), 1, (0, 0, 1, 1), 5), fader_keys=None,
                     fader_dsks=(0, 1, 0, 0), select=6, enable=1, masks=(0x1F, 0x3F, 0x3)):
    """The mainframe configuration (type 26, 348 bytes): eight ME rows, the DSK wiring, the fader lists."""
    rows = me_rows or [(2, 1, 1, (1, 0, 1, 0), 0, (1, 1, 0, 0), 1)] * 8
    body = struct.pack(">I", masks[2])
    for clean, mode, option, tap_b, ignore_b, tap_a, ignore_a in rows:
        body += struct.pack(">I3BI4BBI4BB", masks[0], clean, mode, option, 0xF, *tap_b, ignore_b, 0xF, *tap_a, ignore_a)
    bg1, bg2, own, program, option, flags, top, clean_alt, out2 = dsk
    body += struct.pack(">I3BI4BBI4BBI4BB", masks[1], bg1, bg2, own, 0xF, *program, option, 0xF, *flags, top, 0xF,
                        *clean_alt, out2)
    for entries in fader_keys or [(0, 0, 1, 0)] * 8:
        body += struct.pack(">II4B", 0, 0xF, *entries)
    body += struct.pack(">II4BBB", 0, 0xF, *fader_dsks, select, enable)
    assert len(body) == 348
    return body


def initial_cmd(mode, date=(2024, 2, 29, 23, 59, 58), head=(1, 2, 3)):
    """The system initialise command (type 73, 19 bytes)."""
    return struct.pack(">BBHh6HB", head[0], head[1], mode, 0, *date, head[2])


def wait(n):
    return packet(74, b"\0" * 6 + struct.pack(">h", n))


# Wire offsets of single key fields: (offset, format, presence bit of word 0).
KEY_SOFTNESS, KEY_DVE_ON, KEY_DVE_SIZE, KEY_FOLLOWER = (68, ">h", 4), (84, ">B", 7), (109, ">i", 13), (163, ">B", 22)


def key_with(me, channel, *fields):
    """A key record carrying only the given fields, each a ((offset, format, bit), value) pair."""
    body = bytearray(key(me, channel, masks=(sum(1 << f[2] for f, _ in fields), 0)))
    for (offset, fmt, _), value in fields:
        struct.pack_into(fmt, body, offset, value)
    return bytes(body)


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
    # A stray byte before twenty colour backgrounds, which are all taken after it.
    "stray_byte": b"\x01" + b"\x00" + b"".join(packet(6, cbgd(n % 2, size=100 + n)) for n in range(20)),
    # A header of the longest body there can be, of a type that no category reads (so no form of its
    # own limits it), without its body: the 391 colour backgrounds behind it make that body, the
    # rest are taken.
    "long_body": b"\x01" + b"\x5a\x81\x00\x00\x3f\xff\x00\x4e"
    + b"".join(packet(6, cbgd(n % 2, size=n % 1001)) for n in range(400)),
    # Headers that promise more than their type's form (backgrounds, system settings, a wait): each is
    # dropped at once and the colour backgrounds behind it are taken; then a run of one malformed
    # packet, logged once a frame.
    "over_long": b"\x01" + b"\x5a\x81\x00\x00\x3e\x80\x00\x02"
    + b"".join(packet(6, cbgd(n % 2, size=200 + n)) for n in range(6)) + b"\x5a\x81\x00\x00\x01\x2c\x00\x1d"
    + b"".join(packet(6, cbgd(n % 2, size=300 + n)) for n in range(6)) + packet(74, b"\0" * 9)
    + packet(200, b"\0\0") * 150 + packet(6, cbgd(1, size=999)),
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
    # Key 1 of ME 0 with the DVE transition on hands its size of 40000 on to its follower, key 3, beside
    # a softness on key 2; then backgrounds, keys and downstream keys run auto transitions. The restart
    # after the frames must give every setting back.
    "restart_key_follower": b"\x03" + packet(0, key_with(0, 1, (KEY_SOFTNESS, 456)))
    + packet(0, key_with(0, 0, (KEY_DVE_ON, 1), (KEY_FOLLOWER, 3), (KEY_DVE_SIZE, 40000))),
    "restart_transitions": b"\x02" + packet(2, bkgd(0)) + packet(0, key(0, 0, fill=3)) + packet(5, dsk(0, b"Logo1"))
    + b"".join(packet(94, button(code)) for code in (3100, 1724, 1725, 1824)),
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
    # a short body and a long one (dropped with its header).
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
    # Maintenance: a record with values in and out of range, one with lever parameters out of range,
    # a short one; commands in and out of the handled codes, a short one.
    "maintenance": b"\x03" + packet(27, maintenance()) + packet(27, maintenance(b"", (-1, 2001, 0, 0), (1999,) * 6))
    + packet(27, maintenance()[:300]) + packet(70, maintenance_cmd(0)) + packet(70, maintenance_cmd(5))
    + packet(70, maintenance_cmd(7)) + packet(70, maintenance_cmd(-1)) + packet(70, maintenance_cmd(6)[:19]),
    # Up-stream keys: texts of length 0, 12, 13 and -1, values out of range, channels the category
    # drops, a short body; their assignment with sources and attachments in and out of range, the
    # on/off buttons, a short body.
    "usk_records": b"\x03" + packet(7, usk(0, b"", b"ABCDEFGHIJKL")) + packet(7, usk(1, b"x" * 13, b"a\\\"", fill=7))
    + packet(7, usk(2, n1=-1, n2=-1, fill=255)) + packet(7, usk(3, b"ab\\", fill=3)) + packet(7, usk(4))
    + packet(7, usk(0x100)) + packet(7, usk(1)[:40])
    + packet(8, usk_assign()) + packet(8, usk_assign((9, 224, 255, 0, 10, 11, 222, 221), ((128, 4), (145, 8), (146, 1))))
    + packet(94, button(2051)) + packet(94, button(2053, state=0)) + packet(94, button(2050, me=9))
    + packet(8, usk_assign()[:500]),
    # Image effects of every ME and one beyond, values out of range, a short body, the image buttons.
    "image_records": b"\x03" + packet(3, image(0)) + packet(3, image(1, [image_target(1, effect=1, level=1000)] * 6))
    + packet(3, image(2, [image_target(5, 2, 9, -1, (2, 3), 4, 3600, 1001, 3, 1001)] * 6, 2, (0x1F, 2, 2, 61, 2, 1001)))
    + packet(3, image(3)) + packet(3, image(4)) + packet(3, image(255)) + packet(3, image(0)[:100])
    + packet(94, button(1296)) + packet(94, button(1295, me=1)) + packet(94, button(1296, me=5)),
    # Key presets: records in and out of range, a short body, the key-select buttons from every panel
    # and from panels and MEs that have none, slot words that choose the ME lamps.
    "key_preset_records": b"\x04" + packet(33, custom_info((0, 3, 4, 9, 0, 1, 2, 0xFFFFFFFF)))
    + packet(19, key_preset()) + packet(19, key_preset((5, 255, 4, 0, 9), (5, 5, 5, 5), 7, [4, -2, 0x7FFFFFFF, 3] * 20,
                                                      (5, 4, 4, 2)))
    + packet(19, key_preset()[:300]) + packet(94, button(1701, me=2, panel=1)) + packet(94, button(1805))
    + packet(94, button(2103, me=3, panel=2)) + packet(94, button(1800, panel=7)) + packet(94, button(1702, me=9)),
    # Levers: ME 0's lever primed at the top and swept down over its selected background, levers and
    # panels that do not exist, raw values beyond 4095, a short body and a long one (dropped with its
    # header); then the transition, key, downstream-key and fader-select buttons, a press for no ME
    # and a state the tables ignore.
    "fader_events": b"\x07" + packet(2, bkgd(0, trans=(1, 0, 10, 0, 0))) + packet(95, fader(0, 2255)) * 5
    + b"".join(packet(95, fader(0, v)) for v in (2200, 2100, 2000, 1900, 1833, 1833))
    + packet(95, fader(4, 100)) + packet(95, fader(0, 100, 3)) + packet(95, fader(3, 65535, 2))
    + packet(95, fader(1, 0, 1)) + packet(95, fader(2, 3000)[:12]) + packet(95, fader(2, 3000) + b"\x01\x02")
    + b"".join(packet(94, button(code)) for code in (1616, 1616, 1617, 3100, 3101, 1613, 1614, 1615))
    + b"".join(packet(94, button(code, me)) for code, me in ((1724, 0), (1732, 1), (1716, 2), (1826, 3), (1834, 0),
                                                           (1700, 1), (1801, 0), (2103, 2), (1616, 7)))
    + packet(94, button(1717, 1, 2, state=2)) + packet(94, button(2119, 0, 1, state=0)),
    # System records: formats of other families with the scale and mode, values the category drops;
    # the update applies them, corrects the genlock and routes the outputs.
    "system_settings": b"\x05" + packet(29, system(6, scale=1)) + packet(29, system(8, mode=2, genlock=(3, 1)))
    + packet(29, system(12, 0, 2, (2, 50, 101), (4, 2), (2, 3, 3, 5, 2, 3), (5, 9), (5,) * 8, (11,) * 8, 3, (2, 3, 2, 2, 2)))
    + packet(29, system(2, genlock=(1, 1), routing=(0, 1, 2, 0, 0, 1))) + packet(29, system()[:50]),
    # Address texts: a valid one, and texts whose zero byte comes after their count (not taken).
    "system_texts": b"\x01" + packet(29, system(texts=(0xF, (text(b"10.0.0.1"), text(b"\x03", 0), text(b"ab", 1),
                                                             text(b"x"))))),
    # Switching commands over a gate that opens every other frame (format 8): applied, queued, a
    # full ring; refused kinds and MEs, bodies of both lengths, one too short for its flag.
    "switching_commands": b"\x02" + packet(29, system(8, recall=2)) + packet(76, switching())
    + packet(76, switching(kind=1, no_record=1)) + packet(76, switching(kind=1)) + packet(76, switching(me=4))
    + packet(76, switching(me=12)) + packet(76, switching(no_record=1) + bytes(196)) + packet(76, switching()[:7])
    + packet(76, switching(2, ((0, 1247), (88, 7)), program=0)) + packet(76, switching()[:5])
    + b"".join(packet(76, switching(tag=t)) for t in range(12)),
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
    # Tally: groups of every code kind in the hardware-status mode, then the front end's bus and source
    # tally (a group beyond the four, an ME beyond the four, short bodies), the external setting, the
    # transition mode with a group of bus outputs.
    "tally_records": b"\x05" + packet(28, peripheral()) + packet(47, struct.pack(">IB3I", 1, 0, 7, 0, 0)
                                                              + struct.pack(">89H", *[1024 + 150 + e % 8 for e in range(89)])
                                                              + b"\x01")
    + packet(52, bus_tally(0)) + packet(52, bus_tally(5, 9)) + packet(52, bus_tally(1)[:50])
    + packet(53, source_tally(0, 7)) + packet(53, source_tally(4)) + packet(53, source_tally(0x100)) + packet(53, source_tally(2)[:100])
    + packet(28, peripheral(0, 1, ((0xFF, (21, 22, 23, 13, 14, 17, 20, 3), 4, 0), (0x3FF, (2, 5, 15, 16, 6, 4, 1, 0), 3, 1))))
    + packet(53, source_tally(1, 1, 0x5)) + packet(28, peripheral(2, 2, masks=(0xFFFFFFFF, 0xFFFFFFFF))) + packet(28, peripheral()[:60]),
    # The mainframe configuration: a record in range with the chroma key it taps, one with values out
    # of range and rows that are never taken, a short body; the system initialise command in every
    # mode, one refused for its mode, a short one.
    "mainframe_config": b"\x03" + packet(1, chroma(0, 0, sample_key=2)) + packet(26, mainframe_config())
    + packet(26, mainframe_config([(4, 3, 2, (2, 0, 0, 9), 2, (0, 0, 0, 3), 7)] * 8, (16, 16, 2, (2,) * 4, 2, (3,) * 4, 2,
                                                                                        (2,) * 4, 6), [(2,) * 4] * 8,
                                  (5, 0, 0, 1), 71, 9, (0xFFFFFFFF,) * 3))
    + packet(26, mainframe_config()[:200]) + packet(73, initial_cmd(0)) + packet(73, initial_cmd(2))
    + packet(73, initial_cmd(3)) + packet(73, initial_cmd(1)[:18]),
    # Every ME: its A, B, key and utility buses from the sources of the first button row (another
    # set per ME, the program on A or B), its rows showing A, B, a key fill and a utility bus, so
    # that the crosspoint words of every ME and the row and crosspoint lamps of every ME change.
    "xpt_buses_every_me": b"\x03" + packet(38, xpt_assign(0, XPT_SOURCES))
    + b"".join(packet(47, bus(me, [1024 + 10 + (5 * me + e) % 24 for e in range(12)], me % 2))
               + packet(48, bus_status(me, (0, 1, 2 + 2 * me, 10 + me % 2))) for me in range(4)),
    # Every ME: crosspoint buttons of the first row pressed on the A, B and key 1 fill buses (then
    # released), with the rows showing them, so that the button path sets the crosspoints and lights
    # the lamps of every ME.
    "xpt_buttons_every_me": b"\x03" + packet(38, xpt_assign(0, XPT_SOURCES))
    + b"".join(packet(48, bus_status(me, (0, 1, 2, 3))) for me in range(4))
    + b"".join(packet(94, button(1100 + (7 * me + 3 * e + 1) % 24, me, entry=e)) for me in range(4) for e in range(3))
    + b"".join(packet(94, button(1100 + (7 * me + 3 * e + 1) % 24, me, state=0, entry=e)) for me in range(4) for e in range(3)),
}

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
os.makedirs(out, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
