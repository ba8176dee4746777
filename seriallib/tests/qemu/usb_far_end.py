#!/usr/bin/python3
"""usb_far_end.py <run folder>: the host side of the guest's USB serial adapter (QEMU's FT232 on
the chardev u0.sock). It stays connected to the chardev, so that the adapter stays plugged in,
and is the adapter's far end: it echoes, or, as a sink, counts the bytes and checks that they
follow the pattern byte i = i % 251. It answers the guest's request lines on ttyS3 (ctl.sock),
plugging and unplugging the adapter through QMP (qmp.sock) and reading what the emulated chip
was told from QEMU's trace (usb-trace)."""
import json
import re
import select
import socket
import sys
import time

run = sys.argv[1]


def connect(name):
    # QEMU makes the sockets as it starts, which it does alongside this script.
    for _ in range(1200):
        s = socket.socket(socket.AF_UNIX)
        try:
            s.connect(f"{run}/{name}.sock")
            return s
        except OSError:
            s.close()
            time.sleep(0.05)
    sys.exit(f"usb_far_end: no {name}.sock")


usb, qmp, ctl = connect("u0"), connect("qmp"), connect("ctl")
pending = {qmp: b"", ctl: b""}
mode, count, bad = "echo", 0, 0
awaited = None  # ("return" or an event name, the answer's word, when it was asked)
chip = {"baud": "-", "data": "-", "dtr": "-", "rts": "-"}
trace = None
qmp.sendall(b'{"execute": "qmp_capabilities"}\n')


def answer(text):
    ctl.sendall(text.encode() + b"\n")


def far_end(data):
    global count, bad
    if mode == "echo":
        usb.sendall(data)
        return
    bad += sum(b != (count + i) % 251 for i, b in enumerate(data))
    count += len(data)


def read_chip():
    global trace
    trace = trace or open(f"{run}/usb-trace", encoding="ascii", errors="replace")
    for line in trace:
        if m := re.search(r"baud rate (\d+)", line):
            chip["baud"] = m[1]
        elif m := re.search(r"parity (\S), data bits (\d+), stop bits (\d+)", line):
            chip["data"] = m[2] + m[1] + m[3]
        elif "unsupported parity" in line or "unsupported stop" in line:
            chip["data"] = "refused"
        elif m := re.search(r"got control 0x4001, value 0x([0-9a-f]+)", line):
            value = int(m[1], 16)
            for line_name, bit in ("dtr", 1), ("rts", 2):
                if value & bit << 8:
                    chip[line_name] = str(int(value & bit != 0))


def request(line):
    global mode, count, bad, awaited
    now = time.monotonic()
    if line == "unplug":
        qmp.sendall(b'{"execute": "device_del", "arguments": {"id": "ser0"}}\n')
        awaited = ("DEVICE_DELETED", "unplugged", now)
    elif line == "plug":
        qmp.sendall(json.dumps({"execute": "device_add", "arguments": {
            "driver": "usb-serial", "chardev": "u0", "id": "ser0", "bus": "uhci.0"}}).encode() + b"\n")
        awaited = ("return", "plugged", now)
    elif line in ("echo", "sink"):
        mode, count, bad = line, 0, 0
        answer("ok")
    elif line == "count":
        usb.setblocking(False)
        try:
            while data := usb.recv(65536):
                far_end(data)
        except BlockingIOError:
            pass
        usb.setblocking(True)
        answer(f"count {count} {bad}")
    elif line == "chip":
        read_chip()
        answer("chip " + " ".join(chip[k] for k in ("baud", "data", "dtr", "rts")))
    else:
        answer("unknown request " + line)


def qmp_message(message):
    global awaited
    if "error" in message and awaited:
        answer("error " + message["error"]["desc"])
        awaited = None
    elif awaited and (awaited[0] == "return" and "return" in message or message.get("event") == awaited[0]):
        answer(f"{awaited[1]} {(time.monotonic() - awaited[2]) * 1000:.0f}")
        awaited = None


while True:
    for s in select.select([usb, qmp, ctl], [], [])[0]:
        data = s.recv(65536)
        if not data:
            sys.exit(0)  # QEMU has ended
        if s is usb:
            far_end(data)
            continue
        pending[s] += data
        *lines, pending[s] = pending[s].split(b"\n")
        for line in lines:
            if s is ctl:
                request(line.decode().strip())
            elif line.strip():
                qmp_message(json.loads(line))
