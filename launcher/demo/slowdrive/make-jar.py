#!/usr/bin/env python3
"""Writes a sample application jar for the slow drive to serve, unless it is there already.

Usage: make-jar.py small|large|zip64 OUT. small: a few hundred compressed classes; large:
16 MB and more of incompressible stored data, which takes seconds over a slow drive; zip64:
more entries than a plain zip's end record can count. Prints the offset of a byte in the
middle of the largest compressed entry's data, where a changed byte must show as damage.
"""
import os
import random
import sys
import zipfile

kind, out = sys.argv[1], sys.argv[2]
if not os.path.exists(out):
    rng = random.Random(kind)
    part = f"{out}.{os.getpid()}.part"
    with zipfile.ZipFile(part, "w", zipfile.ZIP_DEFLATED) as jar:
        jar.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMain-Class: tarvio.Main\r\n\r\n")
        for n in range({"small": 300, "large": 20, "zip64": 70000}[kind]):
            text = f"{n}"
            if n % 50 == 0 or kind == "small":
                text = " ".join(rng.choice(["port", "tag", "read", "serial", "frame"]) for _ in range(600))
            jar.writestr(f"tarvio/C{n:05}.class", text)
        if kind == "large":
            for n in range(17):
                jar.writestr(f"tarvio/data/{n:02}.bin", rng.randbytes(1 << 20), zipfile.ZIP_STORED)
    os.replace(part, out)
with zipfile.ZipFile(out) as jar:
    entry = max((e for e in jar.infolist() if e.compress_type == zipfile.ZIP_DEFLATED), key=lambda e: e.compress_size)
    with open(out, "rb") as f:
        f.seek(entry.header_offset + 26)
        name_length, extra_length = int.from_bytes(f.read(2), "little"), int.from_bytes(f.read(2), "little")
    print(entry.header_offset + 30 + name_length + extra_length + entry.compress_size // 2)
