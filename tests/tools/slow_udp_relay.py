#!/usr/bin/env python3
"""A UDP service that answers late: each datagram to LISTEN goes on to TARGET,
and each answer back, DELAY milliseconds late both ways. Stands for a slow
SNMP agent (a router whose agent runs on a busy control plane).

    slow_udp_relay.py LISTEN_ADDRESS:PORT TARGET_ADDRESS:PORT DELAY_MS
"""
import heapq
import select
import socket
import sys
import time


def endpoint(text):
    host, port = text.rsplit(":", 1)
    return host, int(port)


def main():
    listen, target, delay = endpoint(sys.argv[1]), endpoint(sys.argv[2]), int(sys.argv[3]) / 1000
    front = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    front.bind(listen)
    back = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    back.connect(target)
    due = []  # (time, order, socket, data, address or None)
    order = 0
    client = None
    print("ready", flush=True)
    while True:
        wait = max(0.0, due[0][0] - time.monotonic()) if due else None
        readable, _, _ = select.select([front, back], [], [], wait)
        for sock in readable:
            data, sender = sock.recvfrom(65535)
            order += 1
            if sock is front:
                client = sender
                heapq.heappush(due, (time.monotonic() + delay, order, back, data, None))
            elif client is not None:
                heapq.heappush(due, (time.monotonic() + delay, order, front, data, client))
        while due and due[0][0] <= time.monotonic():
            _, _, sock, data, to = heapq.heappop(due)
            if to is None:
                sock.send(data)
            else:
                sock.sendto(data, to)


if __name__ == "__main__":
    main()
