#!/usr/bin/python3
"""A webhook receiver for the lab, on python3's http.server.

    webhook_receiver.py ADDRESS PORT LOG [CERT KEY]

Runs in a lab host's namespace, never in the machine's own. A POST's path
says how it is answered:
  /accept    204; its Idempotency-Key, Content-Type and body appended to LOG
             as one JSON line
  /stamp     as /accept, the record with its arrival time too ("received",
             seconds since the epoch), for the benchmark's latency
  /fail      500
  /hang      nothing, ever
  /redirect  307 to /accept
  /flood     200, then a body without end
  /dribble   200, then its 64-byte body a byte every 0.5 s
  /short     200 with a Content-Length of 1000, then 2 bytes and nothing more
With CERT and KEY it speaks HTTPS. Prints "ready" once listening, then serves
until ended.
"""

import json
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

written = threading.Lock()


class Receiver(BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        path = self.path.split("?")[0]
        if path in ("/accept", "/stamp"):
            record = {"key": self.headers.get("Idempotency-Key"),
                      "type": self.headers.get("Content-Type"),
                      "body": body.decode()}
            if path == "/stamp":
                record["received"] = time.time()
            with written, open(self.server.log, "a", encoding="utf-8") as log:
                log.write(json.dumps(record) + "\n")
            self.send_response(204)
            self.end_headers()
        elif path == "/fail":
            self.send_error(500)
        elif path == "/hang":
            time.sleep(3600)
        elif path == "/redirect":
            self.send_response(307)
            self.send_header("Location", "/accept")
            self.end_headers()
        elif path == "/flood":
            self.send_response(200)
            self.end_headers()
            chunk = b"x" * 65536
            try:
                for _ in range(16384):
                    self.wfile.write(chunk)
            except OSError:
                pass
        elif path == "/dribble":
            self.answer_slowly(64, [(b"x", 0.5)] * 64)
        elif path == "/short":
            self.answer_slowly(1000, [(b"{}", 3600)])
        else:
            self.send_error(404)

    def answer_slowly(self, length, pieces):
        """200 promising `length` bytes, then each piece and its pause."""
        self.send_response(200)
        self.send_header("Content-Length", str(length))
        self.end_headers()
        try:
            for piece, pause in pieces:
                self.wfile.write(piece)
                self.wfile.flush()
                time.sleep(pause)
        except OSError:
            pass

    def log_message(self, *_):
        pass


def main():
    address, port, log = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    server = ThreadingHTTPServer((address, port), Receiver)
    server.daemon_threads = True
    server.log = log
    if len(sys.argv) == 6:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[4], sys.argv[5])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("ready", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
