#!/usr/bin/env python3
"""A small contact card for the vpcd virtual reader driver.

The driver listens on a loopback TCP port per reader slot; the card connects to it and
answers what the driver sends. Every message, both ways, is a 2-byte big-endian length and
then the payload. A one-byte payload from the driver is a control message: 0 power off,
1 power on, 2 reset (no answer to these three), 4 "give the ATR" (answered with the ATR).
Any longer payload is a command APDU, answered with a response APDU.

The card answers:
  - READ BINARY (INS B0) with Le bytes 00 01 02 ... (Le 00 means 256), then 90 00;
  - a command with data (case 3 or 4) with the same data echoed, then 90 00;
  - anything else with 90 00 alone; a command shorter than 4 bytes with 67 00.

When the driver goes away (the service stopped) the card connects again, so one card
outlives a service restart. It prints "atr" on stdout each time the driver reads its ATR,
which tells a supervisor that the service has seen the card. It ends on SIGTERM, or after
--lifetime seconds in any case.

  python3 virtual_card.py --port 35963
"""
import argparse
import signal
import socket
import struct
import sys
import time

HISTORICAL = b"LURM"


def answer_to_reset():
    # Direct convention; TD1 offers T=0, TD2 offers T=1; with T=1 offered a TCK follows.
    t0 = 0x80 | len(HISTORICAL)
    body = bytes([t0, 0x80, 0x01]) + HISTORICAL
    tck = 0
    for b in body:
        tck ^= b
    return bytes([0x3B]) + body + bytes([tck])


def respond(apdu):
    if len(apdu) < 4:
        return b"\x67\x00"
    ins = apdu[1]
    if ins == 0xB0 and len(apdu) == 5:
        count = apdu[4] or 256
        return bytes(i & 0xFF for i in range(count)) + b"\x90\x00"
    if len(apdu) > 5:
        lc = apdu[4]
        data = apdu[5:5 + lc]
        return data + b"\x90\x00"
    return b"\x90\x00"


def read_exact(conn, size):
    data = b""
    while len(data) < size:
        chunk = conn.recv(size - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def send(conn, payload):
    conn.sendall(struct.pack(">H", len(payload)) + payload)


def serve(conn):
    atr = answer_to_reset()
    while True:
        head = read_exact(conn, 2)
        if head is None:
            return
        (length,) = struct.unpack(">H", head)
        payload = read_exact(conn, length)
        if payload is None:
            return
        if length == 1:
            if payload[0] == 4:
                send(conn, atr)
                print("atr", flush=True)
            continue
        send(conn, respond(payload))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=35963)
    parser.add_argument("--lifetime", type=float, default=600.0)
    args = parser.parse_args()

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    signal.signal(signal.SIGALRM, lambda *_: sys.exit(0))
    signal.setitimer(signal.ITIMER_REAL, args.lifetime)
    while True:
        try:
            conn = socket.create_connection((args.host, args.port), timeout=1.0)
        except OSError:
            time.sleep(0.1)
            continue
        conn.settimeout(None)
        with conn:
            try:
                serve(conn)
            except OSError:
                pass
        time.sleep(0.1)


if __name__ == "__main__":
    main()
