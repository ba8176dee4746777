#!/usr/bin/env python3
"""Writes a sample application jar for the slow drive to serve, unless it is there already.

Usage: make-jar.py KIND OUT, KIND one of
  small        a few hundred compressed classes;
  large        16 MB and more of incompressible stored data, which takes seconds over a slow drive;
  many         20,001 classes in 10 MB, a central directory of 2.1 MB, as fat jars have;
  prefixed     the small jar with a start script in front of it, which java runs.
Prints the offset of a byte in the middle of the largest compressed entry's data, where a changed
byte must show as damage (0 where there is no such entry).
"""
import io
import os
import random
import sys
import zipfile

MANIFEST = "Manifest-Version: 1.0\r\nMain-Class: tarvio.Main\r\n\r\n"


def classes(kind, rng):
    jar = io.BytesIO()
    with zipfile.ZipFile(jar, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("META-INF/MANIFEST.MF", MANIFEST)
        for n in range(20001 if kind == "many" else 0):
            z.writestr(f"com/ostrel/tarvio/generated/part{n // 1000:03}/GeneratedType{n:05}.class",
                       rng.randbytes(300))
        for n in range({"small": 300, "large": 20, "many": 0}.get(kind, 300)):
            text = f"{n}"
            if n % 50 == 0 or kind != "large":
                text = " ".join(rng.choice(["port", "tag", "read", "serial", "frame"]) for _ in range(600))
            z.writestr(f"tarvio/C{n:05}.class", text)
        if kind == "large":
            for n in range(17):
                z.writestr(f"tarvio/data/{n:02}.bin", rng.randbytes(1 << 20), zipfile.ZIP_STORED)
    return jar.getvalue()


kind, out = sys.argv[1], sys.argv[2]
if not os.path.exists(out):
    rng = random.Random(kind)
    if kind == "prefixed":
        data = b'#!/bin/sh\nexec java -jar "$0" "$@"\n' + classes("small", rng)
    else:
        data = classes(kind, rng)
    part = f"{out}.{os.getpid()}.part"
    with open(part, "wb") as f:
        f.write(data)
    os.replace(part, out)
try:
    with zipfile.ZipFile(out) as jar:
        entry = max((e for e in jar.infolist() if e.compress_type == zipfile.ZIP_DEFLATED),
                    key=lambda e: e.compress_size)
        with open(out, "rb") as f:
            f.seek(entry.header_offset + 26)
            name_length, extra_length = int.from_bytes(f.read(2), "little"), int.from_bytes(f.read(2), "little")
        print(entry.header_offset + 30 + name_length + extra_length + entry.compress_size // 2)
except (zipfile.BadZipFile, ValueError):
    print(0)
