"""Forged frames as fast as one process sends them, for SECONDS: in turn a
gratuitous ARP and a DHCP REQUEST naming a host, each from a MAC never used
before, claiming an address of 10.213.1.128/25. Run in a lab host's namespace;
prints the number sent.

    python3 bench/frame_flood.py SECONDS
"""
import socket
import struct
import sys
import time

sys.path.insert(0, "tests/tools")
from dozing_phone import dhcp_request  # noqa: E402


def main():
    link = socket.socket(socket.AF_PACKET, socket.SOCK_RAW)
    link.bind(("eth0", 0))
    end = time.monotonic() + float(sys.argv[1])
    sent = 0
    while time.monotonic() < end:
        for _ in range(1000):
            mac = b"\x02\xf1" + struct.pack("!I", sent)
            address = struct.pack("!I", 0x0AD50180 + sent % 128)
            if sent % 2:
                link.send(dhcp_request(mac, address, f"flood{sent}"))
            else:
                link.send(b"\xff" * 6 + mac + b"\x08\x06" + bytes.fromhex("0001080006040001") +
                          mac + address + bytes(6) + address + bytes(18))
            sent += 1
    print(sent)


if __name__ == "__main__":
    main()
