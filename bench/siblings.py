#!/usr/bin/python3
"""Wrong-unit benchmark: calls of codes that differ from configured codes.

A brigade configures a handful of codes that share most of their digits
(a unit and its sub-groups). The control centre also calls the neighbouring
units, whose codes differ in one digit. A monitor that raises a configured
code for such a call alerts the wrong unit. This benchmark builds its own
material and counts, per level:

  calls            calls played (each one code, often twice)
  raised           calls of a configured code that raised that code
  wrong            codes raised that were not sent
  twice            a configured code raised twice for one double call

Material (44100 Hz, 16-bit mono WAV, written under --work):

  families   each configured code and its one-digit neighbours in every
             position, as double calls (the code twice, 600 ms apart);
  trains     two to four units' double calls one after another, about a
             second apart, configured and neighbouring codes mixed;
  clean      single calls of the configured codes with abrupt and with
             phase-continuous tone changes;
  realistic  double calls through a receiver: squelch noise before the call,
             a 300-3000 Hz passband, a siren tone after it.

Tones are 60-80 ms long (one length per call, as an encoder sends them), a
whole call is off by up to +-1.5 % in frequency, and a tone change is abrupt
(each tone starts at a new phase, as in a tone generator that switches
oscillators) or phase-continuous. Noise is band-limited to 300-3400 Hz; the
level is the tone's power over the noise's.

    bench/siblings.py [--work DIR] [--calls N] [--seed S] [--levels 24,12,...]
                      [--scan PATH] [--before REV] [--no-multimon] [--short]

--scan names a kantiq-scan to measure (default: build/bench's, built from
this tree); --before REV also builds kantiq-scan from commit REV in a
worktree and measures it side by side. --short is the version CI runs: a
few calls per kind at 24, 12 and 6 dB, and the exit status is 1 when any
wrong code is raised.
"""
import argparse
import json
import os
import random
import re
import subprocess
import sys
import tempfile
from collections import defaultdict

try:
    import numpy as np
except ImportError:
    sys.exit("siblings: needs numpy (Debian: apt-get install python3-numpy)")

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RATE = 44100
ZVEI1 = {'1': 1060, '2': 1160, '3': 1270, '4': 1400, '5': 1530, '6': 1670,
         '7': 1830, '8': 2000, '9': 2200, '0': 2400}
REPEAT_HZ = 2600
# Configured codes: the example's two, a family around them and codes made
# of repeated digits, whose calls lean on the repeat tone.
CONFIGURED = ['23345', '23346', '23341', '23343', '33333', '33343', '43333', '12121']
# The shipped example's hand-made alarm: five tones, then a dual-tone step
# whose two tones sound together.
DUAL_STEPS = [1160, 1270, 1400, 2600, 1670, (1240, 1860)]
DUAL_TEXT = 'Sirene'
# Tolerance Hz, minimum frequency Hz, required hits, sequence timeout ms,
# peaks examined, magnitude threshold, retrigger delay ms, load high %,
# load low %, restart interval ms: the shipped example's values, with a
# retrigger delay short enough that each file's double call is one alarm and
# trains of calls do not hide each other.
PARAMS = [50, 1000, 2, 1000, 3, 8, 3000, 90, 30, 3600000]
LEVELS = [24, 12, 6, 0, -3, -6, -9]
DOUBLE_GAP_S = 0.6
UNIT_GAP_S = 1.0


def tones_of(code):
    """A code's tone frequencies: a digit whose tone equals the tone just sent is sent as the
    repeat tone instead, so 33333 is 3 R 3 R 3."""
    out = []
    for d in code:
        out.append(REPEAT_HZ if out and out[-1] == ZVEI1[d] else ZVEI1[d])
    return out


def neighbours(code):
    """Every code that differs from code in exactly one digit."""
    out = []
    for i, d in enumerate(code):
        for e in '0123456789':
            if e != d:
                out.append(code[:i] + e + code[i + 1:])
    return out


class Encoder:
    """One encoder's way of sending: tone length, frequency error, tone changes."""

    def __init__(self, rng, continuous=None):
        self.tone_s = rng.uniform(0.060, 0.080)
        self.error = rng.uniform(-0.015, 0.015)
        self.continuous = rng.random() < 0.5 if continuous is None else continuous
        self.rng = rng

    def tones(self, frequencies, amplitude):
        n = int(round(self.tone_s * RATE))
        parts = []
        phase = self.rng.uniform(0, 2 * np.pi)
        t = np.arange(n)
        for f in frequencies:
            pair = f if isinstance(f, tuple) else (f,)
            if not self.continuous:
                phase = self.rng.uniform(0, 2 * np.pi)
            w = [2 * np.pi * g * (1 + self.error) / RATE for g in pair]
            s = sum(np.sin(phase + wi * t) for wi in w) / len(pair)
            parts.append(amplitude * s)
            phase = (phase + w[0] * n) % (2 * np.pi)
        return np.concatenate(parts)

    def dual(self, steps, amplitude, last_s=2.0):
        """Tones of a siren controller: the last step's two tones together for last_s."""
        head = self.tones(steps[:-1], amplitude)
        a, b = steps[-1]
        t = np.arange(int(last_s * RATE))
        tail = amplitude * 0.5 * (np.sin(2 * np.pi * a * t / RATE) + np.sin(2 * np.pi * b * t / RATE + 1.0))
        return np.concatenate([head, tail])


def siren(seconds, phase):
    """A motor siren heard through the receiver: its tone wails between 420 and 880 Hz."""
    t = np.arange(int(seconds * RATE)) / RATE
    f = 650 + 230 * np.sin(2 * np.pi * t / 3.0 + phase)
    return 0.7 * np.sin(2 * np.pi * np.cumsum(f) / RATE)


def band_noise(rng, n, low=300.0, high=3400.0):
    """Gaussian noise band-limited in the frequency domain, unit RMS."""
    x = rng.standard_normal(n)
    spectrum = np.fft.rfft(x)
    f = np.fft.rfftfreq(n, 1 / RATE)
    spectrum[(f < low) | (f > high)] = 0
    y = np.fft.irfft(spectrum, n)
    return y / np.sqrt(np.mean(y * y))


def passband(x, low=300.0, high=3000.0):
    """A receiver's audio passband: a smooth 300-3000 Hz band with a gentle slope above 1 kHz."""
    spectrum = np.fft.rfft(x)
    f = np.fft.rfftfreq(len(x), 1 / RATE)
    gain = 1 / np.sqrt(1 + (low / np.maximum(f, 1)) ** 8) / np.sqrt(1 + (f / high) ** 8)
    gain *= 1 / np.sqrt(1 + (f / 2500) ** 2) * np.sqrt(1 + (1000 / 2500) ** 2)  # de-emphasis
    return np.fft.irfft(spectrum * gain, len(x))


class Mix:
    """Signal parts placed on a timeline; noise added at the end."""

    def __init__(self):
        self.parts = []  # (start sample, samples)
        self.cursor = 0

    def add(self, samples, gap_s=0.0):
        self.cursor += int(gap_s * RATE)
        self.parts.append((self.cursor, samples))
        self.cursor += len(samples)

    def render(self, rng, snr_db, amplitude, tail_s=1.0, receiver=False, lead_noise=True):
        """The parts, made at amplitude 1, at the given amplitude, with noise at snr_db."""
        n = self.cursor + int(tail_s * RATE)
        x = np.zeros(n)
        for start, s in self.parts:
            x[start:start + len(s)] += amplitude * s
        if receiver:
            x = passband(x)
        tone_power = amplitude * amplitude / 2
        noise = band_noise(rng, n) * np.sqrt(tone_power / 10 ** (snr_db / 10))
        if receiver and lead_noise:
            # The squelch opens 0.3 s into the file: the noise comes up with a click.
            noise[:int(0.3 * RATE)] *= 0.05
        x += noise
        peak = np.max(np.abs(x))
        if peak > 0.95:
            x *= 0.95 / peak
        return x


def write_wav(path, x):
    import wave
    data = np.clip(np.round(x * 32767), -32768, 32767).astype('<i2').tobytes()
    with wave.open(path, 'wb') as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(data)


def double_call(mix, rng, code, amplitude, gap_before, continuous=None):
    enc = Encoder(rng, continuous)
    mix.add(enc.tones(tones_of(code), amplitude), gap_before)
    mix.add(enc.tones(tones_of(code), amplitude), DOUBLE_GAP_S)


def make_material(work, calls, seed, levels):
    """Writes the WAV files and a manifest: file, kind, level, codes sent (space separated)."""
    rng = np.random.default_rng(seed)
    pick = random.Random(seed)
    os.makedirs(work, exist_ok=True)
    rows = []
    family = []
    for code in CONFIGURED:
        family.append(code)
        family += [c for c in neighbours(code) if c not in CONFIGURED]
    strangers = sorted(set(family) - set(CONFIGURED))

    def emit(kind, level, codes, mix, **render):
        name = f'{kind}-{level:+03d}-{len(rows):05d}.wav'
        amplitude = rng.uniform(0.08, 0.5)
        write_wav(os.path.join(work, name), mix.render(rng, level, amplitude, **render))
        rows.append((name, kind, level, ' '.join(codes)))

    for level in levels:
        # Families: every configured code and a sample of the neighbours.
        chosen = CONFIGURED + pick.sample(strangers, min(len(strangers), max(0, calls - len(CONFIGURED))))
        for code in chosen:
            mix = Mix()
            double_call(mix, rng, code, 1.0, pick.uniform(0.3, 0.8))
            emit('family', level, [code], mix)
        # Trains of two to four units.
        for _ in range(max(1, calls // 4)):
            units = []
            while len(units) < pick.randint(2, 4) or not units:
                code = pick.choice(CONFIGURED if pick.random() < 0.5 else strangers)
                if code not in units:
                    units.append(code)
            mix = Mix()
            gap = pick.uniform(0.3, 0.8)
            for code in units:
                double_call(mix, rng, code, 1.0, gap)
                gap = pick.uniform(0.8, 1.3)
            emit('train', level, units, mix)
        # Clean single calls, each tone change abrupt and phase-continuous.
        for continuous in (False, True):
            for code in pick.sample(CONFIGURED, min(len(CONFIGURED), max(1, calls // 8))):
                mix = Mix()
                mix.add(Encoder(rng, continuous).tones(tones_of(code), 1.0), pick.uniform(0.3, 0.8))
                emit('clean-' + ('cont' if continuous else 'abrupt'), level, [code], mix)
        # Through a receiver: squelch noise, passband, a siren tone after the call.
        for _ in range(max(1, calls // 4)):
            code = pick.choice(CONFIGURED if pick.random() < 0.5 else strangers)
            mix = Mix()
            double_call(mix, rng, code, 1.0, pick.uniform(0.5, 0.9))
            mix.add(siren(pick.uniform(2.0, 4.0), pick.uniform(0, 2 * np.pi)), pick.uniform(0.2, 0.6))
            emit('receiver', level, [code], mix, receiver=True)
        # Dual-tone alarms still work.
        for _ in range(max(1, calls // 16)):
            mix = Mix()
            mix.add(Encoder(rng).dual(DUAL_STEPS, 1.0), pick.uniform(0.3, 0.8))
            emit('dual', level, [DUAL_TEXT], mix)
    with open(os.path.join(work, 'manifest.tsv'), 'w') as f:
        for row in rows:
            f.write('\t'.join(str(c) for c in row) + '\n')
    return rows



def write_config(path, params):
    """The decoded configuration text kantiq-scan reads with --text."""
    text = '100#' + ''.join(f'{p}#' for p in params)
    for code in CONFIGURED:
        tones = tones_of(code)
        text += f'Schleife {code}#{len(tones)}#' + ''.join(f'{f}#0#0#' for f in tones)
    text += f'{DUAL_TEXT}#{len(DUAL_STEPS)}#'
    for f in DUAL_STEPS:
        text += f'{f[0]}#{f[1]}#1#' if isinstance(f, tuple) else f'{f}#0#0#'
    with open(path, 'w', encoding='cp1252') as f:
        f.write(text)


def build_scan(source, build_dir):
    subprocess.run(['cmake', '-S', source, '-B', build_dir, '-G', 'Ninja', '-DCMAKE_BUILD_TYPE=Release'],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(['cmake', '--build', build_dir, '-j2', '--target', 'kantiq-scan'],
                   check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build_dir, 'tools', 'kantiq-scan', 'kantiq-scan')


def build_before(rev, work):
    """kantiq-scan as it was at commit rev, built in a worktree of its own."""
    tree = os.path.join(work, 'before-tree')
    if os.path.exists(tree):
        subprocess.run(['git', '-C', ROOT, 'worktree', 'remove', '--force', tree], check=False)
    subprocess.run(['git', '-C', ROOT, 'worktree', 'add', '--detach', tree, rev], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    scan = build_scan(tree, os.path.join(work, 'before-build'))
    subprocess.run(['git', '-C', ROOT, 'worktree', 'remove', '--force', tree], check=False)
    return scan


def scan_all(scan, config, work, names):
    found = {}
    for i in range(0, len(names), 200):
        batch = names[i:i + 200]
        out = subprocess.run([scan, '--text', config, '--json', '--quiet',
                              *[os.path.join(work, n) for n in batch]], capture_output=True, text=True)
        if out.returncode not in (0, 1):
            sys.exit(f'siblings: kantiq-scan failed: {out.stderr}')
        for entry in json.loads(out.stdout)['files']:
            found[os.path.basename(entry['file'])] = [a['text'].split()[-1] for a in entry['alarms']]
    return found


def multimon_all(work, names):
    found = {}
    for name in names:
        raw = os.path.join(work, name[:-4] + '.raw')
        subprocess.run(['sox', '-q', os.path.join(work, name), '-t', 'raw', '-e', 'signed-integer', '-b', '16',
                        '-r', '22050', '-c', '1', raw], check=True)
        out = subprocess.run(['multimon-ng', '-q', '-c', '-a', 'ZVEI1', '-t', 'raw', raw],
                             capture_output=True, text=True).stdout
        os.remove(raw)
        codes = []
        for m in re.findall(r'ZVEI1: ([0-9A-FE]+)', out):
            code = ''
            for c in m:  # the repeat tone E stands for the digit before it
                code += code[-1] if c == 'E' and code else c
            codes.append(code)
        found[name] = codes
    return found


def tally(rows, found):
    """Per level: calls, configured calls, raised, wrong codes, raised twice."""
    table = defaultdict(lambda: defaultdict(int))
    wrong_examples = []
    wanted = set(CONFIGURED) | {DUAL_TEXT}
    for name, kind, level, codes in rows:
        sent = codes.split()
        got = [c for c in found.get(name, []) if c in wanted]
        t = table[int(level)]
        t['calls'] += len(sent)
        for c in sent:
            if c in wanted:
                t['configured'] += 1
                t['raised'] += c in got
                t['twice'] += max(0, got.count(c) - 1)
        wrong = [c for c in got if c not in sent]
        t['wrong'] += len(wrong)
        if wrong:
            wrong_examples.append(f'{name}: sent {codes}, raised {" ".join(wrong)}')
    return table, wrong_examples


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    ap.add_argument('--work', default=os.path.join(ROOT, 'build', 'siblings-work'))
    ap.add_argument('--calls', type=int, default=60, help='family calls per level (other kinds scale with it)')
    ap.add_argument('--seed', type=int, default=20261209)
    ap.add_argument('--levels', default=','.join(str(v) for v in LEVELS))
    ap.add_argument('--scan', help='kantiq-scan to measure (default: built from this tree)')
    ap.add_argument('--before', help='also measure kantiq-scan built from this commit')
    ap.add_argument('--no-multimon', action='store_true')
    ap.add_argument('--short', action='store_true', help='a few calls per kind; exit 1 on any wrong code')
    ap.add_argument('--reuse', action='store_true', help='keep material already written')
    args = ap.parse_args()
    levels = [int(v) for v in args.levels.split(',')]
    if args.short:
        args.calls, levels, args.no_multimon = 12, [24, 12, 6], True
    work = args.work
    manifest = os.path.join(work, 'manifest.tsv')
    if not (args.reuse and os.path.exists(manifest)):
        subprocess.run(['rm', '-rf', work], check=True)
        make_material(work, args.calls, args.seed, levels)
    rows = [line.rstrip('\n').split('\t') for line in open(manifest)]
    config = os.path.join(work, 'config.txt')
    write_config(config, PARAMS)
    names = [r[0] for r in rows]

    decoders = {}
    if args.before:
        decoders[f'before ({args.before})'] = scan_all(build_before(args.before, work), config, work, names)
    scan = args.scan or build_scan(ROOT, os.path.join(ROOT, 'build', 'bench'))
    decoders['kantiq-scan'] = scan_all(scan, config, work, names)
    if not args.no_multimon:
        decoders['multimon-ng'] = multimon_all(work, names)

    any_wrong = 0
    print(f'{len(rows)} files; configured: {" ".join(CONFIGURED)} and a dual-tone alarm')
    for label, found in decoders.items():
        table, examples = tally(rows, found)
        print(f'\n{label}')
        print('| level dB | calls | configured | raised | wrong | twice |')
        print('|---|---|---|---|---|---|')
        total = defaultdict(int)
        for level in sorted(table, reverse=True):
            t = table[level]
            for k, v in t.items():
                total[k] += v
            print(f"| {level:+d} | {t['calls']} | {t['configured']} | {t['raised']} | {t['wrong']} | {t['twice']} |")
        print(f"| all | {total['calls']} | {total['configured']} | {total['raised']} | {total['wrong']} |"
              f" {total['twice']} |")
        for line in examples[:12]:
            print('  wrong:', line)
        if label == 'kantiq-scan':
            any_wrong = total['wrong']
    if args.short and any_wrong:
        print(f'\nsiblings: {any_wrong} wrong codes raised', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
