#!/usr/bin/env python3
"""Compiles res/MorvekScan.rc with windres and checks what the program will
really load: the scan window's template (every control's ID, class, text,
style and place, the caption and the font as UTF-16), the skin bitmaps (size
and pixel format) and the icon. Exit status 0 when everything matches.

    python3 tools/art/check_resources.py [--windres x86_64-w64-mingw32-windres]

A mismatch here means the window would come up with garbled Chinese text,
misplaced controls, or bitmaps the skin cannot blit unscaled.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
RES_DIR = os.path.join(ROOT, "res")

RT_ICON, RT_BITMAP, RT_DIALOG, RT_GROUP_ICON = 3, 2, 5, 14

WS_POPUP, WS_VISIBLE, WS_CHILD = 0x80000000, 0x10000000, 0x40000000
WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX = 0x00C00000, 0x00080000, 0x00020000
WS_BORDER, WS_VSCROLL, WS_TABSTOP, WS_GROUP = 0x00800000, 0x00200000, 0x00010000, 0x00020000
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
SS_GRAYFRAME, SS_NOTIFY = 0x8, 0x100
BS_OWNERDRAW = 0xB
CBS_DROPDOWN, CBS_AUTOHSCROLL = 0x2, 0x40
ES_AUTOHSCROLL, ES_READONLY = 0x80, 0x800
WS_EX_TRANSPARENT = 0x20

BUTTON, EDIT, STATIC, COMBOBOX = 0x80, 0x81, 0x82, 0x85
LABEL = WS_CHILD | WS_VISIBLE | WS_GROUP  # LTEXT: SS_LEFT | WS_GROUP

# (id, class atom, text, style, ex style, x, y, cx, cy), in tab order.
EXPECTED_CONTROLS = [
    (1026, STATIC, "", WS_CHILD | SS_GRAYFRAME | SS_NOTIFY, 0, 6, 74, 361, 308),
    (1000, BUTTON, "", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0, 407, 354, 42, 14),
    (1009, STATIC, "Static", LABEL, 0, 455, 216, 31, 8),
    (1005, STATIC, "Space", LABEL, 0, 455, 200, 44, 8),
    (-1, STATIC, "硬盘大小：", LABEL, 0, 401, 200, 40, 8),
    (1001, BUTTON, "", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW | WS_TABSTOP, 0, 464, 373, 44, 13),
    (-1, STATIC, "扫描进度：", LABEL, 0, 401, 230, 41, 8),
    (1014, BUTTON, "", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW | WS_TABSTOP, 0, 461, 354, 44, 14),
    (-1, STATIC, "每个方格：", LABEL, 0, 401, 216, 43, 8),
    (1018, STATIC, "", LABEL, 0, 455, 246, 51, 8),
    (-1, STATIC, "扫描时间：", LABEL, 0, 401, 246, 41, 8),
    (1020, STATIC, "", LABEL, 0, 455, 260, 45, 8),
    (-1, STATIC, "扫描速度：", LABEL, 0, 401, 260, 41, 8),
    (-1, STATIC, "剩余时间：", LABEL, 0, 401, 276, 41, 8),
    (1023, STATIC, "", LABEL, 0, 455, 276, 42, 8),
    (1024, STATIC, "", LABEL, 0, 455, 290, 49, 8),
    (-1, STATIC, "坏块数：", LABEL, 0, 401, 290, 33, 8),
    (-1, STATIC, "%", LABEL, 0, 474, 230, 8, 8),
    (1025, BUTTON, "", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW | WS_TABSTOP, 0, 245, 25, 50, 14),
    (1011, COMBOBOX, "", WS_CHILD | WS_VISIBLE | CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL |
     WS_TABSTOP, WS_EX_TRANSPARENT, 420, 325, 100, 47),
    (-1, STATIC, "扫描：", LABEL, 0, 390, 327, 25, 8),
    (1027, EDIT, "", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP, 0,
     455, 230, 14, 8),
]

EXPECTED_BITMAPS = {
    131: (800, 583), 132: (94, 28), 133: (94, 28), 136: (94, 28), 137: (94, 28),
    143: (94, 28), 144: (94, 28), 157: (800, 100),
    134: (94, 28), 138: (94, 28), 145: (94, 28),  # pressed looks, optional
}


def read_res(data):
    """Yields (type, name, language, payload) of every entry of a .res file."""
    pos = 0

    def name_or_id(p):
        if struct.unpack_from("<H", data, p)[0] == 0xFFFF:
            return struct.unpack_from("<H", data, p + 2)[0], p + 4
        end = p
        while struct.unpack_from("<H", data, end)[0] != 0:
            end += 2
        return data[p:end].decode("utf-16-le"), end + 2

    while pos + 8 <= len(data):
        size, header = struct.unpack_from("<II", data, pos)
        rtype, p = name_or_id(pos + 8)
        rname, p = name_or_id(p)
        p = (p + 3) & ~3
        _, _, lang = struct.unpack_from("<IHH", data, p)
        payload = data[pos + header:pos + header + size]
        if size or rtype:
            yield rtype, rname, lang, payload
        pos = (pos + header + size + 3) & ~3


class Reader:
    def __init__(self, data):
        self.d, self.p = data, 0

    def take(self, fmt):
        v = struct.unpack_from("<" + fmt, self.d, self.p)
        self.p += struct.calcsize("<" + fmt)
        return v if len(v) > 1 else v[0]

    def sz_or_ord(self):
        if struct.unpack_from("<H", self.d, self.p)[0] == 0xFFFF:
            self.p += 2
            return self.take("H")
        return self.string()

    def string(self):
        end = self.p
        while struct.unpack_from("<H", self.d, end)[0] != 0:
            end += 2
        s = self.d[self.p:end].decode("utf-16-le")
        self.p = end + 2
        return s

    def align(self):
        self.p = (self.p + 3) & ~3


def parse_dialogex(data):
    r = Reader(data)
    ver, sig = r.take("HH")
    assert (ver, sig) == (1, 0xFFFF), "not a DIALOGEX template"
    _, exstyle, style, count = r.take("IIIH")
    x, y, cx, cy = r.take("hhhh")
    dlg = {"style": style, "exstyle": exstyle, "rect": (x, y, cx, cy), "menu": r.sz_or_ord(),
           "class": r.sz_or_ord(), "title": r.string()}
    if style & DS_SETFONT:
        dlg["font"] = (r.take("H"), r.take("H"), r.take("B"), r.take("B"), r.string())
    items = []
    for _ in range(count):
        r.align()
        _, ex, st = r.take("III")
        ix, iy, icx, icy = r.take("hhhh")
        cid = r.take("i")
        cls = r.sz_or_ord()
        text = r.sz_or_ord()
        extra = r.take("H")
        r.p += extra
        items.append((cid, cls, text, st, ex, ix, iy, icx, icy))
    dlg["items"] = items
    return dlg


def check_bitmap(rid, payload, problems):
    want = EXPECTED_BITMAPS.get(rid)
    if want is None:
        problems.append("unexpected bitmap %d" % rid)
        return
    size, w, h, planes, bpp, comp = struct.unpack_from("<IiiHHI", payload, 0)
    clr_used = struct.unpack_from("<I", payload, 32)[0]
    stride = (w * 3 + 3) & ~3
    if (size, planes, bpp, comp, clr_used) != (40, 1, 24, 0, 0):
        problems.append("bitmap %d: header %r is not 40-byte 24-bit BI_RGB without colour table"
                        % (rid, (size, planes, bpp, comp, clr_used)))
    if (w, h) != want:
        problems.append("bitmap %d: %dx%d, want %dx%d (a negative height is top-down)"
                        % (rid, w, h, want[0], want[1]))
    if len(payload) != 40 + stride * abs(h):
        problems.append("bitmap %d: %d bytes of data, want %d" % (rid, len(payload) - 40, stride * abs(h)))


def check(res_bytes):
    problems = []
    entries = list(read_res(res_bytes))
    dialogs = {n: p for t, n, _, p in entries if t == RT_DIALOG}
    bitmaps = {n: p for t, n, _, p in entries if t == RT_BITMAP}
    groups = {n: p for t, n, _, p in entries if t == RT_GROUP_ICON}
    icons = {n: p for t, n, _, p in entries if t == RT_ICON}

    if 129 not in dialogs:
        problems.append("dialog 129 missing")
    else:
        dlg = parse_dialogex(dialogs[129])
        want_style = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME
        if dlg["style"] & ~DS_SETFONT != want_style:
            problems.append("dialog style %#x, want %#x" % (dlg["style"], want_style | DS_SETFONT))
        if dlg["rect"] != (0, 0, 532, 387):
            problems.append("dialog rect %r" % (dlg["rect"],))
        if dlg["title"] != "Morvek磁盘扫描 V.1.1.20071201":
            problems.append("dialog title %r" % dlg["title"])
        if dlg.get("font", (0, 0, 0, 0, ""))[0] != 9 or dlg["font"][4] != "宋体":
            problems.append("dialog font %r" % (dlg.get("font"),))
        if dlg["menu"] not in (0, "") or dlg["class"] not in (0, ""):
            problems.append("dialog has a menu or class")
        got = dlg["items"]
        if len(got) != len(EXPECTED_CONTROLS):
            problems.append("%d controls, want %d" % (len(got), len(EXPECTED_CONTROLS)))
        for want, have in zip(EXPECTED_CONTROLS, got):
            if tuple(have) != want:
                problems.append("control %d: got %r, want %r" % (want[0], have, want))

    for rid, payload in bitmaps.items():
        check_bitmap(rid, payload, problems)
    for rid in EXPECTED_BITMAPS:
        if rid not in bitmaps and rid not in (134, 138, 145):
            problems.append("bitmap %d missing" % rid)

    if 128 not in groups:
        problems.append("icon 128 missing")
    else:
        g = groups[128]
        _, kind, count = struct.unpack_from("<HHH", g, 0)
        sizes = set()
        for i in range(count):
            w, h, _, _, _, bpp, _, nid = struct.unpack_from("<BBBBHHIH", g, 6 + 14 * i)
            sizes.add((w or 256, bpp))
            if nid not in icons:
                problems.append("icon image %d missing" % nid)
        if kind != 1 or not {(32, 32), (16, 32), (32, 8), (16, 8)} <= sizes:
            problems.append("icon 128 lacks 32/16 px images in true colour and 256 colours: %r" % sizes)
    return problems


def main(argv):
    windres = "x86_64-w64-mingw32-windres"
    if len(argv) >= 2 and argv[0] == "--windres":
        windres = argv[1]
    if not shutil.which(windres):
        print("check_resources: %s not found" % windres)
        return 1
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "MorvekScan.res")
        subprocess.run([windres, "-I", RES_DIR, "-O", "res", "-o", out,
                        os.path.join(RES_DIR, "MorvekScan.rc")], check=True, cwd=RES_DIR)
        with open(out, "rb") as f:
            problems = check(f.read())
    for p in problems:
        print("FAIL:", p)
    print("check_resources: %d passed, %d failed" % (1 if not problems else 0, 1 if problems else 0))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
