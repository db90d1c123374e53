#!/usr/bin/env python3
"""Writes the dialog's two pictures: process.gif (a looping activity
animation while a conversion runs: a row of dots with a bright pulse running
along it, the same number of dots lit in every frame, so that it cannot be
read as a bar that fills) and static.gif (the full bar, one frame). The
track between the dots and inside the bar is transparent, so that both are
drawn on the dialog's own background, light or dark. Standard library only;
run it from anywhere:

    python3 plugin/resources/make_gifs.py [output-folder]

The strip is 220 x 13 pixels, the size of picture control 3005 (147 x 8
dialog units) with the default UI font.
"""
import os
import struct
import sys

WIDTH, HEIGHT = 220, 13
BLOCKS = 10
DOTS = 10  # dots of the activity animation, one frame per dot
DOT_RADIUS = 3
DELAY_CS = 10  # hundredths of a second per frame

# Colour indices of the 4-entry global colour table; TRACK is transparent.
BORDER, TRACK, BLOCK, SHINE = 0, 1, 2, 3
PALETTE = [(0x80, 0x80, 0x80), (0xFF, 0xFF, 0xFF), (0x06, 0xB0, 0x25), (0x7C, 0xE0, 0x8C)]


def lzw_encode(pixels, min_code_size):
    """GIF LZW: variable-width codes packed least significant bit first."""
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    acc = 0
    nbits = 0

    def emit(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    def reset():
        return {bytes([i]): i for i in range(clear)}, clear + 2, min_code_size + 1

    table, next_code, width = reset()
    emit(clear, width)
    prefix = b""
    for p in pixels:
        candidate = prefix + bytes([p])
        if candidate in table:
            prefix = candidate
            continue
        emit(table[prefix], width)
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear, width)
            table, next_code, width = reset()
        prefix = bytes([p])
    if prefix:
        emit(table[prefix], width)
    emit(end, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def bar(filled_blocks):
    """One picture of the bar with the first filled_blocks blocks lit."""
    rows = []
    inner = WIDTH - 4
    block_w = inner // BLOCKS
    for y in range(HEIGHT):
        row = []
        for x in range(WIDTH):
            if x == 0 or y == 0 or x == WIDTH - 1 or y == HEIGHT - 1:
                row.append(BORDER)
                continue
            bx = x - 2
            if 2 <= y <= HEIGHT - 3 and 0 <= bx < block_w * BLOCKS:
                index, offset = divmod(bx, block_w)
                if index < filled_blocks and offset < block_w - 2:
                    row.append(SHINE if y <= 4 else BLOCK)
                    continue
            row.append(TRACK)
        rows.extend(row)
    return rows


def dots(lead):
    """One frame of the activity animation: the pulse's head on dot lead, the
    dot behind it half lit, the others dim."""
    rows = []
    spacing = WIDTH // DOTS
    centre_y = HEIGHT // 2
    for y in range(HEIGHT):
        for x in range(WIDTH):
            index, offset = divmod(x, spacing)
            dx = offset - spacing // 2
            dy = y - centre_y
            if index < DOTS and dx * dx + dy * dy <= DOT_RADIUS * DOT_RADIUS + 1:
                if index == lead:
                    rows.append(BLOCK)
                elif index == (lead - 1) % DOTS:
                    rows.append(SHINE)
                else:
                    rows.append(BORDER)
            else:
                rows.append(TRACK)
    return rows


def gif(frames, delay_cs):
    out = bytearray(b"GIF89a")
    table_bits = 1  # 2^(1+1) = 4 entries
    out += struct.pack("<HHBBB", WIDTH, HEIGHT, 0x80 | (table_bits << 4) | table_bits, TRACK, 0)
    for r, g, b in PALETTE:
        out += bytes([r, g, b])
    if len(frames) > 1:
        # Loop for ever (the control repeats in any case).
        out += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"
    for pixels in frames:
        # Graphic control extension: disposal 1 (keep), the frame's delay,
        # TRACK transparent.
        out += struct.pack("<BBBBHBB", 0x21, 0xF9, 4, (1 << 2) | 1, delay_cs, TRACK, 0)
        out += struct.pack("<BHHHHB", 0x2C, 0, 0, WIDTH, HEIGHT, 0)
        out.append(2)  # LZW minimum code size
        out += sub_blocks(lzw_encode(pixels, 2))
    out.append(0x3B)
    return bytes(out)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    process = gif([dots(n) for n in range(DOTS)], DELAY_CS)
    still = gif([bar(BLOCKS)], 0)
    for name, data in (("process.gif", process), ("static.gif", still)):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
