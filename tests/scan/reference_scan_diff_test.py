#!/usr/bin/env python3
"""kantiq-scan and bench/reference_scan.py must raise the same alarms at the same times.

    reference_scan_diff_test.py KANTIQ_SCAN REFERENCE_SCAN

Synthesises short 44100 Hz calls (seeded), writes two decoded configurations,
runs both scanners on every file and fails when their lines differ in any
byte, or when a call that has to raise its alarm did not (so two scanners
that both print nothing cannot pass).
"""

import os
import subprocess
import sys
import tempfile
import wave

try:
    import numpy as np
except ImportError:
    # Debian's python3-numpy belongs to the system interpreter; a python3 found
    # earlier on PATH (a pyenv shim, say) may not see it.
    if os.path.exists("/usr/bin/python3") and os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    sys.exit("FAIL: numpy is missing (scripts/setup.sh installs python3-numpy)")

RATE = 44100
ZVEI1 = {"1": 1060, "2": 1160, "3": 1270, "4": 1400, "5": 1530, "6": 1670, "7": 1830, "8": 2000, "9": 2200, "0": 2400}
REPEAT = 2600

ZVEI_ALARMS = (  # text, steps as (frequency1, frequency2, dual-tone flag)
    ("Ruf 12345", [(1060, 0, 0), (1160, 0, 0), (1270, 0, 0), (1400, 0, 0), (1530, 0, 0)]),
    ("Ruf 23345 Kräfte", [(1160, 0, 0), (1270, 0, 0), (2600, 0, 0), (1400, 0, 0), (1530, 0, 0)]),
    ("Sirene", [(1400, 0, 0), (1240, 1860, 1), (2200, 0, 0)]),
)
# A brigade's neighbouring codes, for calls in noise as strong as the tones.
NEIGHBOUR_ALARMS = (
    ("Ruf 23345", [(1160, 0, 0), (1270, 0, 0), (2600, 0, 0), (1400, 0, 0), (1530, 0, 0)]),
    ("Ruf 43333", [(1400, 0, 0), (1270, 0, 0), (2600, 0, 0), (1270, 0, 0), (2600, 0, 0)]),
    ("Ruf 33333", [(1270, 0, 0), (2600, 0, 0), (1270, 0, 0), (2600, 0, 0), (1270, 0, 0)]),
)
# Lines 60, 80, 130 and 210 of a 2048-point transform lie at 1291, 1722, 2799 and 4522 Hz.
EDGE_ALARMS = (
    ("tief 1291", [(1291, 0, 0)]),
    ("hoch 1722", [(1722, 0, 0)]),
    ("Grenze 2849", [(2849, 0, 0)]),  # 2799 Hz is exactly the tolerance away: never
    ("innen 2848", [(2848, 0, 0)]),
    ("zu hoch 4522", [(4522, 0, 0)]),  # line 210, above the 200 lines a 200-pixel spectrogram shows
)


def parameters(hits, peaks, threshold, retrigger):
    # tolerance, minimum frequency, required hits, sequence timeout, peaks examined, magnitude threshold, retrigger
    return (50, 1000, hits, 1000, peaks, threshold, retrigger)


def config_text(params, alarms):
    text = "100#" + "#".join(str(p) for p in params) + "#90#30#3600000#"
    for name, steps in alarms:
        text += f"{name}#{len(steps)}#" + "".join(f"{a}#{b}#{c}#" for a, b, c in steps)
    return text.encode("cp1252")


def tone(f, seconds, amplitude):
    t = np.arange(int(RATE * seconds)) / RATE
    return amplitude * np.sin(2 * np.pi * f * t)


def silence(seconds):
    return np.zeros(int(RATE * seconds))


def zvei_call(code, amplitude=0.5, seconds=0.07):
    freqs, previous = [], None
    for digit in code:
        freqs.append(REPEAT if digit == previous else ZVEI1[digit])
        previous = digit
    return np.concatenate([tone(f, seconds, amplitude) for f in freqs])


def encoder_call(code, amplitude):
    """A call as an encoder sends it: a digit whose tone equals the tone just sent is the repeat tone."""
    freqs = []
    for digit in code:
        freqs.append(REPEAT if freqs and freqs[-1] == ZVEI1[digit] else ZVEI1[digit])
    return np.concatenate([tone(f, 0.07, amplitude) for f in freqs])


def double_call_in_noise(code, seed):
    """The call twice, in white noise 6 dB stronger than the tones within 300-3400 Hz."""
    rng = np.random.default_rng(seed)
    call = encoder_call(code, 0.05)
    x = np.concatenate([silence(0.4), call, silence(0.6), call, silence(0.6)])
    return x + rng.normal(0, 0.05 / np.sqrt(2) * 2 / np.sqrt(3100 / 22050), len(x))


def line(k):
    return RATE * k / 2048


def signals(rng):
    call = zvei_call("12345")
    noisy = np.concatenate([silence(0.5), zvei_call("23345", 0.2), silence(0.5)])
    steps = lambda middle: np.concatenate([tone(f, 0.1, 0.5) for f in (1400, middle, 2200)])  # noqa: E731
    # Two tones of equal strength: 1722 Hz from 0.1 to 0.7 s, 1291 Hz from 0.25 to 0.55 s. While both
    # sound their magnitudes truncate to the same value (100 in 8-bit capture), otherwise 1722 Hz is the
    # stronger, so with one peak examined only the higher line may ever count.
    tie = silence(0.9)
    tie[4410:30870] += tone(line(80), 0.6, 0.1388)
    tie[11025:24255] += tone(line(60), 0.3, 0.1388)
    # The last tone of this call starts 554 samples into the 18th capture buffer of 1472 samples and
    # the file ends 1400 samples into it: that buffer is never full, so the call is never complete.
    cut = np.concatenate([silence(0.3), call])[:17 * 1472 + 1400]
    return {
        "clean": np.concatenate([silence(0.3), call, silence(0.5)]),
        "noise": noisy + rng.normal(0, 0.05, len(noisy)),
        "dual-first": np.concatenate([silence(0.2), steps(1240), silence(0.4)]),
        "dual-second": np.concatenate([silence(0.2), steps(1860), silence(0.4)]),
        # the second call comes about 0.75 s after the first: inside 60 s, outside 500 ms
        "twice": np.concatenate([silence(0.3), call, silence(0.4), call, silence(0.5)]),
        "near-miss": np.concatenate([silence(0.3), zvei_call("12346"), silence(0.5)]),
        "noise-only": rng.normal(0, 0.1, RATE * 2),
        "cut": cut,
        "tie": tie,
        "edge": np.concatenate([silence(0.2), tone(line(130), 0.3, 0.3), silence(0.3)]),
        # magnitude about 80 as 8-bit samples, (byte-128)*64, and four times that in 16-bit capture
        "quiet": np.concatenate([silence(0.2), tone(line(130), 0.3, 0.11), silence(0.3)]),
        "high": np.concatenate([silence(0.2), tone(line(210), 0.3, 0.3), silence(0.3)]),
        # Where the noise floor decides: noise after the second 43333 of this one stood in for the
        # last 3 of 33333 before it, and this 33333 was raised a frame earlier.
        "noisy-33333": double_call_in_noise("33333", 6),
        "noisy-43333": double_call_in_noise("43333", 18),
        "noisy-23347": double_call_in_noise("23347", 1),
    }


SMALL_CAPTURE = ["--bits", "16", "--points", "1024", "--samples-per-buffer", "512"]
ZVEI_FILES = ("clean", "noise", "dual-first", "dual-second", "twice", "near-miss", "noise-only")
# Each run: configuration, capture options, and per file the alarm texts kantiq-scan must raise, in order.
# Not three hits with 1024 points: its lines are 43 Hz apart, so a tone's side lines fall inside the
# next tone's 50 Hz window and that configuration loses clean calls.
RUNS = {
    "one hit": (parameters(1, 3, 8, 60000), ZVEI_ALARMS, [], {
        "clean": ["Ruf 12345"], "noise": ["Ruf 23345 Kräfte"], "dual-first": ["Sirene"], "dual-second": ["Sirene"],
        "twice": ["Ruf 12345"], "near-miss": [], "noise-only": [], "cut": []}),
    "one hit, 16-bit 1024 points": (parameters(1, 3, 8, 60000), ZVEI_ALARMS, SMALL_CAPTURE, {
        "clean": ["Ruf 12345"], "noise": ["Ruf 23345 Kräfte"], "dual-first": ["Sirene"], "dual-second": ["Sirene"],
        "twice": ["Ruf 12345"], "near-miss": [], "noise-only": [], "cut": ["Ruf 12345"]}),
    "three hits": (parameters(3, 5, 8, 500), ZVEI_ALARMS, [], {
        "clean": ["Ruf 12345"], "noise": ["Ruf 23345 Kräfte"], "dual-first": ["Sirene"], "dual-second": ["Sirene"],
        "twice": ["Ruf 12345", "Ruf 12345"], "near-miss": [], "noise-only": []}),
    "neighbours at -6 dB": (parameters(2, 3, 8, 3000), NEIGHBOUR_ALARMS, [], {
        "noisy-33333": ["Ruf 33333"], "noisy-43333": ["Ruf 43333"], "noisy-23347": []}),
    "one peak": (parameters(1, 1, 8, 60000), EDGE_ALARMS, [], {
        "tie": ["hoch 1722"], "edge": ["innen 2848"], "high": []}),
    "one peak, threshold 100": (parameters(1, 1, 100, 60000), EDGE_ALARMS, [], {
        "tie": [], "edge": ["innen 2848"], "quiet": []}),
    "one peak, threshold 100, 16-bit": (parameters(1, 1, 100, 60000), EDGE_ALARMS, ["--bits", "16"], {
        "tie": ["hoch 1722"], "edge": ["innen 2848"], "quiet": ["innen 2848"]}),
}


def write_wav(path, x):
    pcm = np.clip(np.round(x * 32767), -32768, 32767).astype("<i2")
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(pcm.tobytes())


def run(command):
    done = subprocess.run(command, capture_output=True, timeout=120)
    if done.returncode not in (0, 1):
        sys.exit(f"FAIL: {' '.join(command)} ended with {done.returncode}: {done.stderr.decode(errors='replace')}")
    return done.stdout.decode("utf-8").splitlines()


def main():
    scan, reference = sys.argv[1], sys.argv[2]
    failures = 0
    with tempfile.TemporaryDirectory() as d:
        files = {}
        for name, x in signals(np.random.default_rng(20261208)).items():
            files[name] = os.path.join(d, name + ".wav")
            write_wav(files[name], x)
        for label, (params, alarms, capture, expected) in RUNS.items():
            text_path = os.path.join(d, "config.txt")
            with open(text_path, "wb") as f:
                f.write(config_text(params, alarms))
            paths = [files[name] for name in expected]
            ours = run([scan, "--quiet", "--text", text_path, *capture, *paths])
            theirs = run([sys.executable, reference, "--text", text_path, *capture, *paths])
            if ours != theirs:
                failures += 1
                print(f"FAIL: {label}: the scanners differ\n  kantiq-scan:\n    " + "\n    ".join(ours) +
                      "\n  reference:\n    " + "\n    ".join(theirs))
            for name, texts in expected.items():
                raised = [fields[2] for fields in (x.split("\t") for x in ours) if fields[0] == files[name]]
                if raised != texts:
                    failures += 1
                    print(f"FAIL: {label}: {name}: expected {texts}, kantiq-scan raised {raised}")
                else:
                    print(f"ok: {label}: {name}: {raised}")
    print(f"{failures} failed" if failures else "all agree")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
