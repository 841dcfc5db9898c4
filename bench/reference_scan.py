#!/usr/bin/env python3
"""A second implementation of kantiq-scan's detection, written apart from the C++.

It reads a decoded configuration text and mono 16-bit WAV files at the capture
rate, runs the tone-sequence detector frame by frame with numpy's FFT instead
of the program's own transform, and prints the alarms in kantiq-scan's line
format (file, seconds.milliseconds, text). Comparing its output with
kantiq-scan's on the same files shows where either one strays.

    bench/reference_scan.py --text config.txt call.wav [more.wav ...]
"""

import argparse
import math
import os
import sys
import wave

try:
    import numpy as np
except ImportError:
    sys.exit("reference_scan: needs numpy (Debian: apt-get install python3-numpy, for /usr/bin/python3)")

TICKS_PER_SECOND = 10_000_000
PEAK_CAPACITY = 1000
DOMINANCE_TENTHS = 3  # a tone under 3/10 of the frame's strongest is not one of its tones
LEVEL_FALL_TENTHS = 3  # a hit needs 3/10 of the previous step's level
LEVEL_RISE_FACTOR = 4  # more than 4 times the previous step's level: the call starts here
FIRST_STEP_RISE_FACTOR = 2  # the same after the first step, which noise stands in for most easily
CLEAR_FIRST_STEP_RISE_FACTOR = 4  # the same after a clear first step: a call's start splatters clear of quiet noise
FOREIGN_TONE_TENTHS = 16  # a tone 16/10 of a match that is neither step's vetoes the hit
CLEAR_TONE_TENTHS = 50  # a tone at 5 times its frame's noise floor stands clear of the noise
UNCLEAR_LAST_STEP_FALL_FACTOR = 2  # an unclear last step needs half the call's strongest earlier tone
DROPOUT_TONE_TENTHS = 40  # a frame without the tones is forgiven once, unless it holds a tone this strong
OFF_CALL_FIRST_STEP_TENTHS = 20  # an unclear first step 2 bins off the call's frequency error was noise
OFF_CALL_LAST_STEP_TENTHS = 15  # an unclear last step completes only within 1.5 bins of it
STEP_GAP_MS = 200  # a step's first hit within 200 ms of the last hearing of the step before
LONGEST_HOLD_MS = 400  # a completion read from a call's tones shifted by one waits at most this long


def read_number(field):
    """Leading blanks, an optional sign, then digits up to the first non-digit; none read as 0."""
    text = field.lstrip(b" \t\n\v\f\r")
    sign = 1
    if text[:1] in (b"+", b"-"):
        sign = -1 if text[:1] == b"-" else 1
        text = text[1:]
    digits = b""
    for byte in text:
        if not 0x30 <= byte <= 0x39:
            break
        digits += bytes([byte])
    value = sign * int(digits) if digits else 0
    return (value + 2**31) % 2**32 - 2**31  # a 32-bit signed result


class Step:
    def __init__(self, frequency1, frequency2, dual):
        self.frequency1, self.frequency2, self.dual = frequency1, frequency2, dual
        self.hits = 0  # set hit flags; they always form a prefix, so a count is enough
        self.detected = None  # ticks of the latest hit, None when there is none
        self.level = 0  # strongest magnitude of the step's tone since its first hit (a dual step's two tones together)
        self.clear = False  # the tone has stood clear of the noise in some frame
        self.level_frequency = 0  # the frequency the tone showed at its level
        self.heard = None  # milliseconds of the last hit or clear frame, None when there is none

    def matches(self, f, tolerance):
        def near(g):
            return g - tolerance < f < g + tolerance

        return near(self.frequency1) or (self.dual and near(self.frequency2))


class Alarm:
    def __init__(self, text, steps):
        self.text, self.steps = text, steps
        self.raised = False
        self.raised_time = None
        self.completed = None  # ms of the last frame that found the sequence complete
        self.held_for = None  # the alarm whose longer reading holds this one's completion
        self.held_ms = None

    def reset(self):
        for step in self.steps:
            step.hits = 0
            step.detected = None
            step.level = 0
            step.clear = False
            step.level_frequency = 0
            step.heard = None
        self.dropout_held = False  # one frame without the tones has been forgiven
        self.other_tone = 0  # a clear tone of the last frame that is neither the last nor the next step's


def parse_configuration(text):
    """Returns (parameters 1..10 as a list, alarms) from a decoded configuration text."""
    text = text.split(b"\0", 1)[0]
    fields = text.split(b"#")[:-1]  # bytes after the last '#' form no field
    if len(fields) < 11:
        sys.exit("reference_scan: the configuration stops before its ten parameters")
    if read_number(fields[0]) != 100:
        sys.exit("reference_scan: format number is not 100")
    parameters = [read_number(f) for f in fields[1:11]]
    alarms = []
    i = 11
    while i < len(fields):
        alarm_text = fields[i]
        if i + 1 >= len(fields):
            sys.exit("reference_scan: an alarm ends before its step count")
        count = read_number(fields[i + 1])
        i += 2
        steps = []
        while len(steps) < count and i + 3 <= len(fields):
            f1, f2, dual = (read_number(f) for f in fields[i:i + 3])
            steps.append(Step(f1, f2, dual != 0))
            i += 3
        alarms.append(Alarm(alarm_text, steps))
    return parameters, alarms


def to_utf8(text):
    """Windows-1252 to str; the five bytes it leaves undefined stand for themselves."""
    return "".join(bytes([b]).decode("cp1252", errors="ignore") or chr(b) for b in text)


def read_wav(path, rate):
    with wave.open(path, "rb") as w:
        if w.getnchannels() != 1 or w.getsampwidth() != 2 or w.getframerate() != rate:
            raise ValueError(f"needs mono 16-bit PCM at {rate} Hz")
        data = w.readframes(w.getnframes())
    return np.frombuffer(data, dtype="<i2").astype(np.float32) / np.float32(32768)


def capture_samples(x, bits):
    """What the capture format delivers for float samples x: 8-bit bytes read back as (byte-128)*64."""
    x = np.clip(x.astype(np.float32), np.float32(-1), np.float32(1))
    if bits == 8:
        byte = np.minimum((x * np.float32(128) + np.float32(128.5)).astype(np.int64), 255)
        return (byte - 128) * 64
    return np.minimum((x * np.float32(32768) + np.float32(32768.5)).astype(np.int64), 65535) - 32768


def tones_of_peaks(peaks, magnitude, frequencies, min_freq):
    """(frequency, magnitude) of the tone each peak belongs to, strongest peak first.

    A peak stands for the top of the hill it lies on; a top at or below the
    minimum frequency is no tone; tones under DOMINANCE_TENTHS of the strongest
    are dropped."""
    tones = []
    for b in peaks:
        b = int(b)
        while True:
            if b + 1 < len(magnitude) and magnitude[b + 1] > magnitude[b]:
                b += 1
            elif b > 0 and magnitude[b - 1] > magnitude[b]:
                b -= 1
            else:
                break
        if frequencies[b] > min_freq:
            tones.append((int(frequencies[b]), int(magnitude[b])))
    strongest = max((m for _, m in tones), default=0)
    return [(f, m) for f, m in tones if m * 10 >= strongest * DOMINANCE_TENTHS]


def rise_limit(step, steps):
    return FIRST_STEP_RISE_FACTOR if step is steps[0] else LEVEL_RISE_FACTOR


def rises_above(step, steps, m):
    """m rises above the step's level by more than its rise limit (an unclear step) or by more
    than CLEAR_FIRST_STEP_RISE_FACTOR (a clear first step)."""
    if not step.clear:
        return m > step.level * rise_limit(step, steps)
    return step is steps[0] and m > step.level * CLEAR_FIRST_STEP_RISE_FACTOR


def tone_magnitude(step, f, m, candidates, tolerance):
    """A dual step's tone is its two frequencies' strongest candidates together."""
    if not step.dual:
        return m
    first = max((m2 for f2, m2 in candidates if step.frequency1 - tolerance < f2 < step.frequency1 + tolerance),
                default=0)
    second = max((m2 for f2, m2 in candidates
                  if not step.frequency1 - tolerance < f2 < step.frequency1 + tolerance
                  and step.frequency2 - tolerance < f2 < step.frequency2 + tolerance), default=0)
    return max(m, first + second)


def lies_off_call(step, clear_step, clear_frequency, tenths_of_a_bin, rate, points):
    """The step's tone lies further from where the call's frequency error (a clear tone of
    clear_step heard at clear_frequency) puts it than tenths_of_a_bin tenths of a bin."""
    if step.dual or clear_step.dual or step.level_frequency == 0 or clear_step.frequency1 <= 0:
        return False
    product = step.frequency1 * clear_frequency  # divided as C++ divides: toward zero
    expected = product // clear_step.frequency1 if product >= 0 else -((-product) // clear_step.frequency1)
    return abs(step.level_frequency - expected) * points * 10 > rate * tenths_of_a_bin


def milliseconds(later, earlier):
    """Whole milliseconds between two tick counts, truncated toward zero."""
    d = later - earlier
    return d // 10000 if d >= 0 else -((-d) // 10000)


def scan(samples, rate, points, per_buffer, height, parameters, alarms):
    """Runs the detector over the samples; yields (audio position in ms, alarm text) per raise."""
    tolerance, min_freq, required, seq_timeout, examined, threshold, retrigger = parameters[:7]
    for alarm in alarms:
        alarm.reset()
        alarm.raised, alarm.raised_time = False, None
        alarm.completed = alarm.held_for = alarm.held_ms = alarm.raised_ms = None

    def steps_heard(alarm):
        k = 0
        while k < len(alarm.steps) and alarm.steps[k].hits >= required:
            k += 1
        return k + 1 if k < len(alarm.steps) and alarm.steps[k].hits else k

    def same_tone(s, o):
        return (s.frequency1, s.dual, s.frequency2 if s.dual else 0) == (o.frequency1, o.dual, o.frequency2 if o.dual else 0)

    def read_from_earlier_call(alarm, now_ms):
        """The last step never stood clear, and the other steps are the last steps of an alarm
        raised since this one's first step was heard."""
        n = len(alarm.steps)
        first = alarm.steps[0].detected
        if n < 2 or alarm.steps[-1].clear or first is None:
            return False
        first_ms = first // 10000
        for other in alarms:
            if other is alarm or len(other.steps) < n - 1 or other.raised_ms is None:
                continue
            if not first_ms <= other.raised_ms < now_ms:
                continue
            if all(same_tone(s, o) for s, o in zip(alarm.steps[:n - 1], other.steps[len(other.steps) - (n - 1):])):
                return True
        return False

    def longer_reading(alarm):
        """An alarm that heard every tone of this one but its unclear first as its own first tones."""
        n = len(alarm.steps)
        if n < 2 or alarm.steps[0].clear:
            return None
        index = alarms.index(alarm)
        for b, other in enumerate(alarms):
            heard = n - 1 if b < index else n - 2  # a later alarm has not yet heard this frame
            if other is alarm or len(other.steps) < n or steps_heard(other) < heard:
                continue
            if all(same_tone(s, o) for s, o in zip(alarm.steps[1:], other.steps)):
                return other
        return None
    window = np.zeros(points)
    normaliser = math.sqrt(points)
    bins = min(points // 2, height)
    frequencies = (rate * np.arange(bins)) // points
    bin_of = {int(f): b for b, f in enumerate(frequencies)}  # a tone's frequency names its top's bin
    for start in range(0, len(samples) - per_buffer + 1, per_buffer):
        window = np.concatenate([window[per_buffer:], samples[start:start + per_buffer].astype(np.float64)])
        spectrum = np.fft.fft(window)[:bins]
        re, im = spectrum.real, spectrum.imag
        magnitude = (np.sqrt(re * re + im * im) / normaliser * 0.00390625).astype(np.int64)
        in_band = magnitude[frequencies > min_freq]
        floor = int(in_band.sum()) // len(in_band) if len(in_band) else 0
        peaks = np.nonzero((magnitude > threshold) & (frequencies > min_freq))[0][:PEAK_CAPACITY]
        order = peaks[np.argsort(magnitude[peaks], kind="stable")]  # equal magnitudes keep bin order
        candidates = tones_of_peaks(order[::-1][:max(examined, 0)], magnitude, frequencies, min_freq)
        position = start + per_buffer
        now = position * TICKS_PER_SECOND // rate
        now_ms = now // 10000
        for alarm in alarms:  # timers first, for every alarm
            first = alarm.steps[0] if alarm.steps else None
            if first and first.hits and first.detected is not None \
                    and milliseconds(now, first.detected) > seq_timeout:
                alarm.reset()
            if alarm.raised and alarm.raised_time is not None \
                    and milliseconds(now, alarm.raised_time) > retrigger:
                alarm.raised, alarm.raised_time, alarm.raised_ms = False, None, None
        for alarm in alarms:
            steps = alarm.steps
            if not steps:  # an alarm without tones is never raised
                continue
            k = 0
            while k < len(steps) and steps[k].hits >= required:
                k += 1
            current = steps[k] if k < len(steps) else None
            previous = steps[k - 1] if k >= 1 else None

            def clear(m):
                return m * 10 >= floor * CLEAR_TONE_TENTHS

            def stands_clear(step, tone):
                """Clear of the noise, and one hill (tops at most a bin apart) within the
                tolerance of each of the step's frequencies: a steady tone shows as one."""
                if not clear(tone):
                    return False
                for g in [step.frequency1, step.frequency2] if step.dual else [step.frequency1]:
                    tops = [bin_of[f2] for f2, _ in candidates if g - tolerance < f2 < g + tolerance]
                    if tops and max(tops) - min(tops) > 1:
                        return False
                return True

            if previous:  # a clear tone the alarm does not have, two frames running
                def of_the_steps(f):
                    return previous.matches(f, tolerance) or (current and current.matches(f, tolerance))
                # splatter of the change between the steps' tones stays under them
                step_tone = max((m for f, m in candidates if of_the_steps(f)), default=0)
                other = next((f for f, m in candidates if clear(m) and m >= step_tone and not of_the_steps(f)), 0)
                # in its second frame the tone need only stay above the steps' tones and the dropout level
                held_on = alarm.other_tone and any(
                    m >= step_tone and not of_the_steps(f) and alarm.other_tone - tolerance < f < alarm.other_tone + tolerance
                    and m * 10 >= floor * DROPOUT_TONE_TENTHS for f, m in candidates)
                if held_on:
                    alarm.reset()
                    current, previous = steps[0], None
                else:
                    alarm.other_tone = other
            silent = True
            started_again = False
            for f, m in candidates:
                if previous and previous.matches(f, tolerance):
                    silent = False
                    tone = tone_magnitude(previous, f, m, candidates, tolerance)
                    if tone > previous.level:
                        previous.level_frequency = f
                    previous.level = max(previous.level, tone)
                    if stands_clear(previous, tone):
                        previous.clear = True
                        previous.heard = now_ms
                    before = steps[steps.index(previous) - 1] if previous is not steps[0] else None
                    if before and not started_again and rises_above(before, steps, m):
                        alarm.reset()  # the step before completed on noise: not this call
                        started_again = True
                        current, previous = steps[0], None
                if not (current and current.matches(f, tolerance)):
                    continue
                silent = False
                if previous and m * 10 < previous.level * LEVEL_FALL_TENTHS:
                    continue  # far weaker than the tone before: not the next tone of this call
                if any(m2 * 10 > m * FOREIGN_TONE_TENTHS and not current.matches(f2, tolerance)
                       and not (previous and previous.matches(f2, tolerance)) for f2, m2 in candidates):
                    continue  # another tone is the one being sent
                if previous and not started_again and rises_above(previous, steps, m):
                    alarm.reset()  # the steps so far were not this call
                    started_again = True
                    current, previous = steps[0], None
                    if not current.matches(f, tolerance):
                        continue
                if previous and not started_again and not steps[0].clear \
                        and current.detected is not None and current.detected < now \
                        and stands_clear(current, tone_magnitude(current, f, m, candidates, tolerance)) \
                        and lies_off_call(steps[0], current, f, OFF_CALL_FIRST_STEP_TENTHS, rate, points):
                    alarm.reset()  # the first step was noise before the call
                    started_again = True
                    current, previous = steps[0], None
                    if not current.matches(f, tolerance):
                        continue
                if previous and not started_again and not current.hits and previous.heard is not None \
                        and now_ms - previous.heard > STEP_GAP_MS:
                    alarm.reset()  # the step before was heard too long ago
                    started_again = True
                    current, previous = steps[0], None
                    if not current.matches(f, tolerance):
                        continue
                tone = tone_magnitude(current, f, m, candidates, tolerance)
                if tone > current.level:
                    current.level_frequency = f
                current.level = max(current.level, tone)
                if stands_clear(current, tone):
                    current.clear = True
                current.heard = now_ms
                may_complete = True
                if current is steps[-1] and current is not steps[0] and not current.clear:
                    levels = sorted((s.level for s in steps[:steps.index(current)]), reverse=True)
                    strongest = levels[1] if len(levels) >= 2 else levels[0]  # the second strongest of two or more
                    may_complete = current.level * UNCLEAR_LAST_STEP_FALL_FACTOR >= strongest and not any(
                        s.clear and lies_off_call(current, s, s.level_frequency, OFF_CALL_LAST_STEP_TENTHS, rate, points)
                        for s in steps[:steps.index(current)])
                if current.hits + 1 < required or may_complete:
                    current.hits = min(current.hits + 1, required)
                current.detected = now
            if not silent:
                alarm.dropout_held = False
            elif steps[0].hits:
                heard_clear = (current is not None and current.hits and current.clear) or \
                    (previous is not None and previous.clear)
                other_tone = any(m * 10 >= floor * DROPOUT_TONE_TENTHS for _, m in candidates)
                if heard_clear and not other_tone and not alarm.dropout_held:
                    alarm.dropout_held = True
                else:
                    alarm.reset()
            if alarm.held_for is not None:
                longer = alarm.held_for
                if longer.completed is not None and longer.completed >= alarm.held_ms:
                    alarm.held_for = alarm.held_ms = None  # the call was the longer alarm's
                elif steps_heard(longer) < len(steps) - 1 or now_ms - alarm.held_ms > LONGEST_HOLD_MS:
                    alarm.held_for = alarm.held_ms = None
                    if not alarm.raised:
                        alarm.raised, alarm.raised_time, alarm.raised_ms = True, now, now_ms
                        yield position * 1000 // rate, alarm.text
            if all(s.hits >= required for s in steps):
                alarm.completed = now_ms
                if not alarm.raised:
                    longer = longer_reading(alarm)
                    read_earlier = read_from_earlier_call(alarm, now_ms)
                    alarm.reset()
                    if read_earlier:
                        pass  # noise after another alarm's call gave its last tone
                    elif alarm.held_for is not None:
                        pass  # an earlier completion is still held
                    elif longer is not None:
                        alarm.held_for, alarm.held_ms = longer, now_ms
                    else:
                        alarm.raised, alarm.raised_time, alarm.raised_ms = True, now, now_ms
                        yield position * 1000 // rate, alarm.text


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--text", required=True, help="decoded configuration text")
    ap.add_argument("--bits", type=int, choices=(8, 16), default=8)
    ap.add_argument("--rate", type=int, choices=(11025, 22050, 44100), default=44100)
    ap.add_argument("--points", type=int, choices=(256, 512, 1024, 2048), default=2048)
    ap.add_argument("--samples-per-buffer", type=int)
    ap.add_argument("--height", type=int, default=200)
    ap.add_argument("--quiet", "-q", action="store_true", help="accepted for kantiq-scan's sake")
    ap.add_argument("files", nargs="+")
    args = ap.parse_args()
    per_buffer = args.samples_per_buffer or min(1472, args.points)
    if not 0 < per_buffer <= args.points or args.height <= 0:
        ap.error("--samples-per-buffer must be 1 to --points, --height positive")
    with open(args.text, "rb") as f:
        parameters, alarms = parse_configuration(f.read())
    raised = 0
    unreadable = False
    for path in args.files:
        try:
            samples = capture_samples(read_wav(path, args.rate), args.bits)
        except (OSError, EOFError, ValueError, wave.Error) as e:
            print(f"reference_scan: {path}: {e}", file=sys.stderr)
            unreadable = True
            continue
        for ms, text in scan(samples, args.rate, args.points, per_buffer, args.height, parameters, alarms):
            line = f"\t{ms // 1000}.{ms % 1000:03d}\t{to_utf8(text)}\n"
            sys.stdout.buffer.write(os.fsencode(path) + line.encode("utf-8"))
            raised += 1
    sys.stdout.buffer.flush()
    return 3 if unreadable else (0 if raised else 1)


if __name__ == "__main__":
    sys.exit(main())
