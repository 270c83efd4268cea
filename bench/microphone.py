"""What the bench says into the microphone: the recordings, where their speech begins, and the
private audio server's pipe source fed at real-time pace."""

import os
import statistics
import sys
import threading
import time
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "process"))
from audio_server import GO_FORWARD, TESTDATA  # noqa: E402

BYTES_PER_SECOND = 32000  # 16 kHz 16-bit mono, as the recordings and the pipe source are
LEAD = 2.0  # seconds of silence played before each recording's speech


def recordings():
    """(path, reference words, 16 kHz 16-bit mono samples) of each recording."""
    with open(GO_FORWARD, "rb") as raw:
        yield GO_FORWARD, "go forward ten meters", raw.read()
    folder = os.path.join(TESTDATA, "librivox")
    with open(os.path.join(folder, "transcription")) as transcription:
        for entry in transcription:
            words, name = entry.rsplit("(", 1)
            path = os.path.join(folder, name.strip(" )\n") + ".wav")
            with wave.open(path) as audio:
                pcm = audio.readframes(audio.getnframes())
            yield path, words.replace("<s>", "").replace("</s>", "").strip(), pcm


def onset_of(pcm):
    """Where speech begins in 16 kHz 16-bit audio: the first 10 ms whose RMS is ten times that
    of the first 100 ms."""
    step = BYTES_PER_SECOND // 100
    frames = [pcm[i:i + step] for i in range(0, len(pcm) - step, step)]

    def rms(frame):
        values = memoryview(frame).cast("h")
        return (sum(v * v for v in values) / len(values)) ** 0.5
    floor = statistics.mean(rms(f) for f in frames[:10])
    return next(i for i, f in enumerate(frames) if rms(f) > 10 * floor + 100) * 0.010


class Recording:
    """A recording as the microphone says it: LEAD seconds of silence, then the speech."""

    def __init__(self, name, reference, pcm):
        self.name, self.reference, self.pcm = name, reference, pcm
        self.seconds = len(pcm) / BYTES_PER_SECOND
        self.onset = onset_of(pcm)  # seconds into the speech

    def say(self, microphone):
        """Queues the recording; gives the moments its speech begins (its onset) and ends."""
        started = microphone.say(bytes(int(LEAD * BYTES_PER_SECOND)) + self.pcm) + LEAD
        return started + self.onset, started + self.seconds


def prepared():
    """The clips, and the long dictation: the clips back to back, twice over."""
    clips, long_pcm, long_words = [], b"", []
    for path, reference, pcm in recordings():
        clips.append(Recording(os.path.splitext(os.path.basename(path))[0], reference, pcm))
    for _ in range(2):
        for path, reference, pcm in recordings():
            long_pcm += pcm
            long_words.append(reference)
    return clips, Recording("long", " ".join(long_words), long_pcm)


class PipeMicrophone:
    """Feeds the pipe source at real-time pace in 10 ms blocks, silence whenever nothing is
    being said, as a microphone would."""

    BLOCK_SECONDS = 0.010
    BLOCK = int(BYTES_PER_SECOND * BLOCK_SECONDS)

    def __init__(self, server):
        self.fifo = os.open(os.path.join(server.dir, "microphone"), os.O_WRONLY)
        self.pending = bytearray()
        self.lock = threading.Lock()
        self.started = time.monotonic()
        self.blocks = 0
        self.running = True
        self.thread = threading.Thread(target=self._feed, daemon=True)
        self.thread.start()

    def _feed(self):
        while self.running:
            time.sleep(max(0.0, self.started + self.blocks * self.BLOCK_SECONDS - time.monotonic()))
            with self.lock:
                block = bytes(self.pending[:self.BLOCK]).ljust(self.BLOCK, b"\0")
                del self.pending[:self.BLOCK]
                self.blocks += 1
            os.write(self.fifo, block)

    def say(self, pcm):
        """Queues `pcm`; gives the moment its first sample is written."""
        with self.lock:
            first = self.blocks + len(self.pending) // self.BLOCK
            self.pending += pcm.ljust(-(-len(pcm) // self.BLOCK) * self.BLOCK, b"\0")
        return self.started + first * self.BLOCK_SECONDS

    def close(self):
        self.running = False
        self.thread.join()
        os.close(self.fifo)
