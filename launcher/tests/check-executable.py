#!/usr/bin/env python3
"""Usage: check-executable.py EXE: the built launcher and the manifest Windows reads (type 24, id 1)."""
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

data = open(sys.argv[1], "rb").read()
headers = subprocess.run(["i686-w64-mingw32-objdump", "-p", sys.argv[1]], capture_output=True, text=True).stdout
failures = [what for what, ok in [
    ("not a PE32 i386 GUI program", "file format pei-i386" in headers and re.search(r"^Magic\s+010b", headers, re.M)
     and re.search(r"^Subsystem\s+00000002", headers, re.M)),
    (f"{len(data)} bytes, over 300 KB", len(data) < 300 * 1024),
    ("version is not 4.1.0.0 (file and product)", b"\xbd\x04\xef\xfe\x00\x00\x01\x00" + b"\x01\x00\x04\x00\x00\x00\x00\x00" * 2 in data),
] if not ok]
failures += [f"imports {dll}" for dll in re.findall(r"DLL Name: (\S+)", headers) if dll.lower() not in
             "kernel32.dll user32.dll gdi32.dll msvcrt.dll advapi32.dll shell32.dll comctl32.dll".split()]

pe = struct.unpack_from("<I", data, 0x3C)[0]
sections, optional_size, magic = struct.unpack_from("<H12xH2xH", data, pe + 6)
resources = struct.unpack_from("<I", data, pe + 24 + (96 if magic == 0x10B else 112) + 16)[0]
for i in range(sections):
    va, raw_size, raw = struct.unpack_from("<4xIII", data, pe + 24 + optional_size + 40 * i + 8)
    if va <= resources < va + raw_size:
        break


def entry(directory, wanted=None):  # the entry of that id, or the first
    named, ids = struct.unpack_from("<HH", data, raw + directory + 12)
    for k in range(named + ids):
        name, target = struct.unpack_from("<II", data, raw + directory + 16 + 8 * k)
        if wanted in (None, name):
            return target & 0x7FFFFFFF
    sys.exit(f"FAIL: no manifest resource")


rva, size = struct.unpack_from("<II", data, raw + entry(entry(entry(0, 24), 1)))
root = ET.fromstring(data[raw + rva - va:raw + rva - va + size])
ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
      "ws05": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
      "ws16": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
controls = "v1:dependency/v1:dependentAssembly/v1:assemblyIdentity"
wanted = [(".//v3:requestedExecutionLevel", "level", "asInvoker"),
          (".//v3:windowsSettings/ws16:dpiAwareness", None, "PerMonitorV2, PerMonitor"),
          (".//v3:windowsSettings/ws05:dpiAware", None, "true/pm"),
          (controls, "name", "Microsoft.Windows.Common-Controls"), (controls, "version", "6.0.0.0")]
failures += [f"manifest: {path} {attribute or 'text'} is not {value}" for path, attribute, value in wanted
             if value not in [e.get(attribute) if attribute else e.text for e in root.findall(path, ns)]]
# One executable's manifest must not name another architecture than its own.
failures += [f"manifest: {e.get('name')} names one processor architecture"
             for e in root.iter("{%s}assemblyIdentity" % ns["v1"]) if e.get("processorArchitecture", "*") != "*"]
sys.exit("".join(f"FAIL: {failure}\n" for failure in failures) or None)
