#!/usr/bin/env python3
"""A GSM modem in text mode on a pseudo-terminal, for the sender's tests.

Creates a pty, links it as a Wine COM port ($WINEPREFIX/dosdevices/comN),
answers AT commands like a modem and records what arrived:
  <record>.sms    one line per accepted message: number TAB text (latin-1 bytes)
  <record>.times  one line per accepted message: seconds since 1970 TAB number
  <record>.raw    every byte the sender wrote
Behaviour:
  --pin P            the SIM asks for PIN P; wrong entries count down
                     --pin-attempts (default 3) and at 0 it wants the PUK
  --attempts-query Q the one counter query it knows: cpinr, spic, qpinc
                     (others get ERROR)
  --cms-errors N     refuse the first N messages with +CMS ERROR: 500
  --reject NUM:CODE  refuse every message to NUM with +CMS ERROR: CODE
  --error-on CMD     answer CMD with ERROR
  --silent           answer nothing; --silent-for S: nothing for S seconds
  --send-delay S     take S seconds after Ctrl-Z to confirm a message
  --prompt-delay S   take S seconds before the "> " prompt
  --noise            put RING, +CMTI and +CREG lines into the answers
  --split            write answers a few bytes at a time with pauses
  --creg STAT        the <stat> of +CREG (default 1)
  --busy-entries N   answer the first N PIN entries after power-up with
                     +CME ERROR: 14 (SIM busy)
  --ready-delay S    the SIM reports READY only S seconds after the right PIN
                     (AT+CPIN? gets +CME ERROR: 14 until then)
  --bare-errors      a wrong PIN gets a bare ERROR
SIGUSR1 switches the modem off and on: the SIM asks for its PIN again.
Runs until killed; the SIM's state lives as long as the process, so one
fake modem can serve several runs of S.exe. Writes <record>.ready when listening.
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
p.add_argument("--pin-attempts", type=int, default=3)
p.add_argument("--attempts-query", default="")
p.add_argument("--cms-errors", type=int, default=0)
p.add_argument("--reject", action="append", default=[])
p.add_argument("--error-on", default="")
p.add_argument("--silent", action="store_true")
p.add_argument("--silent-for", type=float, default=0)
p.add_argument("--send-delay", type=float, default=0, help="seconds before confirming a message")
p.add_argument("--prompt-delay", type=float, default=0)
p.add_argument("--noise", action="store_true")
p.add_argument("--split", action="store_true")
p.add_argument("--creg", default="1")
p.add_argument("--busy-entries", type=int, default=0)
p.add_argument("--ready-delay", type=float, default=0)
p.add_argument("--bare-errors", action="store_true")
args = p.parse_args()

QUERIES = {
    "cpinr": ('AT+CPINR="SIM PIN"', lambda n: "+CPINR: SIM PIN,%d,3" % n),
    "spic": ("AT^SPIC", lambda n: "^SPIC: %d" % n),
    "qpinc": ('AT+QPINC="SC"', lambda n: '+QPINC: "SC",%d,10' % n),
}
rejected = {}
for item in args.reject:
    number, _, code = item.partition(":")
    rejected[number] = code or "28"

master, slave = os.openpty()
tty.setraw(slave)  # no echo or line editing by the terminal itself
slave_path = os.ttyname(slave)
if os.path.lexists(args.link):
    os.unlink(args.link)
os.symlink(slave_path, args.link)

raw = open(args.record + ".raw", "ab", buffering=0)
sms = open(args.record + ".sms", "ab", buffering=0)
times = open(args.record + ".times", "a", buffering=1)
state = {"echo": True, "unlocked": not args.pin, "text": None, "number": "", "cms": args.cms_errors,
         "sent": 0, "attempts": args.pin_attempts, "busy": args.busy_entries, "ready_at": 0.0}
line = bytearray()
started = time.time()


def stop(*_):
    try:
        os.unlink(args.link)
    except OSError:
        pass
    sys.exit(0)


def power_cycle(*_):
    state["unlocked"] = not args.pin
    state["busy"] = args.busy_entries
    state["echo"] = True


signal.signal(signal.SIGUSR1, power_cycle)
signal.signal(signal.SIGTERM, stop)
signal.signal(signal.SIGINT, stop)


def silent():
    return args.silent or time.time() - started < args.silent_for


def answer(data):
    if silent():
        return
    if args.noise:
        data = b"\r\nRING\r\n\r\n+CMTI: \"SM\",3\r\n\r\n+CREG: 1\r\n" + data
    if not args.split:
        os.write(master, data)
        return
    # A serial line hands answers over in pieces; the +CMGS line arrives cut.
    for i in range(0, len(data), 3):
        os.write(master, data[i:i + 3])
        time.sleep(0.04)


def pin_state():
    if state["unlocked"]:
        return "READY" if time.time() >= state["ready_at"] else "BUSY"
    return "SIM PUK" if state["attempts"] <= 0 else "SIM PIN"


def command(cmd):
    if state["echo"]:
        answer(cmd + b"\r")
    c = cmd.decode("latin-1")
    query = QUERIES.get(args.attempts_query)
    if args.error_on and c == args.error_on:
        answer(b"\r\nERROR\r\n")
    elif c == "AT":
        answer(b"\r\nOK\r\n")
    elif c == "ATE0":
        state["echo"] = False
        answer(b"\r\nOK\r\n")
    elif c in ("AT+CMEE=1", 'AT+CSCS="GSM"'):
        answer(b"\r\nOK\r\n")
    elif c == "AT+CPIN?" and pin_state() == "BUSY":
        answer(b"\r\n+CME ERROR: 14\r\n")
    elif c == "AT+CPIN?":
        answer(b"\r\n+CPIN: " + pin_state().encode() + b"\r\n\r\nOK\r\n")
    elif query and c == query[0]:
        answer(b"\r\n" + query[1](state["attempts"]).encode() + b"\r\n\r\nOK\r\n")
    elif c.startswith('AT+CPIN="'):
        if state["attempts"] <= 0:
            answer(b"\r\n+CME ERROR: 12\r\n")
        elif state["busy"] > 0:
            state["busy"] -= 1
            answer(b"\r\n+CME ERROR: 14\r\n")
        elif args.pin and c == 'AT+CPIN="%s"' % args.pin:
            state["unlocked"] = True
            state["ready_at"] = time.time() + args.ready_delay
            state["attempts"] = 3
            answer(b"\r\nOK\r\n")
        else:
            state["attempts"] -= 1
            answer(b"\r\nERROR\r\n" if args.bare_errors else b"\r\n+CME ERROR: 16\r\n")
    elif c == "AT+CMGF=1":
        answer(b"\r\nOK\r\n")
    elif c == "AT+CREG?":
        answer(b"\r\n+CREG: 0," + args.creg.encode() + b"\r\n\r\nOK\r\n")
    elif c == "AT+CSQ":
        answer(b"\r\n+CSQ: 17,99\r\n\r\nOK\r\n")
    elif c == "AT+COPS?":
        answer(b'\r\n+COPS: 0,0,"Testnetz",7\r\n\r\nOK\r\n')
    elif c == "AT+CGMI":
        answer(b"\r\nFakeModem\r\n\r\nOK\r\n")
    elif c == "AT+CGMM":
        answer(b"\r\nPTY-1\r\n\r\nOK\r\n")
    elif c.startswith('AT+CMGS="') and c.endswith('"'):
        if pin_state() != "READY":
            answer(b"\r\n+CMS ERROR: 311\r\n")
            return
        state["number"] = c[9:-1]
        state["text"] = bytearray()
        time.sleep(args.prompt_delay)
        answer(b"\r\n> ")
    else:
        answer(b"\r\nERROR\r\n")


def body_done():
    text = bytes(state["text"])
    state["text"] = None
    time.sleep(args.send_delay)
    if state["number"] in rejected:
        answer(b"\r\n+CMS ERROR: " + rejected[state["number"]].encode() + b"\r\n")
        return
    if state["cms"] > 0:
        state["cms"] -= 1
        answer(b"\r\n+CMS ERROR: 500\r\n")
        return
    state["sent"] += 1
    sms.write(state["number"].encode("latin-1") + b"\t" + text + b"\n")
    times.write("%.3f\t%s\n" % (time.time(), state["number"]))
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
