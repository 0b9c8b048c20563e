#!/usr/bin/env python3
"""Writes the UDP datagrams of a capture again with another writer (scapy): another link type,
microsecond or nanosecond time stamps, IPv4 fragments, and unrelated traffic in between.

Usage: rewrap_capture.py IN OUT LINK [--nano] [--fragment BYTES] [--noise PORT]
LINK is ether, sll, sll2 or raw. --noise adds, before every datagram, an ARP packet, a TCP
segment and a UDP datagram to PORT, all of which a replay of the original port must skip.
"""
import argparse

from scapy.all import ARP, IP, TCP, UDP, Ether, Raw, fragment, rdpcap
from scapy.data import DLT_EN10MB, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_RAW
from scapy.layers.l2 import CookedLinux, CookedLinuxV2
from scapy.utils import PcapWriter

LINKS = {
    "ether": (DLT_EN10MB, lambda p: Ether(src="02:00:00:00:00:01", dst="02:00:00:00:00:02") / p),
    "sll": (DLT_LINUX_SLL, lambda p: CookedLinux(pkttype=0, lladdrtype=772, proto=0x0800) / p),
    "sll2": (DLT_LINUX_SLL2, lambda p: CookedLinuxV2(proto=0x0800, ifindex=1, pkttype=0) / p),
    "raw": (DLT_RAW, lambda p: p),
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("source")
    parser.add_argument("target")
    parser.add_argument("link", choices=sorted(LINKS))
    parser.add_argument("--nano", action="store_true")
    parser.add_argument("--fragment", type=int, default=0)
    parser.add_argument("--noise", type=int, default=0)
    args = parser.parse_args()

    linktype, wrap = LINKS[args.link]
    writer = PcapWriter(args.target, linktype=linktype, nano=args.nano, sync=True)
    for number, record in enumerate(rdpcap(args.source)):
        ip = IP(bytes(record))
        stamp = record.time
        if args.noise:
            noise = [IP(src=ip.src, dst=ip.dst) / TCP(sport=80, dport=40000 + number % 100),
                     IP(src=ip.src, dst=ip.dst) / UDP(sport=ip[UDP].sport, dport=args.noise) /
                     Raw(b"\x01" * 40)]
            if args.link != "raw":
                arp = ARP(psrc=ip.src, pdst=ip.dst)
                frame = (Ether() / arp) if args.link == "ether" else wrap(arp)
                if args.link != "ether":
                    frame.proto = 0x0806
                frame.time = stamp
                writer.write(frame)
            for packet in noise:
                frame = wrap(packet)
                frame.time = stamp
                writer.write(frame)
        ip.id = number % 65536
        ip.flags = 0
        del ip.chksum
        pieces = fragment(ip, fragsize=args.fragment) if args.fragment else [ip]
        if args.fragment and number % 2:
            pieces = list(reversed(pieces))  # fragments may arrive in any order
        for piece in pieces:
            frame = wrap(piece)
            frame.time = stamp
            writer.write(frame)
    writer.close()


if __name__ == "__main__":
    main()
