#!/usr/bin/env python3
"""Checks the manifest that Windows reads from the launcher (resource type 24, id 1): it must
be well-formed and ask for no elevation, per-monitor DPI awareness, common controls 6 and
Windows 7 to 11.   Usage: check-manifest.py EXE"""
import struct
import sys
import xml.etree.ElementTree as ET

RT_MANIFEST, PROCESS_MANIFEST_ID = 24, 1


def manifest_bytes(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    directories = pe + 24 + (96 if magic == 0x10B else 112)
    resources_rva = struct.unpack_from("<I", data, directories + 8 * 2)[0]
    for i in range(sections):
        _, _, va, raw_size, raw = struct.unpack_from("<8sIIII", data, pe + 24 + optional_size + 40 * i)
        if va <= resources_rva < va + raw_size:
            break
    else:
        sys.exit("FAIL: no resource section")

    def entry(directory, wanted=None):  # the entry named wanted, or the first one
        named, ids = struct.unpack_from("<HH", data, raw + directory + 12)
        for k in range(named + ids):
            name, target = struct.unpack_from("<II", data, raw + directory + 16 + 8 * k)
            if wanted is None or name == wanted:
                return target & 0x7FFFFFFF
        sys.exit(f"FAIL: no resource {wanted}")

    first_language = entry(entry(entry(0, RT_MANIFEST), PROCESS_MANIFEST_ID))
    rva, size = struct.unpack_from("<II", data, raw + first_language)
    return data[raw + rva - va:raw + rva - va + size]


ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
      "c": "urn:schemas-microsoft-com:compatibility.v1",
      "ws05": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
      "ws16": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
root = ET.fromstring(manifest_bytes(open(sys.argv[1], "rb").read()))
failed = False


def expect(path, attribute, value):
    global failed
    found = [e.get(attribute) if attribute else e.text for e in root.findall(path, ns)]
    if value not in found:
        print(f"FAIL: manifest: {path} {attribute or 'text'} is {found}, expected {value}")
        failed = True


expect(".//v3:requestedExecutionLevel", "level", "asInvoker")
expect(".//v3:windowsSettings/ws16:dpiAwareness", None, "PerMonitorV2, PerMonitor")
expect(".//v3:windowsSettings/ws05:dpiAware", None, "true/pm")
expect("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", "name",
       "Microsoft.Windows.Common-Controls")
expect("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", "version", "6.0.0.0")
for windows in ("35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"):
    expect("c:compatibility/c:application/c:supportedOS", "Id", "{" + windows + "}")
# One executable's manifest must not name another architecture than its own.
for identity in root.iter("{%s}assemblyIdentity" % ns["v1"]):
    if identity.get("processorArchitecture", "*") != "*":
        print(f"FAIL: manifest: {identity.get('name')} names one processor architecture")
        failed = True
sys.exit(1 if failed else 0)
