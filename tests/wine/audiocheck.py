"""Decodes a recorded MP3 with mpg123 and measures it: duration, per-channel level and
the strength of given tones, so a test can tell which voice landed in which channel."""
import math
import os
import struct
import subprocess
import tempfile
import wave


class Decoded:
    def __init__(self, rate, channels, samples):
        self.rate = rate
        self.channels = channels
        self.samples = samples  # list per channel

    @property
    def duration(self):
        return len(self.samples[0]) / float(self.rate) if self.samples else 0.0

    def rms_db(self, ch, start=0.0, end=None):
        s = self._slice(ch, start, end)
        if not s:
            return -200.0
        rms = math.sqrt(sum(x * x for x in s) / len(s))
        return 20 * math.log10(rms / 32768.0) if rms > 0 else -200.0

    def tone_db(self, ch, freq, start=0.0, end=None):
        """Goertzel power of one frequency, as dBFS of a sine of that amplitude."""
        s = self._slice(ch, start, end)
        if not s:
            return -200.0
        k = 2 * math.cos(2 * math.pi * freq / self.rate)
        s1 = s2 = 0.0
        for x in s:
            s0 = x + k * s1 - s2
            s2, s1 = s1, s0
        power = s1 * s1 + s2 * s2 - k * s1 * s2
        amp = 2 * math.sqrt(max(power, 0.0)) / len(s)
        return 20 * math.log10(amp / 32768.0) if amp > 0 else -200.0

    def silent_stretches(self, ch, window=0.02, threshold_db=-60.0, start=0.0, end=None):
        """Seconds-long list of (start, end) stretches quieter than threshold."""
        out = []
        t = start
        last = end if end is not None else self.duration
        run = None
        while t + window <= last:
            quiet = self.rms_db(ch, t, t + window) < threshold_db
            if quiet and run is None:
                run = t
            if not quiet and run is not None:
                out.append((run, t))
                run = None
            t += window
        if run is not None:
            out.append((run, last))
        return out

    def _slice(self, ch, start, end):
        a = int(start * self.rate)
        b = len(self.samples[ch]) if end is None else int(end * self.rate)
        return self.samples[ch][a:b]


def decode(mp3_path):
    with tempfile.TemporaryDirectory() as d:
        wav = os.path.join(d, "out.wav")
        r = subprocess.run(["mpg123", "-q", "-w", wav, mp3_path], capture_output=True, timeout=120)
        if r.returncode != 0:
            raise AssertionError("mpg123 could not decode %s: %s" % (mp3_path, r.stderr.decode(errors="replace")))
        with wave.open(wav) as w:
            rate, channels, n = w.getframerate(), w.getnchannels(), w.getnframes()
            raw = w.readframes(n)
    data = struct.unpack("<%dh" % (len(raw) // 2), raw)
    return Decoded(rate, channels, [list(data[c::channels]) for c in range(channels)])
