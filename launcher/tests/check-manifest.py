#!/usr/bin/env python3
"""Checks the manifest Windows reads from the launcher (resource type 24, id 1): well-formed, no
elevation, per-monitor DPI awareness, common controls 6, Windows 7 to 11, no one processor
architecture.   Usage: check-manifest.py EXE"""
import struct
import sys
import xml.etree.ElementTree as ET

data = open(sys.argv[1], "rb").read()
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
    sys.exit(f"FAIL: no resource {wanted}")


rva, size = struct.unpack_from("<II", data, raw + entry(entry(entry(0, 24), 1)))
root = ET.fromstring(data[raw + rva - va:raw + rva - va + size])
ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
      "c": "urn:schemas-microsoft-com:compatibility.v1",
      "ws05": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
      "ws16": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
controls = "v1:dependency/v1:dependentAssembly/v1:assemblyIdentity"
wanted = [(".//v3:requestedExecutionLevel", "level", "asInvoker"),
          (".//v3:windowsSettings/ws16:dpiAwareness", None, "PerMonitorV2, PerMonitor"),
          (".//v3:windowsSettings/ws05:dpiAware", None, "true/pm"),
          (controls, "name", "Microsoft.Windows.Common-Controls"), (controls, "version", "6.0.0.0")]
wanted += [("c:compatibility/c:application/c:supportedOS", "Id", "{%s}" % id) for id in (
    "35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
    "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a")]
failures = [f"{path} {attribute or 'text'} is not {value}" for path, attribute, value in wanted
            if value not in [e.get(attribute) if attribute else e.text for e in root.findall(path, ns)]]
# One executable's manifest must not name another architecture than its own.
failures += [f"{e.get('name')} names one processor architecture" for e in root.iter("{%s}assemblyIdentity" % ns["v1"])
             if e.get("processorArchitecture", "*") != "*"]
for failure in failures:
    print("FAIL: manifest:", failure)
sys.exit(1 if failures else 0)
