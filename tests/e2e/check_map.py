#!/usr/bin/env python3
"""Checks the map picture and the bad-block list of a morvek-scan run.

    check_map.py WHAT PNG BADLIST DEVICE_SECTORS TOTAL "BAD RANGES" [STOP_AT]

Simulates the scan run's rules over the device's 64 KB blocks from the bad
ranges ("lo-hi" in sectors, both ends included, spaces or commas between
them) and compares the centre pixel of every cell of the PNG (read with
nothing but zlib: no image library in the oracle) and every line of the list.
STOP_AT, for a stopped run, is the sector at which the first block not read
starts. When EXPECT_RED is set (cell numbers, space separated), the red cells
must be exactly those. Prints a summary and exits 0, or exits non-zero with
what is wrong.
"""
import os, struct, sys, zlib

what, png, badlist, dev_sectors, total, ranges = sys.argv[1:7]
dev_sectors, total = int(dev_sectors), int(total)
stop = int(sys.argv[7]) if len(sys.argv) > 7 else None
bad = [tuple(map(int, r.split("-"))) for r in ranges.replace(",", " ").split()]
GREEN, RED, WHITE = (41, 178, 49), (255, 101, 66), (255, 255, 255)

# The run: one 128-sector read per pass while off < T; a read fails when it
# overlaps a bad range (cut at the device's end). A failed read paints the
# next cell red; a good read paints a green cell for every boundary B at or
# before its start (with no cell size, only the first block paints); every
# painted cell moves B on by C. Then the device's tail past the last block:
# reads of up to 128 sectors to its end, a failure there red like any other.
cell_size = total // 2484
boundary, cells, failed = cell_size, [], []


def fails(off, count):
    last = min(off + count, dev_sectors) - 1
    return any(lo <= last and off <= hi for lo, hi in bad)


off = 0
while off < total and (stop is None or off < stop):
    if fails(off, 128):
        failed.append(off)
        cells.append(RED)
        boundary += cell_size
    elif cell_size == 0:
        if off == 0:
            cells.append(GREEN)
    else:
        while boundary <= off:
            cells.append(GREEN)
            boundary += cell_size
    off += 128
if stop is None:
    off = -(-total // 128) * 128
    while off < dev_sectors:
        if fails(off, min(128, dev_sectors - off)):
            failed.append(off)
            cells.append(RED)
        off += 128
cells = cells[:2484]  # the chart keeps no cell beyond its last one

errors = []
listed = open(badlist).read()
if listed != "".join("%d\n" % s for s in failed):
    errors.append("bad-block list %r, expected %r" % (listed[:200], failed[:20]))

data = open(png, "rb").read()
if data[:8] != b"\x89PNG\r\n\x1a\n":
    sys.exit("%s is not a PNG" % png)
pos, idat, width, height = 8, b"", 0, 0
while pos < len(data):
    length, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + length]
    if kind == b"IHDR":
        width, height, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", body)
        if (depth, ctype, interlace) != (8, 2, 0):
            sys.exit("PNG is not 8-bit RGB, non-interlaced")
    elif kind == b"IDAT":
        idat += body
    pos += 12 + length
if (width, height) != (540, 460):
    sys.exit("PNG is %dx%d, not 540x460" % (width, height))
raw, stride, rows, prev = zlib.decompress(idat), width * 3, [], bytearray(width * 3)
for y in range(height):
    ftype, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a = line[i - 3] if i >= 3 else 0
        b = prev[i]
        c = prev[i - 3] if i >= 3 else 0
        if ftype == 1: line[i] = (line[i] + a) & 255
        elif ftype == 2: line[i] = (line[i] + b) & 255
        elif ftype == 3: line[i] = (line[i] + (a + b) // 2) & 255
        elif ftype == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    rows.append(line)
    prev = line

wrong = []
for k in range(2484):
    x, y = (k % 54) * 10 + 4, (k // 54) * 10 + 4
    got = tuple(rows[y][x * 3:x * 3 + 3])
    want = cells[k] if k < len(cells) else WHITE
    if got != want:
        wrong.append("cell %d: %s, expected %s" % (k, got, want))
if wrong:
    errors.append("%d map cells wrong: %s" % (len(wrong), "; ".join(wrong[:5])))
red = [k for k, c in enumerate(cells) if c == RED]
expect_red = os.environ.get("EXPECT_RED")
if expect_red is not None and red != [int(k) for k in expect_red.split()]:
    errors.append("red cells %s, expected %s" % (red, expect_red))
if errors:
    sys.exit("; ".join(errors))
print("map and bad-block list as the rules give: %d green, %d red, %d white cells; %d failed reads"
      % (cells.count(GREEN), cells.count(RED), 2484 - len(cells), len(failed)))
