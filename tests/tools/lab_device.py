#!/usr/bin/python3
"""A lab device that says what it is over DNS-SD, as the real ones do.

    lab_device.py KIND ADDRESS

KIND is printer, cast, nas, camera or workstation. Runs in a lab host's
namespace (lab.sh devices starts it there, never in the machine's own) and
announces on ADDRESS alone through python3-zeroconf, which answers a
question from a port other than 5353 by unicast (legacy unicast, RFC 6762
section 6.7), as the sweep asks. Prints "ready" once its services are
registered, then serves until ended.
"""

import signal
import socket
import sys

from zeroconf import IPVersion, ServiceInfo, Zeroconf

# Each kind: its host name and the services it registers, each with its TXT
# properties. The keys are the ones each kind's makers publish: ty and
# product (Bonjour printing), md (cast devices), model (_device-info), ci
# (HomeKit accessory category, 17 an IP camera).
KINDS = {
    "printer": ("labprinter", [
        ("_ipp._tcp", 631, {"ty": "Brother HL-L2350DW series",
                            "product": "(Brother HL-L2350DW series)",
                            "rp": "ipp/print", "txtvers": "1"}),
        ("_printer._tcp", 515, {"ty": "Brother HL-L2350DW series"}),
    ]),
    "cast": ("labcast", [
        ("_googlecast._tcp", 8009, {"md": "Chromecast Ultra", "fn": "Living Room",
                                    "id": "0123456789abcdef"}),
    ]),
    "nas": ("labnas", [
        ("_smb._tcp", 445, {}),
        ("_adisk._tcp", 9, {"sys": "waMa=0,adVF=0x100"}),
        ("_device-info._tcp", 0, {"model": "Xserve"}),
    ]),
    "camera": ("labcamera", [
        ("_hap._tcp", 8080, {"ci": "17", "md": "Lab Camera", "c#": "1", "s#": "1",
                             "sf": "1", "id": "12:34:56:78:9A:BC", "ff": "0"}),
    ]),
    "workstation": ("labstation", [
        ("_workstation._tcp", 9, {}),
        ("_ssh._tcp", 22, {}),
    ]),
}


def services(kind, address):
    host, offered = KINDS[kind]
    packed = socket.inet_aton(address)
    for service_type, port, properties in offered:
        yield ServiceInfo(f"{service_type}.local.", f"{host}.{service_type}.local.",
                          addresses=[packed], port=port, properties=properties,
                          server=f"{host}.local.")


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in KINDS:
        sys.exit(f"usage: {sys.argv[0]} {{{'|'.join(KINDS)}}} ADDRESS")
    kind, address = sys.argv[1], sys.argv[2]
    zeroconf = Zeroconf(interfaces=[address], ip_version=IPVersion.V4Only)
    for info in services(kind, address):
        zeroconf.register_service(info, allow_name_change=False)
    print("ready", flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        signal.pause()
    finally:
        zeroconf.close()


if __name__ == "__main__":
    main()
