"""Runs a sweep while listening on the lab bridge; writes when each kind of
packet was first and last seen (kernel timestamps) and when rows came, in
milliseconds from the sweep's start. Run in the scanner namespace as root.

    python3 bench/timeline.py OUT-FILE COMMAND...
"""
import socket
import struct
import subprocess
import sys
import threading
import time

SO_TIMESTAMPNS = 35
ETH_P_ALL = 0x0003
OUTGOING = 4

events = {}


def note(name, when):
    first, last, count = events.get(name, (when, when, 0))
    events[name] = (min(first, when), max(last, when), count + 1)


def kind(frame, outgoing):
    """What a frame on br0 is, from the sweep's point of view."""
    ether_type = struct.unpack("!H", frame[12:14])[0]
    if ether_type == 0x0806 and frame[21] == 1 and outgoing:
        return "ARP requests sent"
    if ether_type == 0x0806 and frame[21] == 2 and not outgoing:
        return "ARP replies received"
    if ether_type != 0x0800:
        return None
    header = (frame[14] & 0x0F) * 4
    protocol, payload = frame[23], frame[14 + header:]
    if protocol == 1 and payload[0] == 8 and outgoing:
        return "echo requests sent (workers)"
    if protocol == 1 and payload[0] == 0 and not outgoing:
        return "echo replies received"
    if protocol == 17 and outgoing:
        port = struct.unpack("!H", payload[2:4])[0]
        return {137: "NetBIOS questions sent", 5353: "mDNS questions sent"}.get(port)
    if protocol == 1 and payload[0] == 3 and not outgoing:
        return "port unreachable received"
    return None


def listen(capture, stop):
    while not stop.is_set():
        try:
            frame, ancillary, _, address = capture.recvmsg(2048, 64)
        except socket.timeout:
            continue
        stamp = next((struct.unpack("qq", data[:16]) for level, kind_, data in ancillary
                      if level == socket.SOL_SOCKET and kind_ == SO_TIMESTAMPNS), None)
        name = kind(frame, address[2] == OUTGOING)
        if name and stamp:
            note(name, stamp[0] + stamp[1] / 1e9)


def main():
    capture = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
    capture.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 24)
    capture.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    capture.bind(("br0", 0))
    capture.settimeout(0.2)
    stop = threading.Event()
    listener = threading.Thread(target=listen, args=(capture, stop))
    listener.start()
    start = time.time()
    sweep = subprocess.Popen(sys.argv[2:], stdout=subprocess.PIPE, text=True)
    for line in sweep.stdout:
        sys.stdout.write(line)
        note("rows written", time.time())
    sweep.wait()
    note("hostsweep ends", time.time())
    time.sleep(0.3)
    stop.set()
    listener.join()
    with open(sys.argv[1], "w") as out:
        out.write("timeline of one default sweep (ms from its start; packets on br0):\n")
        for name, (first, last, count) in sorted(events.items(), key=lambda e: e[1][0]):
            out.write(f"  {name}: {1000 * (first - start):.0f} to {1000 * (last - start):.0f}"
                      f" ({count})\n")


main()
