#!/usr/bin/env python3
"""Usage: make_jar.py OUT MEGABYTES [--deflated-only]: writes a jar of about that size, shaped like
an application's: mostly small deflated class files (a constant pool of repeated names and some
noise), a few stored ones (images, nested jars) that would not deflate, unless --deflated-only
leaves them out. The same arguments give the same jar."""
import random
import sys
import zipfile

out, megabytes = sys.argv[1], int(sys.argv[2])
stored = "--deflated-only" not in sys.argv[3:]
rng = random.Random(7)
pool = [("L" + "/".join(rng.choice(["com", "tarvio", "serial", "ui", "util", "io", "java", "lang"])
                        for _ in range(rng.randint(2, 5))) + ";" + rng.choice(["run", "get", "set", "<init>"]))
        .encode() for _ in range(3000)]
target = megabytes << 20
with zipfile.ZipFile(out + ".tmp", "w", zipfile.ZIP_DEFLATED) as jar:
    jar.writestr(zipfile.ZipInfo("META-INF/MANIFEST.MF"), "Manifest-Version: 1.0\r\nMain-Class: Main\r\n")
    written = count = 0
    while written < target:
        count += 1
        if stored and count % 200 == 0:
            data = rng.randbytes(rng.randint(64 << 10, 1 << 20))
            jar.writestr(f"res/image{count}.png", data, zipfile.ZIP_STORED)
            written += len(data)
            continue
        parts = rng.choices(pool, k=rng.randint(20, 700))
        data = b"\xca\xfe\xba\xbe" + b"".join(p + rng.randbytes(rng.randint(0, 6)) for p in parts)
        info = zipfile.ZipInfo(f"com/tarvio/p{count % 97}/C{count}.class")
        info.compress_type = zipfile.ZIP_DEFLATED
        jar.writestr(info, data)
        written += jar.getinfo(info.filename).compress_size
import os
os.replace(out + ".tmp", out)
