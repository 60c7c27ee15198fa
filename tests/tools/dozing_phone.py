#!/usr/bin/python3
"""A phone on Wi-Fi that dozes: it misses most sweeps, yet speaks of its own accord.

    dozing_phone.py ADDRESS NAME [--odds P] [--awake-first SECONDS]
                    [--dhcp-every SECONDS] [--mdns-every SECONDS]
                    [--leave-after SECONDS] [--udhcpc PATH]

Runs in a lab host's namespace (lab.sh phones and lab.sh visitor start it
there, never in the machine's own), whose kernel answers neither ARP nor
echo requests (arp_ignore 8, icmp_echo_ignore_all 1): this answers them for
ADDRESS, each request with odds P (0.2: one try in five), every one for the
first SECONDS. Between, as a phone's radio wakes, a DHCP REQUEST naming it
NAME (option 12) about every --dhcp-every seconds (180; 0 for none), and an
unsolicited mDNS response with NAME.local's A record about every
--mdns-every seconds (600; 0 for none), each period drawn between half and
one and a half times that. With --udhcpc, the DHCP messages are a real
client's (udhcpc -q against the lab's dnsmasq), otherwise its own REQUEST
frames. Prints "ready" once listening, and "dhcp TIME" (seconds since the
epoch) as each DHCP exchange begins; ends after --leave-after seconds, or
when ended.
"""

import argparse
import random
import select
import signal
import socket
import struct
import subprocess
import sys
import time

ETH_P_ALL = 0x0003
ARP, IPV4 = 0x0806, 0x0800
BROADCAST = b"\xff" * 6
MDNS_GROUP = "224.0.0.251"


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack(f"!{len(data) // 2}H", data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def ipv4_header(source, destination, protocol, payload_length):
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + payload_length, 0, 0, 64, protocol, 0,
                         source, destination)
    return header[:10] + struct.pack("!H", checksum(header)) + header[12:]


def arp_reply(frame, mac, address):
    """The reply to an ARP request for `address`, or None."""
    if len(frame) < 42 or struct.unpack("!H", frame[12:14])[0] != ARP:
        return None
    operation = struct.unpack("!H", frame[20:22])[0]
    asker_mac, asker, target = frame[22:28], frame[28:32], frame[38:42]
    if operation != 1 or target != address:
        return None
    return (asker_mac + mac + struct.pack("!H", ARP) + bytes.fromhex("0001080006040002") + mac +
            address + asker_mac + asker)


def echo_reply(frame, mac, address):
    """The reply to an ICMP echo request to `address`, or None."""
    if len(frame) < 42 or struct.unpack("!H", frame[12:14])[0] != IPV4:
        return None
    header_length = (frame[14] & 0x0F) * 4
    total = struct.unpack("!H", frame[16:18])[0]
    icmp = frame[14 + header_length:14 + total]
    if frame[23] != 1 or frame[30:34] != address or len(icmp) < 8 or icmp[0] != 8:
        return None
    body = b"\0\0\0\0" + icmp[4:]
    body = body[:2] + struct.pack("!H", checksum(body)) + body[4:]
    return (frame[6:12] + mac + struct.pack("!H", IPV4) +
            ipv4_header(address, frame[26:30], 1, len(body)) + body)


def dhcp_request(mac, address, name):
    """An INIT-REBOOT DHCP REQUEST for `address`, broadcast, naming the phone."""
    options = (bytes([53, 1, 3, 50, 4]) + address + bytes([61, 7, 1]) + mac +
               bytes([12, len(name)]) + name.encode() + bytes([55, 4, 1, 3, 6, 15, 255]))
    message = (struct.pack("!BBBBIHH", 1, 1, 6, 0, random.getrandbits(32), 0, 0x8000) +
               bytes(16) + mac + bytes(10 + 64 + 128) + bytes.fromhex("63825363") + options)
    udp = struct.pack("!HHHH", 68, 67, 8 + len(message), 0) + message
    return (BROADCAST + mac + struct.pack("!H", IPV4) +
            ipv4_header(bytes(4), b"\xff" * 4, 17, len(udp)) + udp)


def mdns_announcement(name, address):
    """An unsolicited mDNS response: NAME.local's A record, cache-flush set."""
    owner = b"".join(bytes([len(label)]) + label.encode() for label in (name, "local")) + b"\0"
    return (struct.pack("!HHHHHH", 0, 0x8400, 0, 1, 0, 0) + owner +
            struct.pack("!HHIH", 1, 0x8001, 120, 4) + address)


class Phone:
    def __init__(self, arguments):
        self.args = arguments
        self.address = socket.inet_aton(arguments.address)
        self.link = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
        self.link.bind(("eth0", 0))
        self.mac = self.link.getsockname()[4]
        self.mdns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.mdns.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.mdns.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 255)
        self.mdns.bind((arguments.address, 5353))
        self.started = time.monotonic()
        self.next_dhcp = self.started + self.period(arguments.dhcp_every, first=True)
        self.next_mdns = self.started + self.period(arguments.mdns_every, first=True)

    @staticmethod
    def period(every, first=False):
        if every <= 0:
            return float("inf")
        # The first within a short while of joining, as a phone does.
        return random.uniform(0, 2) if first else random.uniform(every / 2, every * 3 / 2)

    def awake(self):
        return (time.monotonic() - self.started < self.args.awake_first or
                random.random() < self.args.odds)

    def answer(self, frame):
        reply = arp_reply(frame, self.mac, self.address) or echo_reply(frame, self.mac,
                                                                       self.address)
        if reply is not None and self.awake():
            self.link.send(reply + bytes(max(0, 60 - len(reply))))

    def speak(self, now):
        if now >= self.next_dhcp:
            self.next_dhcp = now + self.period(self.args.dhcp_every)
            print(f"dhcp {time.time():.3f}", flush=True)
            if self.args.udhcpc:
                subprocess.run([self.args.udhcpc, "-q", "-n", "-f", "-t", "3", "-T", "1", "-i",
                                "eth0", "-r", self.args.address, "-x",
                                f"hostname:{self.args.name}", "-s", "/bin/true"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
            else:
                self.link.send(dhcp_request(self.mac, self.address, self.args.name))
        if now >= self.next_mdns:
            self.next_mdns = now + self.period(self.args.mdns_every)
            self.mdns.sendto(mdns_announcement(self.args.name, self.address), (MDNS_GROUP, 5353))

    def run(self):
        print("ready", flush=True)
        leave = self.started + (self.args.leave_after or float("inf"))
        while (now := time.monotonic()) < leave:
            self.speak(now)
            wait = min(self.next_dhcp, self.next_mdns, leave) - now
            readable, _, _ = select.select([self.link], [], [], max(0.0, min(wait, 1.0)))
            if readable:
                frame, meta = self.link.recvfrom(2048)
                if meta[2] != socket.PACKET_OUTGOING:
                    self.answer(frame)


def main():
    parser = argparse.ArgumentParser(description="A dozing phone for the lab.")
    parser.add_argument("address")
    parser.add_argument("name")
    parser.add_argument("--odds", type=float, default=0.2)
    parser.add_argument("--awake-first", type=float, default=0)
    parser.add_argument("--dhcp-every", type=float, default=180)
    parser.add_argument("--mdns-every", type=float, default=600)
    parser.add_argument("--leave-after", type=float, default=0)
    parser.add_argument("--udhcpc", default="")
    arguments = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    Phone(arguments).run()


if __name__ == "__main__":
    main()
