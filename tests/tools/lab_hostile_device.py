#!/usr/bin/python3
"""A lab device that lies about itself in every way a sweep must survive.

    lab_hostile_device.py ADDRESS

Runs in a lab host's namespace (lab.sh devices starts it there, never in the
machine's own). On ADDRESS:
  UDP 5353  answers every question, by unicast to its sender, with a burst
            of answers: one as large as UDP allows, one whose names point at
            themselves, one whose counts claim 65535 records of each kind,
            one cut short, and a PTR chain that names itself forever;
  UDP 1900  answers every M-SEARCH with three LOCATIONs on its own port
            8080, and one on another host;
  TCP 8080  /slow.xml sends a description one byte at a time, never ending;
            /bomb.xml is an entity bomb; /redirect sends the reader off the
            host; anything else gets a body far larger than any description.
Prints "ready" once every socket is open, then serves until ended.
"""

import socket
import struct
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SSDP_GROUP = "239.255.255.250"
HTTP_PORT = 8080
# Another lab host: where the redirect and the foreign LOCATION point.
ELSEWHERE = "10.213.0.10"


def header(query_id, questions, answers, authorities=0, additionals=0):
    return struct.pack("!HHHHHH", query_id, 0x8400, questions, answers, authorities, additionals)


def labels(name):
    out = b""
    for label in name.split("."):
        out += bytes([len(label)]) + label.encode()
    return out + b"\0"


def record(owner, rtype, data):
    return owner + struct.pack("!HHIH", rtype, 1, 120, len(data)) + data


PTR, TXT, SRV, A = 12, 16, 33, 1


def answers(query_id):
    services = labels("_services._dns-sd._udp.local")
    oversized_txt = b"".join(bytes([255]) + b"model=" + b"x" * 249 for _ in range(250))
    yield header(query_id, 0, 1) + record(services, TXT, oversized_txt)
    # A name that is a pointer to itself, at offset 12: decompressing never ends.
    yield header(query_id, 0, 1) + b"\xc0\x0c" + struct.pack("!HHIH", PTR, 1, 120, 2) + b"\xc0\x0c"
    yield header(query_id, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF) + record(services, PTR, labels("a.local"))
    yield header(query_id, 0, 3) + record(services, PTR, labels("_hostile._tcp.local"))[:-7]
    # _loop._tcp lists an instance that is the type itself: asking on loops.
    loop = labels("_loop._tcp.local")
    yield header(query_id, 0, 3) + record(services, PTR, loop) + record(loop, PTR, loop) + record(
        loop, SRV, struct.pack("!HHH", 0, 0, 80) + loop)


def serve_mdns(address):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind((address, 5353))
    while True:
        query, sender = sock.recvfrom(9000)
        if len(query) < 12:
            continue
        (query_id,) = struct.unpack("!H", query[:2])
        for answer in answers(query_id):
            try:
                sock.sendto(answer, sender)
            except OSError:
                pass


def serve_ssdp(address):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("", 1900))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                    socket.inet_aton(SSDP_GROUP) + socket.inet_aton(address))
    while True:
        request, sender = sock.recvfrom(9000)
        if not request.startswith(b"M-SEARCH"):
            continue
        for location in (f"http://{address}:{HTTP_PORT}/slow.xml",
                         f"http://{address}:{HTTP_PORT}/bomb.xml",
                         f"http://{address}:{HTTP_PORT}/redirect",
                         f"http://{ELSEWHERE}:{HTTP_PORT}/desc.xml"):
            sock.sendto((f"HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\n"
                         f"LOCATION: {location}\r\nSERVER: Lab/1.0 UPnP/1.1 Lab/1.0\r\n"
                         f"ST: upnp:rootdevice\r\nUSN: uuid:hostile::upnp:rootdevice\r\n\r\n")
                        .encode(), sender)


BOMB = ("<?xml version=\"1.0\"?>\n<!DOCTYPE root [\n<!ENTITY a0 \"lol\">\n" +
        "".join(f"<!ENTITY a{i} \"{('&a' + str(i - 1) + ';') * 10}\">\n" for i in range(1, 10)) +
        "]>\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device>"
        "<deviceType>&a9;</deviceType><modelName>&a9;</modelName></device></root>\n")


class Hostile(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *_):
        pass

    def do_GET(self):
        if self.path == "/redirect":
            self.send_response(302)
            self.send_header("Location", f"http://{ELSEWHERE}:{HTTP_PORT}/desc.xml")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if self.path == "/bomb.xml":
            body = BOMB.encode()
            self.send_response(200)
            self.send_header("Content-Type", "text/xml")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        self.send_response(200)
        self.send_header("Content-Type", "text/xml")
        self.end_headers()
        try:
            if self.path == "/slow.xml":
                self.wfile.write(b"<?xml version=\"1.0\"?><root><device><modelName>")
                while True:
                    self.wfile.write(b"x")
                    self.wfile.flush()
                    time.sleep(0.1)
            while True:
                self.wfile.write(b"<device>" * 8192)
        except OSError:
            pass


def main():
    if len(sys.argv) != 2:
        sys.exit(f"usage: {sys.argv[0]} ADDRESS")
    address = sys.argv[1]
    server = ThreadingHTTPServer((address, HTTP_PORT), Hostile)
    server.daemon_threads = True
    for serve in (serve_mdns, serve_ssdp):
        threading.Thread(target=serve, args=(address,), daemon=True).start()
    time.sleep(0.2)
    print("ready", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
