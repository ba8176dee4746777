#!/usr/bin/env python3
"""Usage: check-executable.py EXE VERSION: the built launcher (i686 or x86_64) of version VERSION (major.minor)
and the manifest Windows reads (type 24, id 1)."""
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET


data = open(sys.argv[1], "rb").read()
major, minor = (int(n) for n in sys.argv[2].split("."))
quad = f"{major}.{minor}.0.0"


def version_string(key, value):
    """A StringFileInfo entry: the key, padding to a 32-bit boundary, the value."""
    return re.search(re.escape(key.encode("utf-16-le")) + b"\0\0(?:\0\0)?" + re.escape((value + "\0").encode("utf-16-le")),
                     data)

# The COFF machine field says which build this is: i386 (PE32) or x86-64 (PE32+).
wide = data[int.from_bytes(data[0x3c:0x40], "little") + 4:][:2] == b"\x64\x86"
triplet, pe_format, magic = ("x86_64", "pei-x86-64", "020b") if wide else ("i686", "pei-i386", "010b")


def objdump(option):
    return subprocess.run([f"{triplet}-w64-mingw32-objdump", option, sys.argv[1]], capture_output=True, text=True).stdout


headers = objdump("-p")
failures = [what for what, ok in [
    (f"not a {pe_format} GUI program", f"file format {pe_format}" in headers
     and re.search(rf"^Magic\s+{magic}", headers, re.M) and re.search(r"^Subsystem\s+00000002", headers, re.M)),
    # 400 KB read the strict way (1000 bytes a KB), the signature included where there is one.
    (f"{len(data)} bytes, over 400 KB", len(data) < 400 * 1000),
    (f"version is not {quad} (file and product)",
     b"\xbd\x04\xef\xfe\x00\x00\x01\x00" + struct.pack("<HHI", minor, major, 0) * 2 in data),
    # The resource has always written the minor version in two digits: 4.1 is "4.01".
    (f"version strings are not {major}.{minor:02}", all(version_string(key, f"{major}.{minor:02}")
                                                       for key in ("FileVersion", "ProductVersion"))),
    # What the splash label shows when the resource cannot be read.
    (f"no designed caption 'v {major}.{minor}'", f"v {major}.{minor}\0".encode("utf-16-le") in data),
] if not ok]
failures += [f"imports {dll}" for dll in re.findall(r"DLL Name: (\S+)", headers) if dll.lower() not in
             "kernel32.dll user32.dll gdi32.dll msvcrt.dll advapi32.dll shell32.dll comctl32.dll crypt32.dll bcrypt.dll"
             .split()]

# The manifest Windows reads is the first language of resource type 24, id 1.
leaf = re.search(r"Entry: ID: 0x000018,.*\n.*\n.*Entry: ID: 0x000001,.*\n.*\n.*\n"
                 r".*Leaf: Addr: (\w+), Size: (\w+)", headers)
if not leaf:
    sys.exit("FAIL: no manifest resource")
vma, offset = (int(n, 16) for n in re.search(r" \.rsrc +\w+ +(\w+) +\w+ +(\w+)", objdump("-h")).groups())
base = int(re.search(r"^ImageBase\s+(\w+)", headers, re.M)[1], 16)
start = int(leaf[1], 16) + base - vma + offset
root = ET.fromstring(data[start:start + int(leaf[2], 16)])
ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
      "ws05": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
      "ws16": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
controls = "v1:dependency/v1:dependentAssembly/v1:assemblyIdentity"
wanted = [("v1:assemblyIdentity", "version", quad), (".//v3:requestedExecutionLevel", "level", "asInvoker"),
          (".//v3:windowsSettings/ws16:dpiAwareness", None, "PerMonitorV2, PerMonitor"),
          (".//v3:windowsSettings/ws05:dpiAware", None, "true/pm"),
          (controls, "name", "Microsoft.Windows.Common-Controls"), (controls, "version", "6.0.0.0")]
failures += [f"manifest: {path} {attribute or 'text'} is not {value}" for path, attribute, value in wanted
             if value not in [e.get(attribute) if attribute else e.text for e in root.findall(path, ns)]]
# One executable's manifest must not name another architecture than its own.
failures += [f"manifest: {e.get('name')} names one processor architecture"
             for e in root.iter("{%s}assemblyIdentity" % ns["v1"]) if e.get("processorArchitecture", "*") != "*"]
sys.exit("".join(f"FAIL: {failure}\n" for failure in failures) or None)
