#!/usr/bin/env python3
"""quillmate-dictate beside pocketsphinx_continuous -inmic yes, on the same recordings said into
the same private audio server's pipe source, each after 2 s of silence so that both hear all of
its speech. The programs' runs are interleaved and repeated; each figure is the median over the runs
with their range. Prints Markdown tables; a ratio is helper / peer, per run (below 1 means the
helper is ahead).

  bench/compare.py [--runs N] [--helper LABEL=BINDIR ...] [--save FILE]
  bench/compare.py --report FILE

Each --helper names a build's bin folder (holding quillmate-dictate and long_dictation), so that
two builds can be compared beside the peer in one run; the default is this checkout's build."""

import argparse
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
import types
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "process"))
from audio_server import GO_FORWARD, TESTDATA, AudioServer  # noqa: E402

BIN = os.environ.get("QUILLMATE_BIN", os.path.join(HERE, "..", "build", "bin"))
PEER = ["pocketsphinx_continuous", "-inmic", "yes"]
PEER_NAME = "pocketsphinx_continuous"
LEAD = 2.0  # seconds of silence played before each recording's speech
QUIET_AFTER_SPEECH = 3.0  # the peer has said all it will once it has been quiet this long
PIPE_REPEATS = 5  # runs of each pipe-source figure, per helper
TICKS = os.sysconf("SC_CLK_TCK")


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


class Recording:
    """A recording as the microphone says it: LEAD seconds of silence, then the speech."""

    def __init__(self, name, reference, pcm):
        self.name, self.reference, self.pcm = name, reference, pcm
        self.seconds = len(pcm) / 32000
        self.onset = onset_of(pcm)  # seconds into the speech

    def say(self, microphone):
        """Queues the recording; gives the moments its speech begins (its onset) and ends."""
        started = microphone.say(bytes(int(LEAD * 32000)) + self.pcm) + LEAD
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


def word_errors(reference, hypothesis):
    """Word-level edit distance: substitutions, deletions and insertions, ignoring case."""
    ref, hyp = reference.lower().split(), hypothesis.lower().split()
    row = list(range(len(hyp) + 1))
    for i, word in enumerate(ref, 1):
        previous, row[0] = row[0], i
        for j, said in enumerate(hyp, 1):
            previous, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, previous + (word != said))
    return row[-1], len(ref)


def onset_of(pcm):
    """Where speech begins in 16 kHz 16-bit audio: the first 10 ms whose RMS is ten times that
    of the first 100 ms."""
    frames = [pcm[i:i + 320] for i in range(0, len(pcm) - 320, 320)]

    def rms(frame):
        values = memoryview(frame).cast("h")
        return (sum(v * v for v in values) / len(values)) ** 0.5
    floor = statistics.mean(rms(f) for f in frames[:10])
    return next(i for i, f in enumerate(frames) if rms(f) > 10 * floor + 100) * 0.010


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


def shows_words(line):
    """A helper's status line with a transcript."""
    try:
        return bool(json.loads(line).get("transcript"))
    except ValueError:
        return False


def finish(process):
    """Reaps the process; gives its CPU seconds and peak resident memory in MiB."""
    _, _, usage = os.wait4(process.pid, 0)
    process.returncode = 0
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def server_seconds(server):
    """CPU seconds the audio server has spent so far, from /proc."""
    with open(f"/proc/{server.pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


# Each build keeps its channel estimate in a folder of its own for the whole bench, carried from
# each dictation to the next as on a user's machine, and never the user's own.
STATE_FOLDERS = {}


def state_folder(binary):
    if binary not in STATE_FOLDERS:
        STATE_FOLDERS[binary] = tempfile.mkdtemp(prefix="quillmate-bench-state-")
    return STATE_FOLDERS[binary]


def start_helper(binary, server, extra=None):
    """The helper started as a host starts it, with its status lines read as they arrive."""
    env = dict(os.environ, **server.env, XDG_STATE_HOME=state_folder(binary), **(extra or {}))
    process = subprocess.Popen([os.path.join(binary, "quillmate-dictate"), "en-US"],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
    return process, Lines(process.stdout)


def sleep_until(moment):
    time.sleep(max(0.0, moment - time.monotonic()))


def run_helper(binary, server, microphone, recording):
    server_before, started = server_seconds(server), time.monotonic()
    process, out = start_helper(binary, server)
    ready = out.wait_for('"listening"') - started
    onset, speech_ended = recording.say(microphone)
    sleep_until(speech_ended)
    process.stdin.close()  # the user stops as soon as the speech ends
    cpu, memory = finish(process)
    out.thread.join()
    done_at, done = next((at, line) for at, line in out.lines if '"done"' in line)
    first = next((at for at, line in out.lines if shows_words(line)), None)
    return {"ready": ready, "final": done_at - speech_ended, "cpu": cpu, "memory": memory,
            "server": server_seconds(server) - server_before,
            "first": first - onset if first else None,
            "transcript": json.loads(done)["transcript"]}


def run_peer(server, microphone, recording):
    server_before, started = server_seconds(server), time.monotonic()
    process = subprocess.Popen(PEER, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=dict(os.environ, **server.env))
    out, log = Lines(process.stdout), Lines(process.stderr)
    ready = log.wait_for("Ready....") - started
    onset, speech_ended = recording.say(microphone)
    sleep_until(speech_ended)
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
    said = [(at, line) for at, line in out.lines if line.strip()]
    final = max((at for at, _ in said), default=speech_ended) - speech_ended
    return {"ready": ready, "final": final, "cpu": cpu, "memory": memory,
            "server": server_seconds(server) - server_before,
            "first": said[0][0] - onset if said else None,
            "transcript": " ".join(line for _, line in said)}


def pipe_figures(helpers):
    """Speech onset to the first words, and a stop with nothing said, on the pipe source: for
    each helper, PIPE_REPEATS runs of each, the helpers in turn."""
    server = AudioServer(pipe=True)
    microphone = PipeMicrophone(server)
    with open(GO_FORWARD, "rb") as raw:
        speech = raw.read()
    onset = onset_of(speech)
    figures = {name: ([], []) for name in helpers}

    try:
        for _ in range(PIPE_REPEATS):
            for name, binary in helpers.items():
                first_words, early_stops = figures[name]
                process, out = start_helper(binary, server)
                out.wait_for('"listening"')
                time.sleep(0.3)
                spoken = microphone.say(speech) + onset
                first_words.append(out.wait_for(shows_words) - spoken)
                time.sleep(len(speech) / 32000)
                process.stdin.close()
                finish(process)
                out.thread.join()

                started = time.monotonic()
                process, out = start_helper(binary, server)
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
    return figures


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


def ready_times(binary, server, folder, runs):
    """Start to "listening", `runs` times each with Debian's model and with the same model
    installed on the XDG data path (linked in, as a package would)."""
    installed = os.path.join(folder, "data", "quillmate-dictate", "models", "en-US")
    os.makedirs(installed)
    debian = "/usr/share/pocketsphinx/model/en-us"
    for name, target in [("acoustic-model", "en-us"), ("language-model.lm.bin", "en-us.lm.bin"),
                         ("dictionary.dict", "cmudict-en-us.dict")]:
        os.symlink(os.path.join(debian, target), os.path.join(installed, name))
    places = {"Debian's model": {}, "a model on the XDG data path":
              {"XDG_DATA_HOME": os.path.join(folder, "data")}}
    times = {where: [] for where in places}
    for _ in range(runs):
        for where, extra in places.items():
            started = time.monotonic()
            process, out = start_helper(binary, server, extra)
            times[where].append(out.wait_for('"listening"') - started)
            process.stdin.close()
            finish(process)
            out.thread.join()
    return times


def long_dictation(binary, busy):
    clips = [path for path, _, _ in recordings()]
    result = subprocess.run([os.path.join(binary, "long_dictation"), "--busy", str(busy), *clips,
                             *clips], capture_output=True, text=True, check=True)
    return json.loads(result.stdout)


def idle_server_rate(server, seconds=5.0):
    """CPU seconds per second the audio server spends with no client."""
    before = server_seconds(server)
    time.sleep(seconds)
    return (server_seconds(server) - before) / seconds


def spread(values, scale=1.0, digits=0):
    """The median of `values` and their range, scaled."""
    values = [v * scale for v in values if v is not None]
    if not values:
        return "n/a"
    f = f"{{:.{digits}f}}"
    return (f"{f.format(statistics.median(values))} "
            f"({f.format(min(values))}–{f.format(max(values))})")


def run_figures(results, recordings_heard):
    """One run's figures for one program over `recordings_heard` (a list of Recording)."""
    speech = sum(r.seconds for r in recordings_heard)
    errors = [word_errors(r.reference, results[r.name]["transcript"]) for r in recordings_heard]
    firsts = [results[r.name]["first"] for r in recordings_heard
              if results[r.name]["first"] is not None]
    return {
        "cpu": sum(results[r.name]["cpu"] for r in recordings_heard) / speech,
        "with server": sum(results[r.name]["cpu"] + results[r.name]["server"]
                           for r in recordings_heard) / speech,
        "first": statistics.median(firsts) if firsts else None,
        "final": statistics.mean(results[r.name]["final"] for r in recordings_heard),
        "wer": 100 * sum(e for e, _ in errors) / sum(n for _, n in errors),
        "ready": statistics.mean(results[r.name]["ready"] for r in recordings_heard),
        "memory": max(results[r.name]["memory"] for r in recordings_heard),
    }


FIGURES = [  # (key, label, scale, digits)
    ("cpu", "CPU s per s of speech, own", 1, 3),
    ("with server", "CPU s per s of speech, with the audio server", 1, 3),
    ("first", "speech onset to first words (ms, median)", 1000, 0),
    ("final", "end of speech to final transcript (ms, mean)", 1000, 0),
    ("wer", "word error rate (%)", 1, 2),
    ("ready", "start to ready (ms, mean)", 1000, 0),
    ("memory", "peak resident memory (MiB, max)", 1, 1),
]


def print_table(title, names, per_run):
    """per_run[name] is a list of run_figures dicts, one per run, in run order."""
    helpers = [n for n in names if n != PEER_NAME]
    print(f"\n{title}\n")
    print("| figure | " + " | ".join(names) + " | " +
          " | ".join(f"{h} / peer" for h in helpers) + " |")
    print("|---|" + "---:|" * (len(names) + len(helpers)))
    for key, label, scale, digits in FIGURES:
        cells = [spread([run[key] for run in per_run[n]], scale, digits) for n in names]
        ratios = []
        for h in helpers:
            pairs = zip(per_run[h], per_run[PEER_NAME])
            ratios.append(spread([a[key] / b[key] for a, b in pairs
                                  if a[key] is not None and b[key]], 1, 2))
        print(f"| {label} | " + " | ".join(cells) + " | " + " | ".join(ratios) + " |")


def measure(helpers, runs):
    """Every figure of one bench run, as plain data."""
    names = list(helpers) + [PEER_NAME]
    folder = tempfile.mkdtemp(prefix="quillmate-bench-")
    clips, long = prepared()
    server = AudioServer(pipe=True)
    microphone = PipeMicrophone(server)
    results = {name: [] for name in names}  # per program, one {recording name: result} per run
    try:
        idle = idle_server_rate(server)
        ready = ready_times(next(iter(helpers.values())), server, folder, 5)
        for run in range(runs):
            for name in names:
                results[name].append({})
            for recording in [long] + clips:
                # Each run starts with a different program, so none is always first.
                order = names[run % len(names):] + names[:run % len(names)]
                for name in order:
                    result = (run_peer(server, microphone, recording) if name == PEER_NAME else
                              run_helper(helpers[name], server, microphone, recording))
                    results[name][run][recording.name] = result
                    print(f"run {run + 1} {name:24} {recording.name:45} "
                          f"first {(result['first'] or 0) * 1000:5.0f} ms  "
                          f"final {result['final'] * 1000:6.0f} ms  cpu {result['cpu']:5.2f} s"
                          f"  server {result['server']:4.2f} s  {result['transcript']!r}",
                          file=sys.stderr)
    finally:
        microphone.close()
        server.stop()
    pipe = pipe_figures(helpers)
    direct = {name: {str(busy): long_dictation(binary, busy) for busy in (0, 4)}
              for name, binary in helpers.items()}
    shutil.rmtree(folder)
    heard = {"name", "seconds", "reference"}
    return {"date": str(datetime.date.today()), "machine": f"{platform.node()} "
            f"({os.cpu_count()} cores, {platform.machine()}, {platform.platform()})",
            "runs": runs, "helpers": list(helpers), "idle": idle, "ready": ready,
            "clips": [{k: v for k, v in vars(c).items() if k in heard} for c in clips],
            "long": {k: v for k, v in vars(long).items() if k in heard},
            "results": results, "pipe": pipe, "direct": direct}


def report(data):
    helpers, runs = data["helpers"], data["runs"]
    names = helpers + [PEER_NAME]
    clips = [types.SimpleNamespace(**c) for c in data["clips"]]
    long = types.SimpleNamespace(**data["long"])
    results = data["results"]
    speech = sum(c.seconds for c in clips)
    print(f"Run {data['date']} on {data['machine']}. {runs} runs, each program in turn on each "
          f"recording; median (range) over the runs. Each recording is said into the pipe "
          f"source after {LEAD:.0f} s of silence; CPU includes that silence and is divided by "
          f"the seconds of speech. With no client the audio server spent {data['idle']:.4f} "
          f"CPU s per s (its counter steps by {1 / TICKS:.2f} s).")
    print_table(f"Clips: {len(clips)} recordings, {speech:.1f} s of speech.", names,
                {n: [run_figures(run, clips) for run in results[n]] for n in names})
    print_table(f"Long dictation: the recordings back to back, twice, {long.seconds:.1f} s, "
                "standard input closed the moment the speech ends.", names,
                {n: [run_figures(run, [long]) for run in results[n]] for n in names})

    if len(helpers) > 1:
        differ = sum(len({results[h][run][r.name]["transcript"] for h in helpers}) > 1
                     for run in range(runs) for r in [long] + clips)
        print(f"\nTranscripts that differ between the helpers, of {(len(clips) + 1) * runs} "
              f"recordings heard by each: {differ}")

    print("\nThe long dictation fed straight to the recognizer (`long_dictation`), with no "
          "audio server, idle and beside 4 spinning threads:\n")
    print("| helper | machine | CPU s (idle only) | backlog at end of audio (s) | "
          "end of audio to final (ms) | words heard |")
    print("|---|---|---:|---:|---:|---:|")
    for name, by_busy in data["direct"].items():
        for busy, result in by_busy.items():
            cpu = f"{result['cpu']:.2f}" if busy == "0" else ""
            print(f"| {name} | {'idle' if busy == '0' else f'{busy} threads spinning'} | "
                  f"{cpu} | {result['backlog']:.3f} | {result['finalMs']:.0f} | "
                  f"{len(result['transcript'].split())} |")

    print(f"\nStart to the empty \"listening\" line with {helpers[0]}, 5 runs each, "
          "median (range), ms:\n")
    for where, values in data["ready"].items():
        print(f"- with {where}: {spread(values, 1000)}")

    print(f"\nOn the pipe source, {PIPE_REPEATS} runs each, median (range), ms:\n")
    for name, (first_words, early_stops) in data["pipe"].items():
        print(f"- {name}: speech onset to the first words {spread(first_words, 1000)}; "
              f"end-of-file 0.3 s after start with only silence captured, to the final line "
              f"{spread(early_stops, 1000)}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=int(os.environ.get("BENCH_RUNS", 3)))
    parser.add_argument("--helper", action="append", default=[], metavar="LABEL=BINDIR")
    parser.add_argument("--save", metavar="FILE", help="also write the raw figures here")
    parser.add_argument("--report", metavar="FILE", help="print the tables of a saved run")
    arguments = parser.parse_args()
    if arguments.report:
        with open(arguments.report) as saved:
            return report(json.load(saved))
    helpers = dict(h.split("=", 1) for h in arguments.helper) or {"quillmate-dictate": BIN}
    data = measure(helpers, arguments.runs)
    if arguments.save:
        with open(arguments.save, "w") as saved:
            json.dump(data, saved)
    report(data)


if __name__ == "__main__":
    main()
