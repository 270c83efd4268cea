#!/usr/bin/env python3
"""quillmate-dictate beside pocketsphinx_continuous -inmic yes, in one run, on the same
recordings played into the same private audio server. Prints a Markdown table of figures and
ratios (helper / peer; below 1 means the helper is ahead, except for nothing)."""

import datetime
import os
import platform
import resource
import signal
import subprocess
import sys
import threading
import time
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "process"))
from audio_server import GO_FORWARD, TESTDATA, AudioServer  # noqa: E402

HELPER = os.path.join(os.environ.get("QUILLMATE_BIN", os.path.join(HERE, "..", "build", "bin")),
                      "quillmate-dictate")
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
    """Word-level edit distance: substitutions, deletions and insertions."""
    ref, hyp = reference.split(), hypothesis.split()
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
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            for at, line in self.lines:
                if text in line:
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
    import json
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


def main():
    server = AudioServer()
    rows = []
    try:
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


if __name__ == "__main__":
    main()
