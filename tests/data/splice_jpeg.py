#!/usr/bin/env python3
"""Byte-level edits of JPEG streams for the corpus: what cjpeg and jpegtran cannot write.

Usage: splice_jpeg.py COMMAND INPUT OUTPUT [ARGS]

  thumb-jfif SOURCE.ppm W H THUMB.ppm   JFIF APP0 carrying a W x H RGB thumbnail
  thumb-jfxx-rgb SOURCE.ppm W H THUMB.ppm  extra JFXX APP0, extension 0x13 (RGB)
  thumb-jfxx-pal SOURCE.ppm W H THUMB.ppm  extra JFXX APP0, extension 0x11 (palette)
  thumb-jfxx-jpeg                       extra JFXX APP0, extension 0x10 (JPEG-coded, ignored)
  garbage                               bytes (no 0xFF among them) before SOI
  truncate PERCENT                      keep the first PERCENT % of the bytes
  shuffle-rst                           renumber the RST markers out of sequence
  fill-bytes                            0xFF fill bytes before every marker after SOI
  adobe-transform T                     replace APP0 and APP14 by an Adobe APP14 with transform T
  strip-app0                            drop every APP0 segment
  tables-only                           SOI, the DQT and DHT segments, EOI
  abbreviated                           the stream without its DQT and DHT segments
  tables-then-image                     tables-only stream followed by the abbreviated stream

The thumbnail commands also write THUMB.ppm: the RGB pixels a thumbnail read must give.
"""

import struct
import sys

SOI, EOI, SOS, APP0, APP14, DQT, DHT = 0xD8, 0xD9, 0xDA, 0xE0, 0xEE, 0xDB, 0xC4


def segments(data):
    """Splits a stream into (marker, bytes) pieces: header segments, then the rest from SOS on."""
    assert data[:2] == b"\xff\xd8", "stream must start with SOI"
    pieces = [(SOI, data[:2])]
    pos = 2
    while pos < len(data):
        assert data[pos] == 0xFF, "expected a marker at %d" % pos
        marker = data[pos + 1]
        if marker == SOS:
            pieces.append((SOS, data[pos:]))
            break
        length = struct.unpack(">H", data[pos + 2 : pos + 4])[0]
        pieces.append((marker, data[pos : pos + 2 + length]))
        pos += 2 + length
    return pieces


def join(pieces):
    return b"".join(p for _, p in pieces)


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = data.split(maxsplit=4)
    assert fields[0] == b"P6" and fields[3] == b"255"
    w, h = int(fields[1]), int(fields[2])
    return w, h, fields[4][: w * h * 3]


def write_ppm(path, w, h, rgb):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h) + bytes(rgb))


def thumbnail(source, tw, th):
    """Nearest-neighbour reduction of the source picture: RGB bytes, row after row."""
    w, h, rgb = read_ppm(source)
    out = bytearray()
    for y in range(th):
        for x in range(tw):
            at = ((y * h // th) * w + x * w // tw) * 3
            out += rgb[at : at + 3]
    return out


def segment(marker, payload):
    return bytes([0xFF, marker]) + struct.pack(">H", len(payload) + 2) + payload


def jfif_app0(tw=0, th=0, rgb=b""):
    return segment(APP0, b"JFIF\0" + bytes([1, 2, 1]) + struct.pack(">HH", 72, 72) + bytes([tw, th]) + rgb)


def without(pieces, markers):
    return [p for p in pieces if p[0] not in markers]


def insert_after_soi(pieces, *new):
    return [pieces[0]] + [(0, n) for n in new] + pieces[1:]


def palette_thumbnail(rgb, tw, th):
    """A 6x6x6 colour cube plus a 40-step grey ramp; each pixel takes its nearest cube entry."""
    palette = bytearray()
    for r in range(6):
        for g in range(6):
            for b in range(6):
                palette += bytes([r * 51, g * 51, b * 51])
    for k in range(40):
        palette += bytes([k * 255 // 39] * 3)
    indices = bytearray()
    expected = bytearray()
    for i in range(tw * th):
        r, g, b = rgb[3 * i : 3 * i + 3]
        index = ((r + 25) // 51) * 36 + ((g + 25) // 51) * 6 + (b + 25) // 51
        indices.append(index)
        expected += palette[3 * index : 3 * index + 3]
    return bytes(palette), bytes(indices), expected


def main():
    command, src, dst = sys.argv[1], sys.argv[2], sys.argv[3]
    args = sys.argv[4:]
    with open(src, "rb") as f:
        data = f.read()
    if command == "truncate":
        out = data[: len(data) * int(args[0]) // 100]
    elif command == "garbage":
        out = b"Meshwick: these bytes come before SOI.\r\n\0\1\2" + data
    else:
        pieces = segments(data)
        if command.startswith("thumb-"):
            if command == "thumb-jfxx-jpeg":
                tiny = b"\xff\xd8\xff\xd9"  # content is never decoded
                out = join(insert_after_soi(without(pieces, [APP0]), jfif_app0(), segment(APP0, b"JFXX\0\x10" + tiny)))
            else:
                source, tw, th, thumb_path = args[0], int(args[1]), int(args[2]), args[3]
                rgb = thumbnail(source, tw, th)
                if command == "thumb-jfif":
                    app0 = [jfif_app0(tw, th, rgb)]
                    expected = rgb
                elif command == "thumb-jfxx-rgb":
                    app0 = [jfif_app0(), segment(APP0, b"JFXX\0\x13" + bytes([tw, th]) + rgb)]
                    expected = rgb
                else:
                    palette, indices, expected = palette_thumbnail(rgb, tw, th)
                    app0 = [jfif_app0(), segment(APP0, b"JFXX\0\x11" + bytes([tw, th]) + palette + indices)]
                out = join(insert_after_soi(without(pieces, [APP0]), *app0))
                write_ppm(thumb_path, tw, th, expected)
        elif command == "shuffle-rst":
            head, scan = join(pieces[:-1]), bytearray(pieces[-1][1])
            order = [3, 0, 6, 1, 7, 2, 5, 4]
            count = 0
            for i in range(len(scan) - 1):
                if scan[i] == 0xFF and 0xD0 <= scan[i + 1] <= 0xD7:
                    scan[i + 1] = 0xD0 + order[count % 8]
                    count += 1
            assert count > 0, "no RST markers"
            out = head + bytes(scan)
        elif command == "fill-bytes":
            padded = [pieces[0][1]] + [b"\xff\xff\xff" + p for _, p in pieces[1:-1]]
            scan = pieces[-1][1]
            body = bytearray()
            i = 0
            while i < len(scan):
                # RST and EOI inside the entropy-coded part get fill bytes too.
                if scan[i] == 0xFF and i + 1 < len(scan) and (0xD0 <= scan[i + 1] <= 0xD7 or scan[i + 1] == EOI):
                    body += b"\xff\xff"
                body.append(scan[i])
                i += 1
            out = b"".join(padded) + b"\xff\xff" + bytes(body)
        elif command == "adobe-transform":
            adobe = segment(APP14, b"Adobe" + struct.pack(">HHHB", 100, 0, 0, int(args[0])))
            out = join(insert_after_soi(without(pieces, [APP0, APP14]), adobe))
        elif command == "strip-app0":
            out = join(without(pieces, [APP0]))
        elif command in ("tables-only", "abbreviated", "tables-then-image"):
            tables = b"\xff\xd8" + b"".join(p for m, p in pieces if m in (DQT, DHT)) + b"\xff\xd9"
            image = join(without(pieces, [DQT, DHT]))
            assert DHT not in [m for m, _ in segments(image)], "scan-level tables are not handled"
            out = {"tables-only": tables, "abbreviated": image, "tables-then-image": tables + image}[command]
        else:
            sys.exit("unknown command " + command)
    with open(dst, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
