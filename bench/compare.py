#!/usr/bin/env python3
"""quillmate-dictate beside pocketsphinx_continuous -inmic yes, in one run, on the same
recordings played into the same private audio server. Prints a Markdown table of figures and
ratios (helper / peer; below 1 means the helper is ahead, except for nothing)."""

import datetime
import json
import os
import platform
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "process"))
from audio_server import GO_FORWARD, TESTDATA, AudioServer  # noqa: E402

BIN = os.environ.get("QUILLMATE_BIN", os.path.join(HERE, "..", "build", "bin"))
HELPER = os.path.join(BIN, "quillmate-dictate")
LONG_DICTATION = os.path.join(BIN, "long_dictation")
REPEATS = 5  # runs of each pipe-source figure
PEER = ["pocketsphinx_continuous", "-inmic", "yes"]
QUIET_AFTER_SPEECH = 3.0  # the peer has said all it will once it has been quiet this long


def recordings():
    yield GO_FORWARD, "go forward ten meters", os.path.getsize(GO_FORWARD) / 32000
    folder = os.path.join(TESTDATA, "librivox")
    with open(os.path.join(folder, "transcription")) as transcription:
        for entry in transcription:
            words, name = entry.rsplit("(", 1)
            path = os.path.join(folder, name.strip(" )\n") + ".wav")
            with wave.open(path) as audio:
                seconds = audio.getnframes() / audio.getframerate()
            yield path, words.replace("<s>", "").replace("</s>", "").strip(), seconds


def word_errors(reference, hypothesis):
    """Word-level edit distance: substitutions, deletions and insertions, ignoring case."""
    ref, hyp = reference.lower().split(), hypothesis.lower().split()
    row = list(range(len(hyp) + 1))
    for i, word in enumerate(ref, 1):
        previous, row[0] = row[0], i
        for j, said in enumerate(hyp, 1):
            previous, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, previous + (word != said))
    return row[-1], len(ref)


class Lines:
    """Lines of one stream with the time each arrived."""

    def __init__(self, stream):
        self.lines = []
        self.thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self.thread.start()

    def _read(self, stream):
        for raw in stream:
            self.lines.append((time.monotonic(), raw.decode(errors="replace").rstrip("\n")))

    def wait_for(self, text, limit=30):
        """When the first line containing `text` (or satisfying it, if callable) arrived."""
        found = text if callable(text) else (lambda line: text in line)
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            for at, line in self.lines:
                if found(line):
                    return at
            time.sleep(0.002)
        raise RuntimeError(f"never saw {text!r}")


def finish(process):
    """Reaps the process; gives its CPU seconds and peak resident memory in MiB."""
    _, _, usage = os.wait4(process.pid, 0)
    process.returncode = 0
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def run_helper(server, path):
    started = time.monotonic()
    process = subprocess.Popen([HELPER, "en-US"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               env=dict(os.environ, **server.env))
    out = Lines(process.stdout)
    ready = out.wait_for('"listening"') - started
    server.play(path)
    speech_ended = time.monotonic()
    process.stdin.close()  # the user stops as soon as the speech ends
    cpu, memory = finish(process)
    out.thread.join()
    done_at, done = next((at, line) for at, line in out.lines if '"done"' in line)
    return {"ready": ready, "final": done_at - speech_ended, "cpu": cpu, "memory": memory,
            "transcript": json.loads(done)["transcript"]}


def run_peer(server, path):
    started = time.monotonic()
    process = subprocess.Popen(PEER, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=dict(os.environ, **server.env))
    out, log = Lines(process.stdout), Lines(process.stderr)
    ready = log.wait_for("Ready....") - started
    server.play(path)
    speech_ended = time.monotonic()
    while True:
        last = max([at for at, _ in out.lines] + [speech_ended])
        if time.monotonic() - last > QUIET_AFTER_SPEECH:
            break
        time.sleep(0.05)
    process.send_signal(signal.SIGINT)
    timer = threading.Timer(5, process.kill)
    timer.start()
    cpu, memory = finish(process)
    timer.cancel()
    out.thread.join()
    hypotheses = [line for _, line in out.lines if line.strip()]
    final = max((at for at, _ in out.lines), default=speech_ended) - speech_ended
    return {"ready": ready, "final": final, "cpu": cpu, "memory": memory,
            "transcript": " ".join(hypotheses)}


def long_recording(folder):
    """The recordings back to back, twice over: one continuous dictation of about a minute."""
    path = os.path.join(folder, "long.wav")
    words = []
    with wave.open(path, "wb") as out:
        out.setnchannels(1), out.setsampwidth(2), out.setframerate(16000)
        for _ in range(2):
            for clip, reference, _ in recordings():
                if clip.endswith(".raw"):
                    with open(clip, "rb") as raw:
                        out.writeframes(raw.read())
                else:
                    with wave.open(clip) as audio:
                        out.writeframes(audio.readframes(audio.getnframes()))
                words.append(reference)
    with wave.open(path) as audio:
        seconds = audio.getnframes() / audio.getframerate()
    return path, " ".join(words), seconds


def onset_of(pcm):
    """Where speech begins in 16 kHz 16-bit audio: the first 10 ms whose RMS is ten times that
    of the first 100 ms."""
    frames = [pcm[i:i + 320] for i in range(0, len(pcm) - 320, 320)]

    def rms(frame):
        values = memoryview(frame).cast("h")
        return (sum(v * v for v in values) / len(values)) ** 0.5
    floor = statistics.mean(rms(f) for f in frames[:10])
    return next(i for i, f in enumerate(frames) if rms(f) > 10 * floor + 100) * 0.010


class PipeMicrophone:
    """Feeds the pipe source at real-time pace in 10 ms blocks, silence whenever nothing is
    being said, as a microphone would."""

    BLOCK = 320  # bytes: 10 ms of 16 kHz 16-bit mono

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
            time.sleep(max(0.0, self.started + self.blocks * 0.010 - time.monotonic()))
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
        return self.started + first * 0.010

    def close(self):
        self.running = False
        self.thread.join()
        os.close(self.fifo)


def pipe_figures():
    """Speech onset to the first words, and a stop with nothing said, on the pipe source."""
    server = AudioServer(pipe=True)
    microphone = PipeMicrophone(server)
    with open(GO_FORWARD, "rb") as raw:
        speech = raw.read()
    onset = onset_of(speech)
    first_words, early_stops = [], []
    try:
        for _ in range(REPEATS):
            process = subprocess.Popen([HELPER, "en-US"], stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, env=dict(os.environ, **server.env))
            out = Lines(process.stdout)
            out.wait_for('"listening"')
            time.sleep(0.3)
            spoken = microphone.say(speech) + onset
            heard = out.wait_for(lambda line: '"transcript":""' not in line and
                                 '"listening"' in line)
            first_words.append(heard - spoken)
            time.sleep(len(speech) / 32000)
            process.stdin.close()
            finish(process)
            out.thread.join()
        for _ in range(REPEATS):
            started = time.monotonic()
            process = subprocess.Popen([HELPER, "en-US"], stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, env=dict(os.environ, **server.env))
            out = Lines(process.stdout)
            out.wait_for('"listening"')
            time.sleep(max(0.0, started + 0.3 - time.monotonic()))
            stopped = time.monotonic()
            process.stdin.close()
            finish(process)
            out.thread.join()
            early_stops.append(out.wait_for('"done"') - stopped)
    finally:
        microphone.close()
        server.stop()
    return first_words, early_stops


def ready_times(server, folder):
    """Start to "listening", REPEATS times each with Debian's model and with the same model
    installed on the XDG data path (linked in, as a package would)."""
    installed = os.path.join(folder, "data", "quillmate-dictate", "models", "en-US")
    os.makedirs(installed)
    debian = "/usr/share/pocketsphinx/model/en-us"
    for name, target in [("acoustic-model", "en-us"), ("language-model.lm.bin", "en-us.lm.bin"),
                         ("dictionary.dict", "cmudict-en-us.dict")]:
        os.symlink(os.path.join(debian, target), os.path.join(installed, name))
    times = {"Debian's model": [], "a model on the XDG data path": []}
    for _ in range(REPEATS):
        for where, extra in [("Debian's model", {}),
                             ("a model on the XDG data path",
                              {"XDG_DATA_HOME": os.path.join(folder, "data")})]:
            started = time.monotonic()
            process = subprocess.Popen([HELPER, "en-US"], stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE,
                                       env=dict(os.environ, **server.env, **extra))
            out = Lines(process.stdout)
            times[where].append(out.wait_for('"listening"') - started)
            process.stdin.close()
            finish(process)
            out.thread.join()
    return times


def long_dictation(path, busy):
    clips = [clip for clip, _, _ in recordings()]
    result = subprocess.run([LONG_DICTATION, "--busy", str(busy), *clips, *clips],
                            capture_output=True, text=True, check=True)
    return json.loads(result.stdout)


def spread(values):
    values = [v * 1000 for v in values]
    return f"{statistics.median(values):.0f} (range {min(values):.0f}–{max(values):.0f})"


def main():
    folder = tempfile.mkdtemp(prefix="quillmate-bench-")
    long_path, long_reference, long_seconds = long_recording(folder)
    server = AudioServer()
    rows = []
    long_rows = {}
    try:
        ready = ready_times(server, folder)
        for name, run in (("helper", run_helper), ("peer", run_peer)):
            result = run(server, long_path)
            result["errors"], result["words"] = word_errors(long_reference, result["transcript"])
            long_rows[name] = result
            print(f"{name:6} long dictation ({long_seconds:.0f} s)  final "
                  f"{result['final']*1000:6.0f} ms  cpu {result['cpu']:5.2f} s  "
                  f"{result['transcript']!r}", file=sys.stderr)
        for path, reference, seconds in recordings():
            for name, run in (("helper", run_helper), ("peer", run_peer)):
                result = run(server, path)
                result["errors"], result["words"] = word_errors(reference, result["transcript"])
                result.update(name=name, clip=os.path.basename(path), seconds=seconds)
                rows.append(result)
                print(f"{name:6} {os.path.basename(path):45} ready {result['ready']*1000:6.0f} ms"
                      f"  final {result['final']*1000:6.0f} ms  cpu {result['cpu']:5.2f} s"
                      f"  rss {result['memory']:5.1f} MiB  {result['transcript']!r}",
                      file=sys.stderr)
    finally:
        server.stop()
    first_words, early_stops = pipe_figures()
    direct = {busy: long_dictation(long_path, busy) for busy in (0, 4)}
    shutil.rmtree(folder)

    def total(name, key):
        return sum(row[key] for row in rows if row["name"] == name)

    def mean(name, key):
        picked = [row[key] for row in rows if row["name"] == name]
        return sum(picked) / len(picked)

    audio = total("helper", "seconds")
    figures = [
        ("time from start to ready (ms, mean)", lambda n: mean(n, "ready") * 1000),
        ("end of speech to final transcript (ms, mean)", lambda n: mean(n, "final") * 1000),
        ("CPU seconds per second of audio", lambda n: total(n, "cpu") / audio),
        ("peak resident memory (MiB, max)",
         lambda n: max(row["memory"] for row in rows if row["name"] == n)),
        ("word error rate (%)", lambda n: 100 * total(n, "errors") / total(n, "words")),
    ]
    print(f"Run {datetime.date.today()} on {platform.node()} ({os.cpu_count()} cores, "
          f"{platform.machine()}, {platform.platform()}), {len(rows) // 2} recordings, "
          f"{audio:.1f} s of speech.\n")
    print("| figure | quillmate-dictate | pocketsphinx_continuous | ratio |")
    print("|---|---:|---:|---:|")
    for label, figure in figures:
        helper, peer = figure("helper"), figure("peer")
        ratio = f"{helper / peer:.2f}" if peer else "n/a"
        print(f"| {label} | {helper:.2f} | {peer:.2f} | {ratio} |")

    print(f"\nLong dictation: the recordings back to back, twice, {long_seconds:.1f} s, standard "
          "input closed the moment the speech ends.\n")
    print("| figure | quillmate-dictate | pocketsphinx_continuous | ratio |")
    print("|---|---:|---:|---:|")
    helper, peer = long_rows["helper"], long_rows["peer"]
    for label, key, scale in [("end of speech to final transcript (ms)", "final", 1000),
                              ("CPU seconds per second of audio", "cpu", 1 / long_seconds)]:
        print(f"| {label} | {helper[key] * scale:.2f} | {peer[key] * scale:.2f} | "
              f"{helper[key] / peer[key]:.2f} |")
    print(f"| words heard (of {peer['words']}) | {len(helper['transcript'].split())} | "
          f"{len(peer['transcript'].split())} | |")
    print(f"| word error rate (%) | {100 * helper['errors'] / helper['words']:.2f} | "
          f"{100 * peer['errors'] / peer['words']:.2f} | "
          f"{helper['errors'] / peer['errors'] if peer['errors'] else float('nan'):.2f} |")

    print("\nThe same dictation fed straight to the recognizer (`long_dictation`), with no "
          "audio server, idle and beside 4 spinning threads:\n")
    print("| machine | backlog at end of audio (s) | end of audio to final (ms) | words heard |")
    print("|---|---:|---:|---:|")
    for busy, result in direct.items():
        print(f"| {'idle' if busy == 0 else f'{busy} threads spinning'} | "
              f"{result['backlog']:.3f} | {result['finalMs']:.0f} | "
              f"{len(result['transcript'].split())} |")

    print(f"\nStart to the empty \"listening\" line, {REPEATS} runs each, median (range), ms:\n")
    for where, values in ready.items():
        print(f"- with {where}: {spread(values)}")

    print(f"\nOn the pipe source, {REPEATS} runs each, median (range), ms:\n")
    print(f"- speech onset to the first words: {spread(first_words)}")
    print(f"- end-of-file 0.3 s after start with only silence captured, to the final line: "
          f"{spread(early_stops)}")


if __name__ == "__main__":
    main()
