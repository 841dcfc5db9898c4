#!/usr/bin/env python3
"""The sender's fault matrix at full length, under Wine.

Runs S.exe (started the way Kantiq starts it, through sender_launch.exe)
against the fake modem on a pseudo-terminal and the fake gateway on
127.0.0.1 with the default timings of S.toml (10 s answer time, waits from
10 s doubling, at most 15 s between rounds), and prints per case the
messages delivered, the duplicates and the delay of each message from the
start of the run.

    bench/delivery.py [--build build/win32] [--only PATTERN] [--short]

Starts scripts/wine-env.sh itself when run outside it. Takes about eight
minutes; --short runs only the rows that take seconds (what the tests run)
and with a shorter SIM delay. Rows with a check ("prüft") make the exit code
1 when it fails.
"""
import argparse
import glob
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FAKES = os.path.join(ROOT, "tests", "sender")

ap = argparse.ArgumentParser()
ap.add_argument("--build", default=os.path.join(ROOT, "build", "win32"))
ap.add_argument("--only", default="")
ap.add_argument("--short", action="store_true", help="only the rows that take seconds")
args = ap.parse_args()

if not os.environ.get("WINEPREFIX"):
    os.execvp(os.path.join(ROOT, "scripts", "wine-env.sh"),
              [os.path.join(ROOT, "scripts", "wine-env.sh"), "run", "--no-audio", "--",
               sys.executable] + sys.argv)

SENDER = os.path.join(args.build, "tools", "sender", "S.exe")
LAUNCH = os.path.join(args.build, "tests", "sender", "sender_launch.exe")
CHAIN = os.path.join(args.build, "tests", "sender", "alarm_chain.exe")
COM = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "com5")
work = tempfile.mkdtemp(prefix="delivery-bench.")


def hexed(text):
    return text.encode("cp1252").hex()


def winfolder(path):
    return "Z:" + path.replace("/", "\\")


class Case:
    def __init__(self, name):
        self.name = name
        self.dir = os.path.join(work, name)
        os.makedirs(self.dir)
        shutil.copy(SENDER, os.path.join(self.dir, "S.exe"))
        self.helpers = []
        self.start = time.time()

    def config(self, text):
        with open(os.path.join(self.dir, "S.toml"), "w", encoding="utf-8") as f:
            f.write(text)

    def modem(self, *options):
        rec = os.path.join(self.dir, "modem")
        for f in glob.glob(rec + ".ready"):
            os.unlink(f)
        p = subprocess.Popen([sys.executable, os.path.join(FAKES, "fake_modem.py"), "--link", COM,
                              "--record", rec] + list(options))
        self.helpers.append(p)
        while not os.path.exists(rec + ".ready"):
            time.sleep(0.05)
        return p

    def gateway(self, answers="200"):
        rec = os.path.join(self.dir, "gw")
        p = subprocess.Popen([sys.executable, os.path.join(FAKES, "fake_gateway.py"), "--record", rec,
                              "--answers", answers])
        self.helpers.append(p)
        while not os.path.exists(rec + ".port"):
            time.sleep(0.05)
        return int(open(rec + ".port").read())

    def run_sender(self, *arguments):
        out = open(os.path.join(self.dir, "stdout"), "ab")
        return subprocess.run(["wine", os.path.join(self.dir, "S.exe")] + list(arguments), stdout=out,
                              stderr=subprocess.STDOUT).returncode

    def last_line(self):
        lines = open(os.path.join(self.dir, "stdout"), "rb").read().decode("cp1252", "replace").splitlines()
        return lines[-1].strip() if lines else ""

    def outbox_file(self, index, number, text, age_s=3600, name=None):
        folder = os.path.join(self.dir, "Postausgang")
        os.makedirs(folder, exist_ok=True)
        created = int(time.time()) - age_s
        stamp = time.strftime("%d.%m.%Y %H:%M:%S", time.localtime(created))
        body = ("Kantiq-Postausgang 1\r\nart=alarm\r\nerstellt=%d\r\nzeit=%s\r\nnummer=%s\r\ntext=%s\r\n"
                "gesendete_teile=0\r\nnachgesendet=0\r\nunterwegs=\r\nende\r\n"
                % (created, stamp, number, hexed(text)))
        name = name or "%013d-1-%04d.sms" % (created * 1000, index)
        with open(os.path.join(folder, name), "w", newline="") as f:
            f.write(body)

    def send(self, mode, payload, background=False):
        cmd = ["wine", LAUNCH, winfolder(self.dir), mode, hexed(payload)]
        out = open(os.path.join(self.dir, "stdout"), "ab")
        if background:
            return subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT)
        return subprocess.run(cmd, stdout=out, stderr=subprocess.STDOUT).returncode

    def kill_sender(self):
        for name in sorted(os.listdir(os.path.join(self.dir, "Postausgang"))):
            m = re.match(r"^\d+-(\d+)-\d+\.sms$", name)
            if m:
                subprocess.run(["wine", "taskkill", "/F", "/PID", m.group(1)], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                return

    def stop(self):
        for p in self.helpers:
            p.terminate()
            p.wait()
        self.helpers = []

    # What arrived: (seconds since the case's start, number, text).
    def received(self):
        out = []
        times = os.path.join(self.dir, "modem.times")
        texts = os.path.join(self.dir, "modem.sms")
        if os.path.exists(times):
            stamps = [float(l.split("\t")[0]) for l in open(times)]
            lines = open(texts, "rb").read().decode("latin-1").splitlines()
            for t, line in zip(stamps, lines):
                number, _, text = line.partition("\t")
                out.append((t - self.start, number, text))
        requests = os.path.join(self.dir, "gw.requests")
        if os.path.exists(requests):
            for line in open(requests):
                r = json.loads(line)
                if r["method"] == "HEAD":
                    continue
                body = dict(kv.split("=", 1) for kv in r["body"].split("&") if "=" in kv)
                out.append((r["t"] - self.start, body.get("to", "").replace("%2B", "+"), body.get("msg", "")))
        return sorted(out)

    def raw_count(self, needle):
        path = os.path.join(self.dir, "modem.raw")
        return open(path, "rb").read().count(needle.encode()) if os.path.exists(path) else 0


def modem_toml(extra_modem="", numbers=("+491701111111",), extra=""):
    nums = ", ".join('"%s"' % n for n in numbers)
    return ('kanal = "modem"\n%s[modem]\nanschluss = "COM5"\n%s\n[[gruppe]]\nname = "Alle"\nalle_alarme = true\n'
            'nummern = [%s]\n' % (extra, extra_modem, nums))


rows = []
failed = []


def report(case, expected, note="", duplicates=None, since=0.0, check=None):
    got = case.received()
    seen = {}
    for _, number, text in got:
        key = (number, re.sub(r"^Nachgesendet, Alarm vom \d\d\.\d\d\. \d\d:\d\d: ", "", text))
        seen[key] = seen.get(key, 0) + 1
    dup = sum(n - 1 for n in seen.values()) if duplicates is None else duplicates
    delays = " ".join("%.1f" % (t - since) for t, _, _ in got) or "-"
    if check is not None:
        note += " (prüft: %s)" % ("ja" if check else "NEIN")
        if not check:
            failed.append(case.name)
    rows.append((case.name, "%d/%d" % (len(got) - dup, expected), str(dup), delays, note))
    print("  %s: %s" % (case.name, rows[-1][1:]), flush=True)


# Rows that take seconds; --short runs only these.
SHORT = ("rejected", "noise", "sim_busy", "newest_first", "damaged", "gateway_late", "notice_first")


def wanted(name):
    return re.search(args.only, name) is not None and (not args.short or name in SHORT)


# ---------------------------------------------------------------------------
if wanted("wrong_pin"):
    c = Case("wrong_pin_five_runs")
    c.config(modem_toml('pin = "1234"'))
    c.modem("--pin", "9999")
    for i in range(5):
        c.send("alarm", "Probealarm %d" % i)
    c.stop()
    report(c, 5, "falsche PIN: %d PIN-Eingabe(n) in 5 Läufen" % c.raw_count('AT+CPIN="'))

if wanted("one_attempt"):
    c = Case("one_attempt_left")
    c.config(modem_toml('pin = "4711"'))
    c.modem("--pin", "4711", "--pin-attempts", "1", "--attempts-query", "cpinr")
    c.send("alarm", "Probealarm")
    c.stop()
    report(c, 1, "ein PIN-Versuch übrig: %d PIN-Eingabe(n)" % c.raw_count('AT+CPIN="'))

if wanted("rejected"):
    c = Case("rejected_number")
    c.config(modem_toml(numbers=("+491701111111", "+491702222222", "+491703333333")))
    c.modem("--reject", "+491702222222:28")
    c.send("alarm", "Brand")
    ended = time.time() - c.start
    c.stop()
    report(c, 3, "abgewiesene Nummer %d-mal versucht, Lauf endet nach %.1f s"
           % (c.raw_count('AT+CMGS="+491702222222"'), ended))

if wanted("silent"):
    c = Case("modem_silent_60s_then_back")
    c.config(modem_toml(extra_modem="", extra="") + "[wiederholung]\nversuche = 20\n")
    c.modem("--silent-for", "60")
    c.send("alarm", "Probealarm")
    c.stop()
    got = c.received()
    report(c, 1, "nach Rückkehr des Modems: %s s" % ("%.1f" % (got[0][0] - 60) if got else "-"))

if wanted("dead"):
    c = Case("modem_dead_gateway_takes_over")
    port = c.gateway("200")
    c.config('kanal = "modem"\nersatzkanal = "http"\n[modem]\nanschluss = "COM5"\n'
             '[http]\nurl = "http://127.0.0.1:%d/send"\nformat = "form"\ninhalt = "to={nummer}&msg={text}"\n'
             '[[gruppe]]\nalle_alarme = true\nnummern = ["+491701111111", "+491702222222", "+491703333333"]\n' % port)
    c.modem("--silent")
    c.send("alarm", "Brand")
    c.stop()
    report(c, 3, "über das Gateway")

if wanted("killed_mid"):
    c = Case("killed_mid_run")
    c.config(modem_toml(numbers=("+491701111111", "+491702222222", "+491703333333", "+491704444444")))
    c.modem("--prompt-delay", "3")
    first = c.send("alarm", "Brand eins", background=True)
    sms = os.path.join(c.dir, "modem.sms")
    while not (os.path.exists(sms) and len(open(sms, "rb").read().splitlines()) >= 2):
        time.sleep(0.05)
    c.kill_sender()
    first.wait()
    c.send("alarm", "Brand zwei")
    c.stop()
    report(c, 8, "4 vor dem Abbruch/nachgesendet + 4 der zweiten Alarmierung")

if wanted("killed_after"):
    c = Case("killed_after_modem_took_text")
    c.config(modem_toml())
    c.modem("--send-delay", "3")
    first = c.send("alarm", "Brand eins", background=True)
    raw = os.path.join(c.dir, "modem.raw")
    while not (os.path.exists(raw) and b"\x1a" in open(raw, "rb").read()):
        time.sleep(0.05)
    c.kill_sender()
    first.wait()
    time.sleep(3.5)
    c.send("alarm", "Brand zwei")
    c.stop()
    report(c, 2, "unterbrochene SMS wird sicherheitshalber erneut gesendet")

if wanted("noise"):
    c = Case("unsolicited_codes_and_split_answers")
    c.config(modem_toml())
    c.modem("--noise", "--split")
    c.send("alarm", "Probealarm")
    c.stop()
    report(c, 1)

if wanted("second"):
    c = Case("second_alarm_behind_rejected")
    c.config(modem_toml(numbers=("+491701111111",)) +
             '[[gruppe]]\nname = "Süd"\nstichworte = ["Süd"]\nnummern = ["+491702222222"]\n')
    shutil.copy(CHAIN, os.path.join(c.dir, "alarm_chain.exe"))
    c.modem("--reject", "+491702222222:1")
    subprocess.run(["wine", os.path.join(c.dir, "alarm_chain.exe"), hexed("Brand Süd"), hexed("Alarm zwei")],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    c.stop()
    report(c, 3, "1 Nummer der ersten abgewiesen; die zweite Alarmierung folgt ohne Warten")

if wanted("sim_busy"):
    # The SIM is busy after every power-up and slow to report READY after
    # the PIN; the modem is switched off and on between the runs.
    c = Case("sim_busy_after_power_up")
    c.config(modem_toml('pin = "4711"'))
    delay = "3" if args.short else "12"
    m = c.modem("--pin", "4711", "--busy-entries", "1", "--ready-delay", delay)
    codes = []
    for i in range(3):
        codes.append(c.send("alarm", "Probealarm %d" % i))
        m.send_signal(signal.SIGUSR1)
    c.stop()
    state = open(os.path.join(c.dir, "SIM-Status.txt")).read()
    report(c, 3, "SIM belegt, READY nach %s s; Codes %s, %d PIN-Eingaben" % (delay, codes, c.raw_count('AT+CPIN="')),
           check=codes == [0, 0, 0] and "abgelehnt=\n" in state)

if wanted("newest_first"):
    # Twenty messages an earlier run left behind, then a new alarm.
    c = Case("newest_first")
    c.config(modem_toml())
    for i in range(20):
        c.outbox_file(i + 1, "+4917100000%02d" % i, "Alter Alarm")
    c.modem()
    code = c.send("alarm", "Neuer Alarm")
    c.stop()
    got = c.received()
    position = next((i for i, r in enumerate(got) if r[2] == "Neuer Alarm"), -1)
    report(c, 21, "neue Alarmierung als %d. SMS gesendet, Code %d" % (position + 1, code),
           check=position == 0 and code == 0 and len(got) == 21)

if wanted("damaged"):
    c = Case("damaged_outbox_file")
    c.config(modem_toml())
    c.outbox_file(1, '0170";ATD112;', "Brand")
    c.modem()
    code = c.send("alarm", "Probealarm")
    c.stop()
    aside = [n for n in os.listdir(os.path.join(c.dir, "Postausgang")) if n.endswith(".defekt")]
    report(c, 1, "beschädigte Datei beiseitegelegt: %d, ATD am Modem: %d" % (len(aside), c.raw_count("ATD")),
           check=code == 0 and len(aside) == 1 and c.raw_count("ATD") == 0)

if wanted("gateway_late"):
    # The gateway answers after the time limit: the request may have arrived.
    c = Case("gateway_answers_late")
    port = c.gateway("late8")
    c.config('kanal = "http"\n[http]\nurl = "http://127.0.0.1:%d/send"\nformat = "form"\n'
             'inhalt = "to={nummer}&msg={text}"\nzeitlimit_s = 3\n[wiederholung]\nerste_wartezeit_s = 1\n'
             '[[gruppe]]\nalle_alarme = true\nnummern = ["+491701111111"]\n' % port)
    code = c.send("alarm", "Brand")
    again = c.run_sender("--nachsenden")
    time.sleep(8)
    c.stop()
    copies = len(c.received())
    report(c, 1, "%d Kopien beim Gateway, Code %d, danach --nachsenden Code %d" % (copies, code, again),
           duplicates=copies - 1, check=copies == 2 and code == 8 and again == 0)

if wanted("resend"):
    # The modem is silent during the alarm and the first resend, then back.
    c = Case("resend_until_the_modem_is_back")
    c.config(modem_toml() + "[wiederholung]\nversuche = 1\n")
    c.modem("--silent")
    code = c.send("alarm", "Brand")
    first = c.run_sender("--nachsenden")
    c.stop()
    c.modem()
    second = c.run_sender("--nachsenden")
    c.stop()
    report(c, 1, "Alarm Code %d, --nachsenden Code %d, dann %d: %s" % (code, first, second, c.last_line()),
           check=(code, first, second) == (1, 1, 0))

if wanted("notice_first"):
    # A notice run holds a slow modem with messages for eight people who
    # look after the PC; an alarm starts a second later. The alarm may wait
    # for the message under way, never for the other notices.
    c = Case("alarm_while_notices_send")
    c.config(modem_toml() + '[[gruppe]]\nname = "Gerätewart"\nhinweise = true\nnummern = [%s]\n'
             % ", ".join('"+4916000000%02d"' % i for i in range(8)))
    c.modem("--send-delay", "2")
    notice = c.send("notice", "Eingang still", background=True)
    time.sleep(1.0)
    alarm_start = time.time() - c.start
    code = c.send("alarm", "Brand")
    notice.wait()
    again = c.run_sender("--nachsenden")
    c.stop()
    got = c.received()
    alarm = [t for t, number, text in got if text == "Brand"]
    position = next((i for i, r in enumerate(got) if r[2] == "Brand"), -1)
    behind = sum(1 for r in got[:position] if r[2] != "Brand")
    delay = alarm[0] - alarm_start if alarm else -1
    report(c, 9, "Hinweise: %d SMS; die Alarmierung als %d. SMS, %.1f s nach ihrem Start, hinter %d Hinweis(en); "
           "Rest per --nachsenden (Code %d)" % (len(got) - len(alarm), position + 1, delay, behind, again),
           since=alarm_start, check=code == 0 and behind <= 1 and len(got) == 9)

shutil.rmtree(work, ignore_errors=True)
print()
print("| Fall | zugestellt | doppelt | Verzögerung je SMS ab Start (s) | Bemerkung |")
print("|---|---|---|---|---|")
for name, delivered, dup, delays, note in rows:
    print("| %s | %s | %s | %s | %s |" % (name, delivered, dup, delays, note))
if failed:
    print("\nNicht wie erwartet: " + ", ".join(failed))
    sys.exit(1)
