"""WAV files: `time` in seconds from the sample rate, then one column per
channel (`ch1`, `ch2`, ...), as fractions of full scale (-1 to 1). Integer
samples are read with the standard library's wave, block by block; floating
point samples (and the extensible header Python 3.11's wave does not take)
with scipy.io.wavfile, memory-mapped. A file that ends before the frames
its header counts is read as far as it goes, and said so.

This module imports no Qt: the producer process uses it.
"""

import wave

import numpy as np

from .columnar import Skipped, Table, send_recording
from . import need

# Integer samples by width: their dtype, and the value of full scale.
_SAMPLES = {1: (np.uint8, 128.0), 2: (np.dtype("<i2"), 32768.0), 4: (np.dtype("<i4"), 2.0 ** 31)}


def read(recording) -> str | None:
    try:
        stored = wave.open(recording.path, "rb")
    except wave.Error as error:
        if "unknown format" not in str(error):
            raise
        return _read_with_scipy(recording)
    with stored:
        channels, width = stored.getnchannels(), stored.getsampwidth()
        rate, frames = stored.getframerate(), stored.getnframes()
        read_frames = [0]

        def batches(step: int):
            for start in range(0, max(frames, 1), step):
                data = stored.readframes(step)
                data = data[:len(data) - len(data) % (width * channels)]  # whole frames only
                samples = _samples(data, width).reshape(-1, channels)
                yield [(start + np.arange(len(samples))) / rate, *samples.T]
                read_frames[0] += len(samples)
                if len(samples) < min(step, frames - start):
                    return

        table = Table(["time", *_channel_names(channels)], frames, batches=batches,
                      units=["s"] + [""] * channels)
        done = send_recording(recording, table, Skipped())
    if done is not None and read_frames[0] < frames:
        recording.problem(f"{recording.name}: cut short: it ends after {read_frames[0]:,} of "
                          f"the {frames:,} frames its header counts")
        return f"{read_frames[0]:,} of {frames:,} frames of {channels} channels"
    return done


def _samples(data: bytes, width: int) -> np.ndarray:
    """Little-endian samples of `width` bytes as fractions of full scale."""
    if width == 3:  # 24 bits: widened to 32, the sign carried by the top byte
        raw = np.frombuffer(data[:len(data) - len(data) % 3], np.uint8).reshape(-1, 3)
        wide = np.zeros((len(raw), 4), np.uint8)
        wide[:, 1:] = raw
        return wide.view("<i4").ravel() / 2.0 ** 31
    dtype, scale = _SAMPLES[width]
    values = np.frombuffer(data[:len(data) - len(data) % width], dtype).astype(np.float64)
    return (values - 128.0) / scale if width == 1 else values / scale


def _channel_names(channels: int) -> list[str]:
    return [f"ch{i + 1}" for i in range(channels)]


def _read_with_scipy(recording) -> str | None:
    wavfile = need("scipy.io.wavfile", "scipy")
    rate, samples = wavfile.read(recording.path, mmap=True)
    samples = samples.reshape(len(samples), -1)
    scale = 1.0 if samples.dtype.kind == "f" else _SAMPLES.get(samples.dtype.itemsize, (0, 1.0))[1]

    def columns(start: int, stop: int) -> list:
        part = samples[start:stop].astype(np.float64)
        part = (part - 128.0 if samples.dtype == np.uint8 else part) / scale
        return [np.arange(start, stop) / rate, *part.T]

    table = Table(["time", *_channel_names(samples.shape[1])], len(samples), columns,
                  units=["s"] + [""] * samples.shape[1])
    return send_recording(recording, table, Skipped())
