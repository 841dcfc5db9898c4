#!/usr/bin/env python3
"""Detection benchmark: kantiq-scan against multimon-ng on a synthetic corpus.

Generates the corpus (bench/make_corpus plus German speech from espeak-ng),
runs both decoders on the same files and prints, side by side, recall per SNR
level, false alarms per kind of negative and throughput on one long file.

  bench/bench.py [--work DIR] [--calls N] [--params P1,...,P10] [--reuse]
"""
import argparse
import json
import os
import re
import resource
import subprocess
import sys
import time
from collections import defaultdict

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ZVEI1 = {'1': 1060, '2': 1160, '3': 1270, '4': 1400, '5': 1530, '6': 1670,
         '7': 1830, '8': 2000, '9': 2200, '0': 2400}
REPEAT_HZ = 2600
# Detector parameters in the configuration's order: tolerance Hz, minimum
# frequency Hz, required hits, sequence timeout ms, peaks examined,
# magnitude threshold, retrigger delay ms, load high %, load low %,
# restart interval ms.
DEFAULT_PARAMS = '50,1000,2,1000,3,8,60000,90,30,3600000'
SPEECH = [
    'Achtung, hier spricht die Leitstelle. Bitte melden Sie sich auf Kanal zwei.',
    'Einsatz für den Löschzug eins, Brand in der Hauptstraße, Hausnummer zwölf.',
    'Verkehrsunfall auf der Bundesstraße, zwei Fahrzeuge, eine Person eingeklemmt.',
    'Die Wache ist wieder einsatzbereit, alle Fahrzeuge sind an der Station.',
    'Probealarm am Samstag um zwölf Uhr, bitte keine Rückfragen an die Leitstelle.',
    'Rettungswagen drei, fahren Sie bitte zum Krankenhaus am Stadtpark.',
    'Wir wiederholen: Sturmwarnung für den gesamten Landkreis bis morgen früh.',
    'Neun, acht, sieben, sechs, fünf, vier, drei, zwei, eins, null.',
]


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def zvei_tones(code):
    out = []
    for d in code:
        f = ZVEI1[d]
        out.append(REPEAT_HZ if out and out[-1] == f else f)
    return out


def write_config(path, codes, params):
    text = '100#' + ''.join(f'{p}#' for p in params)
    for code in codes:
        tones = zvei_tones(code)
        text += f'Schleife {code}#{len(tones)}#' + ''.join(f'{f}#0#0#' for f in tones)
    with open(path, 'w', encoding='cp1252') as f:
        f.write(text)


def build(build_dir):
    run(['cmake', '-S', ROOT, '-B', build_dir, '-G', 'Ninja', '-DCMAKE_BUILD_TYPE=Release'],
        stdout=subprocess.DEVNULL)
    run(['cmake', '--build', build_dir, '-j2', '--target', 'kantiq-scan', 'make_corpus'],
        stdout=subprocess.DEVNULL)


def make_corpus(build_dir, corpus, calls, seed):
    speech_dir = os.path.join(corpus, 'speech-src')
    os.makedirs(speech_dir, exist_ok=True)
    speech = []
    for i, sentence in enumerate(SPEECH):
        raw = os.path.join(speech_dir, f'raw{i}.wav')
        wav = os.path.join(speech_dir, f'speech{i}.wav')
        run(['espeak-ng', '-v', 'de', '-s', str(140 + 10 * i), '-w', raw, sentence])
        run(['sox', '-q', raw, '-r', '44100', '-c', '1', '-b', '16', wav])
        speech.append(wav)
    run([os.path.join(build_dir, 'bench', 'make_corpus'), corpus, '--calls', str(calls), '--seed', str(seed),
         '--speech', *speech])


def read_manifest(corpus):
    rows = []
    with open(os.path.join(corpus, 'manifest.tsv')) as f:
        next(f)
        for line in f:
            name, kind, snr, code = line.rstrip('\n').split('\t')
            rows.append({'file': name, 'kind': kind, 'snr': snr, 'code': code})
    return rows


def kantiq_scan(build_dir, config, corpus, files):
    out = subprocess.run([os.path.join(build_dir, 'tools', 'kantiq-scan', 'kantiq-scan'), '--text', config,
                          '--json', '--quiet', *[os.path.join(corpus, f) for f in files]],
                         capture_output=True, text=True)
    if out.returncode not in (0, 1):
        sys.exit(f'kantiq-scan failed: {out.stderr}')
    found = {}
    for entry in json.loads(out.stdout)['files']:
        rel = os.path.relpath(entry['file'], corpus)
        found[rel] = [a['text'].split()[-1] for a in entry['alarms']]
    return found


def resolve_repeats(decoded):
    """multimon-ng prints the repeat tone as E: it stands for the digit before it."""
    out = ''
    for c in decoded:
        out += out[-1] if c == 'E' and out else c
    return out


def to_raw(corpus, name):
    raw = os.path.join(corpus, 'raw', name[:-4] + '.raw')
    if not os.path.exists(raw):
        os.makedirs(os.path.dirname(raw), exist_ok=True)
        run(['sox', '-q', os.path.join(corpus, name), '-t', 'raw', '-e', 'signed-integer', '-b', '16',
             '-r', '22050', '-c', '1', raw])
    return raw


def multimon(corpus, files):
    found = {}
    for name in files:
        out = subprocess.run(['multimon-ng', '-q', '-c', '-a', 'ZVEI1', '-t', 'raw', to_raw(corpus, name)],
                             capture_output=True, text=True).stdout
        found[name] = [resolve_repeats(m) for m in re.findall(r'ZVEI1: ([0-9A-FE]+)', out)]
    return found


def evaluate(rows, found, configured):
    """Recall per SNR level on calls; false alarms (configured codes raised
    that were not sent) per kind of file."""
    recall = defaultdict(lambda: [0, 0])
    false_alarms = defaultdict(lambda: [0, 0])  # kind -> [alarms, files]
    for r in rows:
        if r['kind'] == 'long':
            continue
        got = [c for c in found.get(r['file'], []) if c in configured]
        sent = r['code'] if r['kind'] == 'call' else None
        if r['kind'] == 'call':
            recall[r['snr']][1] += 1
            recall[r['snr']][0] += sent in got
        wrong = [c for c in got if c != sent]
        false_alarms[r['kind']][0] += len(wrong)
        false_alarms[r['kind']][1] += 1
    return recall, false_alarms


def timed(cmd):
    """Wall-clock and CPU seconds (user + system) of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t = time.perf_counter()
    run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - t
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def throughput(build_dir, config, corpus):
    """Best of three runs of each decoder on the long file."""
    long_wav = os.path.join(corpus, 'long', 'long.wav')
    seconds = os.path.getsize(long_wav) / 2 / 44100
    raw = to_raw(corpus, 'long/long.wav')
    commands = {
        'kantiq-scan (44100 Hz WAV in)': [os.path.join(build_dir, 'tools', 'kantiq-scan', 'kantiq-scan'),
                                          '--text', config, '--quiet', long_wav],
        'multimon-ng (22050 Hz raw in)': ['multimon-ng', '-q', '-c', '-a', 'ZVEI1', '-t', 'raw', raw],
        'multimon-ng (the WAV via sox)': ['multimon-ng', '-q', '-c', '-a', 'ZVEI1', '-t', 'wav', long_wav],
    }
    best = {name: (float('inf'), float('inf')) for name in commands}
    for _ in range(3):
        for name, cmd in commands.items():
            wall, cpu = timed(cmd)
            best[name] = (min(best[name][0], wall), min(best[name][1], cpu))
    return seconds, best


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--work', default=os.path.join(ROOT, 'build', 'bench-work'))
    ap.add_argument('--calls', type=int, default=50, help='calls per SNR level and files per negative kind')
    ap.add_argument('--params', default=DEFAULT_PARAMS)
    ap.add_argument('--seed', type=int, default=20261208, help='seed of the corpus')
    ap.add_argument('--reuse', action='store_true', help='keep an existing corpus')
    ap.add_argument('--no-multimon', action='store_true')
    ap.add_argument('--no-speed', action='store_true')
    args = ap.parse_args()

    build_dir = os.path.join(ROOT, 'build', 'bench')
    build(build_dir)
    corpus = os.path.join(args.work, 'corpus')
    if not (args.reuse and os.path.exists(os.path.join(corpus, 'manifest.tsv'))):
        run(['rm', '-rf', corpus])
        make_corpus(build_dir, corpus, args.calls, args.seed)
    rows = read_manifest(corpus)
    codes = open(os.path.join(corpus, 'codes.txt')).read().split()
    params = [int(p) for p in args.params.split(',')]
    config = os.path.join(args.work, 'config.txt')
    write_config(config, codes, params)

    files = [r['file'] for r in rows if r['kind'] != 'long']
    results = {'kantiq-scan': kantiq_scan(build_dir, config, corpus, files)}
    if not args.no_multimon:
        results['multimon-ng'] = multimon(corpus, files)
    names = list(results)
    evaluated = {n: evaluate(rows, results[n], set(codes)) for n in names}

    print(f'detector parameters: {args.params}')
    print(f'recall per SNR level (calls per level: {args.calls})')
    print('  SNR dB  ' + ''.join(f'{n:>14}' for n in names))
    for snr in sorted({r['snr'] for r in rows if r['kind'] == 'call'}, key=lambda s: -int(s)):
        cells = ''
        for n in names:
            hit, total = evaluated[n][0][snr]
            cells += f'{100.0 * hit / total:13.1f}%'
        print(f'  {snr:>6}  {cells}')
    print('false alarms (configured codes raised that were not sent) per kind of file')
    print('  kind          files' + ''.join(f'{n:>14}' for n in names))
    for kind in ['call', 'noise', 'speech', 'offgrid', 'unconfigured', 'nearmiss']:
        if kind not in evaluated[names[0]][1]:
            continue
        total = evaluated[names[0]][1][kind][1]
        print(f'  {kind:<12}{total:>7}' + ''.join(f'{evaluated[n][1][kind][0]:>14}' for n in names))
    if not args.no_speed:
        seconds, best = throughput(build_dir, config, corpus)
        print(f'throughput on one long file ({seconds:.0f} s of audio, best of three runs)')
        print('  decoder                          wall s   x real time    CPU s   x real time')
        for name, (wall, cpu) in best.items():
            print(f'  {name:<30} {wall:8.3f} {seconds / wall:10.0f} {cpu:10.3f} {seconds / cpu:10.0f}')


if __name__ == '__main__':
    main()
