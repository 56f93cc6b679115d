#!/usr/bin/env python3
"""Writes the BMP kinds ImageMagick does not write (run-length 4, deltas and early ends,
top-down rows, plain 16- and 32-bit, masks after a 40-byte header, 56- and 108-byte headers,
wide and narrow masks, the 12-byte core header with 8 bits) and beside each the pixels it
holds as a PPM, computed here from the same description that made the file."""
import struct
import sys


def colour(x, y, seed):
    return ((x * 37 + y * 11 + seed) * 7 % 256, (x * 13 + y * 53 + seed) * 3 % 256, (x * 29 + y * 5 + seed) % 256)


def palette16():
    return [((i * 16 + 5) % 256, (i * 40 + 30) % 256, (255 - i * 15) % 256) for i in range(16)]


def info_header(size, width, height, bits, compression=0, colours_used=0, masks=None):
    h = struct.pack('<IiiHHIIiiII', size, width, height, 1, bits, compression, 0, 0, 0, colours_used, 0)
    if size >= 52:
        h += struct.pack('<III', *(masks or (0, 0, 0)))
    if size >= 56:
        h += struct.pack('<I', 0)
    if size >= 108:
        h += b'BGRs'[::-1] + bytes(108 - 60)
    return h + bytes(size - len(h))


def bmp_file(header, after_header, pixels):
    offset = 14 + len(header) + len(after_header)
    return b'BM' + struct.pack('<IHHI', offset + len(pixels), 0, 0, offset) + header + after_header + pixels


def quads(pal):
    return b''.join(bytes((b, g, r, 0)) for r, g, b in pal)


def pad(row):
    return row + bytes(-len(row) % 4)


def rows_in_file_order(rows, top_down):
    return b''.join(pad(r) for r in (rows if top_down else rows[::-1]))


def pack_indices(indices, bits):
    out = bytearray()
    per = 8 // bits
    for i in range(0, len(indices), per):
        byte = 0
        for k in range(per):
            v = indices[i + k] if i + k < len(indices) else 0
            byte |= v << (8 - bits * (k + 1))
        out.append(byte)
    return bytes(out)


def widen(v, bits):
    if bits >= 8:
        return v >> (bits - 8)
    wide, filled = 0, 0
    while filled < 8:
        wide, filled = (wide << bits) | v, filled + bits
    return wide >> (filled - 8)


def ppm(width, height, rgb):
    return b'P6\n%d %d\n255\n' % (width, height) + b''.join(bytes(p) for row in rgb for p in row)


def indexed(width, height, bits, top_down, seed):
    pal = palette16() if bits >= 4 else [(16, 32, 48), (250, 240, 230)]
    idx = [[(x * 3 + y * 5 + seed) % len(pal) for x in range(width)] for y in range(height)]
    rows = [pack_indices(r, bits) for r in idx]
    header = info_header(40, width, -height if top_down else height, bits, 0, len(pal))
    data = bmp_file(header, quads(pal), rows_in_file_order(rows, top_down))
    return data, [[pal[i] for i in r] for r in idx]


def truecolour(width, height, top_down, seed, header_size=40):
    rgb = [[colour(x, y, seed) for x in range(width)] for y in range(height)]
    rows = [b''.join(bytes((b, g, r)) for r, g, b in row) for row in rgb]
    header = info_header(header_size, width, -height if top_down else height, 24)
    return bmp_file(header, b'', rows_in_file_order(rows, top_down)), rgb


def plain32(width, height, seed):
    rgb = [[colour(x, y, seed) for x in range(width)] for y in range(height)]
    rows = [b''.join(bytes((b, g, r, (x * 91) % 256)) for x, (r, g, b) in enumerate(row)) for row in rgb]
    return bmp_file(info_header(40, width, height, 32), b'', rows_in_file_order(rows, False)), rgb


def masked(width, height, bits, masks, seed, header_size, compression=3):
    """Pixels built from per-channel values of each mask's width; the expected colour widens them."""
    out_rows, rgb = [], []
    for y in range(height):
        row, line = bytearray(), []
        for x in range(width):
            pixel, c8 = 0, []
            for c, mask in enumerate(masks):
                shift = (mask & -mask).bit_length() - 1
                n = bin(mask).count('1')
                v = colour(x, y, seed)[c] * ((1 << n) - 1) // 255
                pixel |= v << shift
                c8.append(widen(v, n))
            row += pixel.to_bytes(bits // 8, 'little')
            line.append(tuple(c8))
        out_rows.append(bytes(row))
        rgb.append(line)
    after = b''
    if header_size == 40:
        after = struct.pack('<III', *masks)
        header = info_header(40, width, height, bits, compression)
    else:
        header = info_header(header_size, width, height, bits, compression, masks=masks)
    return bmp_file(header, after, rows_in_file_order(out_rows, False)), rgb


def plain555(width, height, seed):
    return masked(width, height, 16, (0x7C00, 0x03E0, 0x001F), seed, 40, compression=0)


def run_length(width, height, bits, ops, top_down=False):
    """ops: ('run', n, value) | ('lit', [indices]) | ('eol',) | ('delta', dx, dy) | ('eob',).
    Pixels past a row's end are dropped; pixels never set stay index 0."""
    pal = palette16()
    idx = [[0] * width for _ in range(height)]
    x = row = 0
    stream = bytearray()

    def put(i, v):
        if row < height and x + i < width:
            y = row if top_down else height - 1 - row
            idx[y][x + i] = v

    for op in ops:
        if op[0] == 'run':
            n, v = op[1], op[2]
            stream += bytes((n, v))
            for i in range(n):
                put(i, v if bits == 8 else (v >> 4 if i % 2 == 0 else v & 15))
            x += n
        elif op[0] == 'lit':
            vals = op[1]
            assert len(vals) >= 3, 'one or two literal pixels would read as end of bitmap or delta'
            data = bytes(vals) if bits == 8 else pack_indices(vals, 4)
            stream += bytes((0, len(vals))) + data + bytes(len(data) % 2)
            for i, v in enumerate(vals):
                put(i, v)
            x += len(vals)
        elif op[0] == 'eol':
            stream += bytes((0, 0))
            x, row = 0, row + 1
        elif op[0] == 'delta':
            stream += bytes((0, 2, op[1], op[2]))
            x, row = x + op[1], row + op[2]
        elif op[0] == 'eob':
            stream += bytes((0, 1))
    header = info_header(40, width, -height if top_down else height, bits, 1 if bits == 8 else 2, 16)
    return bmp_file(header, quads(pal), bytes(stream)), [[pal[i] for i in r] for r in idx]


def core8(width, height, seed):
    pal = [((i * 7) % 256, (i * 13 + 1) % 256, (255 - i) % 256) for i in range(256)]
    idx = [[(x * 31 + y * 17 + seed) % 256 for x in range(width)] for y in range(height)]
    header = struct.pack('<IHHHH', 12, width, height, 1, 8)
    table = b''.join(bytes((b, g, r)) for r, g, b in pal)
    return bmp_file(header, table, rows_in_file_order([bytes(r) for r in idx], False)), [[pal[i] for i in r] for r in idx]


RLE4_OPS = [('run', 5, 0x3A), ('lit', [1, 2, 3]), ('run', 9, 0x77), ('eol',),  # second run passes the end
            ('lit', [15, 14, 13, 12, 11]), ('delta', 3, 1), ('run', 2, 0x45), ('eol',),
            ('run', 13, 0xC4), ('eol',), ('delta', 4, 2), ('run', 1, 0x90), ('eob',)]
RLE8_OPS = [('run', 4, 7), ('lit', [1, 2, 3]), ('eol',), ('delta', 2, 1), ('lit', [4, 5, 6, 7, 8]),
            ('run', 30, 9), ('eol',), ('run', 11, 12), ('eol',), ('lit', [13, 14, 15]), ('eob',)]

KINDS = {
    'rle4-13x7': lambda: run_length(13, 7, 4, RLE4_OPS),
    'rle8-delta-11x6': lambda: run_length(11, 6, 8, RLE8_OPS),
    'rle8-topdown-11x6': lambda: run_length(11, 6, 8, RLE8_OPS, top_down=True),
    'topdown-mono-13x3': lambda: indexed(13, 3, 1, True, 1),
    'topdown-pal4-7x3': lambda: indexed(7, 3, 4, True, 2),
    'topdown-pal8-7x3': lambda: indexed(7, 3, 8, True, 3),
    'topdown-rgb24-7x3': lambda: truecolour(7, 3, True, 4),
    'v4header-rgb24-7x3': lambda: truecolour(7, 3, False, 5, header_size=108),
    'rgb32-7x3': lambda: plain32(7, 3, 6),
    'rgb555-7x3': lambda: plain555(7, 3, 7),
    'rgb565-info40-7x3': lambda: masked(7, 3, 16, (0xF800, 0x07E0, 0x001F), 8, 40),
    'rgb444-v5header-5x3': lambda: masked(5, 3, 16, (0x0F00, 0x00F0, 0x000F), 9, 124),
    'bgr101010-v3header-5x3': lambda: masked(5, 3, 32, (0x000003FF, 0x000FFC00, 0x3FF00000), 10, 56),
    'core-pal8-5x3': lambda: core8(5, 3, 11),
}

if __name__ == '__main__':
    for name in sys.argv[1:] or KINDS:
        data, rgb = KINDS[name]()
        with open(name + '.bmp', 'wb') as f:
            f.write(data)
        with open(name + '.ppm', 'wb') as f:
            f.write(ppm(len(rgb[0]), len(rgb), rgb))
