#!/usr/bin/env python3
"""Writes the photo-like PPM/PGM sources of the test corpus.

Integer arithmetic only, so every Python on every machine writes the same bytes.
The picture: a sky gradient, a soft-edged sun, textured hills under a wavy horizon,
a red house with a striped (high-frequency) window, and patches of fully saturated
colour that push the decoder's colour conversion into its clamps.

Usage: make_sources.py OUTPUT_DIR
"""

import os
import sys

SIZES = [(256, 192), (97, 61), (17, 9), (1, 1)]


def noise(x, y, seed):
    """Deterministic hash of a lattice point, 0..255."""
    h = (x * 374761393 + y * 668265263 + seed * 2147483647) & 0xFFFFFFFF
    h = ((h ^ (h >> 13)) * 1274126177) & 0xFFFFFFFF
    return (h ^ (h >> 16)) & 0xFF


def smooth_noise(x, y, cell, seed):
    """Bilinear value noise over a lattice of `cell` pixels, 0..255."""
    gx, gy = x // cell, y // cell
    fx, fy = x % cell, y % cell
    a = noise(gx, gy, seed)
    b = noise(gx + 1, gy, seed)
    c = noise(gx, gy + 1, seed)
    d = noise(gx + 1, gy + 1, seed)
    top = a * (cell - fx) + b * fx
    bottom = c * (cell - fx) + d * fx
    return (top * (cell - fy) + bottom * fy) // (cell * cell)


def clamp(v):
    return 0 if v < 0 else 255 if v > 255 else v


def horizon(u):
    """Height of the hills at horizontal position u (0..1023), in the same units."""
    tri = abs((u * 3) % 512 - 256)  # 0..256 triangle wave
    return 560 + tri // 3 - 40


def pixel(x, y, w, h):
    u = x * 1024 // w
    v = y * 1024 // h
    # Sky.
    r, g, b = 70 + v // 7, 130 + v // 9, 235 - v // 25
    # Sun with a soft rim.
    # Distances in pixels x 1024, so the disc is round whatever the aspect ratio.
    du, dv = (u - 760) * w, (v - 230) * h
    dist2 = du * du + dv * dv
    inner, outer = (110 * w) ** 2, (140 * w) ** 2
    if dist2 < inner:
        r, g, b = 255, 244, 190
    elif dist2 < outer:
        t = (outer - dist2) * 256 // (outer - inner)
        r = (255 * t + r * (256 - t)) >> 8
        g = (244 * t + g * (256 - t)) >> 8
        b = (190 * t + b * (256 - t)) >> 8
    # Hills: green and brown texture under the horizon.
    if v > horizon(u):
        coarse = smooth_noise(x, y, 9, 1)
        fine = noise(x, y, 2)
        depth = v - horizon(u)
        r = 60 + coarse // 3 + fine // 10 + depth // 20
        g = 95 + coarse // 2 - fine // 12 - depth // 30
        b = 30 + coarse // 8 + fine // 16
    # House: saturated red wall, dark roof, striped window.
    if 180 <= u < 420 and 620 <= v < 900:
        r, g, b = 205, 25, 20
        if 240 <= u < 340 and 680 <= v < 800:
            stripe = ((x + y) // 2) % 2
            r, g, b = (250, 250, 240) if stripe else (20, 30, 60)
    if 160 <= u < 440 and 540 <= v < 620 and (v - 540) * 2 >= abs(u - 300) - 60:
        r, g, b = 45, 35, 40
    # Saturated patches: pure primaries and white/black, each a small square.
    for k, colour in enumerate(((255, 0, 0), (0, 255, 0), (0, 0, 255), (0, 0, 0), (255, 255, 255))):
        left = 560 + k * 90
        if left <= u < left + 70 and 900 <= v < 990:
            r, g, b = colour
    return clamp(r), clamp(g), clamp(b)


def write_ppm(path, w, h):
    rows = bytearray()
    for y in range(h):
        for x in range(w):
            rows += bytes(pixel(x, y, w, h))
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h) + bytes(rows))


def write_pgm(path, w, h):
    """Grey version: integer BT.601 luma of the colour picture."""
    out = bytearray()
    for y in range(h):
        for x in range(w):
            r, g, b = pixel(x, y, w, h)
            out.append((77 * r + 150 * g + 29 * b + 128) >> 8)
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (w, h) + bytes(out))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out, exist_ok=True)
    for w, h in SIZES:
        write_ppm(os.path.join(out, "photo_%dx%d.ppm" % (w, h)), w, h)
    write_pgm(os.path.join(out, "photo_97x61.pgm"), 97, 61)


if __name__ == "__main__":
    main()
