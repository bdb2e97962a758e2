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
which tells a supervisor that the service has seen the card, and "off" each time the
service powers it down after a power-on. It ends on SIGTERM, or after
--lifetime seconds in any case.

--behaviour makes it misbehave as worn or broken cards do. The first power-on after the
card connects is always answered, so the service sees a card inserted; from then on:
  late:SECONDS  while powered, gives its ATR SECONDS late (a connect waits that long);
  mute          while powered, answers nothing any more (a connect waits until it is pulled);
  drop          drops the line when a command comes, and connects again as a fresh card;
  short         answers every command with one byte, half a status word.

  python3 virtual_card.py --port 35963 [--behaviour mute]
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


class Behaviour:
    def __init__(self, text):
        self.name, _, value = text.partition(":")
        if self.name not in ("normal", "late", "mute", "drop", "short"):
            raise SystemExit("unknown behaviour: " + text)
        self.delay = float(value) if self.name == "late" else 0.0


def serve(conn, behaviour):
    atr = answer_to_reset()
    powered = False
    power_ons = 0
    while True:
        head = read_exact(conn, 2)
        if head is None:
            return
        (length,) = struct.unpack(">H", head)
        payload = read_exact(conn, length)
        if payload is None:
            return
        # Past the first power-on a misbehaving card shows its fault while powered.
        worn = powered and power_ons > 1
        if length == 1:
            if payload[0] == 1:
                powered = True
                power_ons += 1
            elif payload[0] == 0:
                # A power-off meant for the card before this one says nothing.
                if powered:
                    print("off", flush=True)
                powered = False
            elif payload[0] == 4:
                if worn and behaviour.name == "mute":
                    continue
                if worn and behaviour.name == "late":
                    time.sleep(behaviour.delay)
                send(conn, atr)
                print("atr", flush=True)
            continue
        if behaviour.name == "mute" and worn:
            continue
        if behaviour.name == "drop":
            return
        if behaviour.name == "short":
            send(conn, respond(payload)[:1])
            continue
        send(conn, respond(payload))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=35963)
    parser.add_argument("--lifetime", type=float, default=600.0)
    parser.add_argument("--behaviour", default="normal")
    args = parser.parse_args()
    behaviour = Behaviour(args.behaviour)

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
                serve(conn, behaviour)
            except OSError:
                pass
        time.sleep(0.1)


if __name__ == "__main__":
    main()
