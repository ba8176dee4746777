#!/usr/bin/python3
"""usb_far_end.py <run folder>: the far end of the guest's USB adapter (QEMU's FT232 on u0.sock),
which stays connected so that the adapter stays plugged in. It echoes, or counts the bytes and
checks each against the test's stream (expected). It answers request lines from ttyS3 (ctl.sock): unplug and plug
(QMP's device_del and device_add on qmp.sock), echo, sink, and count."""
import json
import select
import socket
import sys
import time


def connect(name):
    for _ in range(1200):  # QEMU makes the sockets as it starts, alongside this script
        s = socket.socket(socket.AF_UNIX)
        try:
            s.connect(f"{sys.argv[1]}/{name}.sock")
            return s
        except OSError:
            s.close()
            time.sleep(0.05)
    sys.exit(f"usb_far_end: no {name}.sock")


usb, qmp, ctl = connect("u0"), connect("qmp"), connect("ctl")
pending = {qmp: b"", ctl: b""}
mode, count, bad, awaited = "echo", 0, 0, None
ADD = {"driver": "usb-serial", "chardev": "u0", "id": "ser0", "bus": "uhci.0"}
qmp.sendall(b'{"execute": "qmp_capabilities"}\n')


def expected(i):
    """Byte i of UsbTest's stream (streamByte): no period, so a gap or a repeat of any length shows."""
    x = (i + 1) * 0x9E3779B97F4A7C15 & 0xFFFFFFFFFFFFFFFF
    return (x >> 56 ^ x >> 29) & 0xFF


def far_end(data):
    global count, bad
    if mode == "echo":
        return usb.sendall(data)
    bad += sum(b != expected(count + i) for i, b in enumerate(data))
    count += len(data)


def request(line):
    global mode, count, bad, awaited
    if line in ("unplug", "plug"):
        command = {"execute": "device_del", "arguments": {"id": "ser0"}} if line == "unplug" else \
            {"execute": "device_add", "arguments": ADD}
        qmp.sendall(json.dumps(command).encode() + b"\n")
        awaited = ("DEVICE_DELETED" if line == "unplug" else "return", line + "ged", time.monotonic())
        return None
    if line in ("echo", "sink"):
        mode, count, bad = line, 0, 0
        return "ok"
    if line != "count":
        return "unknown request " + line
    usb.setblocking(False)  # what QEMU wrote before the unplug is all in the socket by now
    try:
        while data := usb.recv(65536):
            far_end(data)
    except BlockingIOError:
        pass
    usb.setblocking(True)
    return f"count {count} {bad}"

while True:
    for s in select.select([usb, qmp, ctl], [], [])[0]:
        if not (data := s.recv(65536)):
            sys.exit(0)  # QEMU has ended
        if s is usb:
            far_end(data)
            continue
        pending[s] += data
        *lines, pending[s] = pending[s].split(b"\n")
        for line in lines:
            if s is ctl and (answer := request(line.decode().strip())):
                ctl.sendall(answer.encode() + b"\n")
            elif s is qmp and line.strip() and awaited:
                message = json.loads(line)
                if "error" in message or ("return" if "return" in message else message.get("event")) == awaited[0]:
                    answer = message["error"]["desc"] if "error" in message else \
                        f"{awaited[1]} {(time.monotonic() - awaited[2]) * 1000:.0f}"
                    ctl.sendall(answer.encode() + b"\n")
                    awaited = None
