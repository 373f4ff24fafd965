#!/usr/bin/env python3
"""Writes the sample driver's binary resource files, one per base-number mode.

Layout: a 32-byte header (16-bit directory count at 2, 32-bit flags at 4: value 4 keeps the
base number as 16 bits at element offset 52, value 2 at offset 18, neither as text at 20),
28-byte directory entries from offset 32 (identifier, element size at 8, element count at 12,
first element's offset at 16), then the elements (driver element ID at offset 0).
The fields of the other modes hold decoys, so that a reader using the wrong mode fails.
"""
import struct
import sys

# (driver element ID, base media number, base number as text)
MEDIA = [
    (99, 999, "999"),      # placeholder: never matches
    (12, 1, "1"),          # premium glossy
    (13, 2, "+2"),         # premium luster
    (14, 3, "0x3"),        # matte
    (21, 5, "5"),          # fine art
    (30, 260, "0x104"),    # a base number above one byte
]
ELEMENT_SIZE = 64
MODES = {"TQ770R52.BIN": 4, "TQ770R18.BIN": 2, "TQ770TXT.BIN": 0}


def build(flags):
    entries = [(1000, 16, 0, 0), (3000, ELEMENT_SIZE, len(MEDIA), 0)]
    first = 32 + 28 * len(entries) + 4
    header = bytearray(32)
    struct.pack_into("<HI", header, 2, len(entries), flags | 0x100)
    directory = bytearray()
    for ident, size, count, _ in entries:
        entry = bytearray(28)
        struct.pack_into("<iIIHxxI", entry, 0, ident, 0, size, count, first if ident == 3000 else 0)
        directory += entry
    elements = bytearray()
    for element_id, base, text in MEDIA:
        e = bytearray(ELEMENT_SIZE)
        struct.pack_into("<H", e, 0, element_id)
        decoy = 0x7777
        struct.pack_into("<H", e, 18, base if flags & 2 and not flags & 4 else decoy)
        struct.pack_into("<H", e, 52, base if flags & 4 else decoy)
        body = (text if flags & 6 == 0 else "30583").encode() + b"\0"
        e[20:20 + len(body)] = body
        elements += e
    return bytes(header + directory + b"\0" * 4 + elements)


if __name__ == "__main__":
    folder = sys.argv[1] if len(sys.argv) > 1 else "."
    for name, flags in MODES.items():
        with open(f"{folder}/{name}", "wb") as f:
            f.write(build(flags))
