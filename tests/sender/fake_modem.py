#!/usr/bin/env python3
"""A GSM modem in text mode on a pseudo-terminal, for the sender's tests.

Creates a pty, links it as a Wine COM port ($WINEPREFIX/dosdevices/comN),
answers AT commands like a modem and records what arrived:
  <record>.sms   one line per accepted message: number TAB text (latin-1 bytes)
  <record>.raw   every byte the sender wrote
Behaviour: --pin asks for a PIN, --cms-errors N refuses the first N messages
with +CMS ERROR: 500, --error-on CMD answers CMD with ERROR, --silent
answers nothing, --send-delay S takes S seconds to confirm a message.
Runs until killed; writes <record>.ready when listening.
"""
import argparse
import os
import signal
import sys
import time
import tty

p = argparse.ArgumentParser()
p.add_argument("--link", required=True, help="path of the symlink to create (e.g. .../dosdevices/com5)")
p.add_argument("--record", required=True)
p.add_argument("--pin", default="")
p.add_argument("--cms-errors", type=int, default=0)
p.add_argument("--error-on", default="")
p.add_argument("--silent", action="store_true")
p.add_argument("--send-delay", type=float, default=0, help="seconds before confirming a message")
args = p.parse_args()

master, slave = os.openpty()
tty.setraw(slave)  # no echo or line editing by the terminal itself
slave_path = os.ttyname(slave)
if os.path.lexists(args.link):
    os.unlink(args.link)
os.symlink(slave_path, args.link)

raw = open(args.record + ".raw", "ab", buffering=0)
sms = open(args.record + ".sms", "ab", buffering=0)
state = {"echo": True, "unlocked": not args.pin, "text": None, "number": "", "cms": args.cms_errors, "sent": 0}
line = bytearray()


def stop(*_):
    try:
        os.unlink(args.link)
    except OSError:
        pass
    sys.exit(0)


signal.signal(signal.SIGTERM, stop)
signal.signal(signal.SIGINT, stop)


def answer(data):
    if not args.silent:
        os.write(master, data)


def command(cmd):
    if state["echo"]:
        answer(cmd + b"\r")
    c = cmd.decode("latin-1")
    if args.error_on and c == args.error_on:
        answer(b"\r\nERROR\r\n")
    elif c == "AT":
        answer(b"\r\nOK\r\n")
    elif c == "ATE0":
        state["echo"] = False
        answer(b"\r\nOK\r\n")
    elif c == "AT+CPIN?":
        answer(b"\r\n+CPIN: READY\r\n\r\nOK\r\n" if state["unlocked"] else b"\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n")
    elif c.startswith('AT+CPIN="'):
        if args.pin and c == 'AT+CPIN="%s"' % args.pin:
            state["unlocked"] = True
            answer(b"\r\nOK\r\n")
        else:
            answer(b"\r\n+CME ERROR: 16\r\n")
    elif c == "AT+CMGF=1":
        answer(b"\r\nOK\r\n")
    elif c.startswith('AT+CMGS="') and c.endswith('"'):
        if not state["unlocked"]:
            answer(b"\r\n+CMS ERROR: 311\r\n")
            return
        state["number"] = c[9:-1]
        state["text"] = bytearray()
        answer(b"\r\n> ")
    else:
        answer(b"\r\nERROR\r\n")


def body_done():
    text = bytes(state["text"])
    state["text"] = None
    time.sleep(args.send_delay)
    if state["cms"] > 0:
        state["cms"] -= 1
        answer(b"\r\n+CMS ERROR: 500\r\n")
        return
    state["sent"] += 1
    sms.write(state["number"].encode("latin-1") + b"\t" + text + b"\n")
    answer(b"\r\n+CMGS: %d\r\n\r\nOK\r\n" % state["sent"])


open(args.record + ".ready", "w").close()
while True:
    try:
        data = os.read(master, 4096)
    except OSError:
        time.sleep(0.05)
        continue
    raw.write(data)
    for b in data:
        ch = bytes([b])
        if state["text"] is not None:
            if ch == b"\x1b":
                state["text"] = None
                answer(b"\r\nOK\r\n")
            elif ch == b"\x1a":
                body_done()
            else:
                state["text"] += ch
        elif ch == b"\r":
            cmd = bytes(line)
            line.clear()
            command(cmd)
        elif ch in (b"\n", b"\x1b"):
            pass
        else:
            line += ch
