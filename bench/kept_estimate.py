#!/usr/bin/env python3
"""Word errors on short task phrases, one phrase per helper process as a host uses it: each
dictation starting cold (an empty state folder) against each starting from the channel estimate
that the one before it kept.

The phrases (bench/task_phrases.txt) are said by the synthetic voices of Debian's flite and
espeak-ng packages, into a private audio server's pipe source at real-time pace, after 0.5 s of
silence; standard input is closed 0.5 s after the speech ends. Every condition hears the same
audio; only the state folder differs.

  bench/kept_estimate.py [--voices N] [--phrases N] [--save FILE]

Conditions, each its own sequence of sessions on its own audio server:
  cold                 a fresh, empty state folder for every session
  carried              one state folder for the whole sequence, voice after voice
  carried, shuffled    the same sessions in a seeded random order
  two microphones      every session through one of two colourings, alternating: cold, carried
"""

import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "process"))
from audio_server import AudioServer  # noqa: E402
from compare import BIN  # noqa: E402
from microphone import BYTES_PER_SECOND, PipeMicrophone  # noqa: E402
from report import word_errors  # noqa: E402
from runs import end_helper, sleep_until, start_helper  # noqa: E402

LEAD = 0.5  # seconds of silence before each phrase
TAIL = 0.5  # seconds after the phrase until the host's stop
VOICES = [("flite", "slt"), ("flite", "rms"), ("flite", "kal16"), ("espeak-ng", "en-us"),
          ("flite", "awb"), ("espeak-ng", "en-us+f3")]
# Two microphones as different as a headset and a laptop's own: a narrow telephone band, and a
# boomy, muffled one. Each ends 3 dB down so that neither clips.
COLOURINGS = [["highpass", "300", "lowpass", "3400", "gain", "-3"],
              ["bass", "+10", "treble", "-10", "gain", "-6"]]


def synthesize(folder, engine, voice, text, index):
    wav = os.path.join(folder, f"{engine}-{voice}-{index}.wav")
    if engine == "flite":
        subprocess.run(["flite", "-voice", voice, "-t", text, "-o", wav], check=True)
    else:
        subprocess.run(["espeak-ng", "-v", voice, "-w", wav, text], check=True)
    return wav


def pcm_of(wav, effects=()):
    """16 kHz 16-bit mono samples of `wav`, through `effects` (sox's)."""
    out = subprocess.run(["sox", wav, "-r", "16000", "-c", "1", "-b", "16", "-e", "signed-integer",
                          "-t", "raw", "-", *effects], check=True, capture_output=True)
    return out.stdout


def dictate(server, microphone, state, pcm):
    """One helper process, one phrase: its final transcript."""
    host = start_helper(BIN, server, state=state)
    host.wait_for_line(lambda l: l["status"] == "listening", 30)
    started = microphone.say(bytes(int(LEAD * BYTES_PER_SECOND)) + pcm)
    sleep_until(started + LEAD + len(pcm) / BYTES_PER_SECOND + TAIL)
    lines, _, _ = end_helper(host)
    return lines[-1]["transcript"]


def run_condition(name, sessions, carried, results):
    """Sessions: (reference, pcm) in order. Fills results[name] with per-session errors."""
    server = AudioServer(pipe=True)
    microphone = PipeMicrophone(server)
    shared = tempfile.mkdtemp(prefix="quillmate-kept-bench-")
    rows = []
    try:
        for reference, pcm in sessions:
            state = shared if carried else tempfile.mkdtemp(prefix="quillmate-cold-", dir=shared)
            heard = dictate(server, microphone, state, pcm)
            errors, words = word_errors(reference, heard)
            rows.append({"reference": reference, "heard": heard, "errors": errors, "words": words})
    finally:
        microphone.close()
        server.stop()
        shutil.rmtree(shared, ignore_errors=True)
    results[name] = rows


def in_parallel(jobs):
    threads = [threading.Thread(target=run_condition, args=job) for job in jobs]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--voices", type=int, default=4)
    parser.add_argument("--phrases", type=int, default=32)
    parser.add_argument("--save")
    args = parser.parse_args()
    missing = [tool for tool in ("flite", "espeak-ng", "sox") if not shutil.which(tool)]
    if missing:
        sys.exit(f"needs {' '.join(missing)}: apt-get install -y {' '.join(missing)}")
    with open(os.path.join(HERE, "task_phrases.txt")) as listed:
        phrases = [line.strip() for line in listed if line.strip()][:args.phrases]
    voices = VOICES[:args.voices]
    folder = tempfile.mkdtemp(prefix="quillmate-phrases-")
    plain, coloured = [], []
    try:
        for engine, voice in voices:
            for index, text in enumerate(phrases):
                wav = synthesize(folder, engine, voice, text, index)
                plain.append((text, pcm_of(wav)))
                coloured.append((text, pcm_of(wav, COLOURINGS[len(coloured) % 2])))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    shuffled = plain[:]
    random.Random(20261210).shuffle(shuffled)
    results = {}
    started = time.monotonic()
    in_parallel([("cold", plain, False, results), ("carried", plain, True, results),
                 ("carried, voices shuffled", shuffled, True, results)])
    in_parallel([("two microphones alternating, cold", coloured, False, results),
                 ("two microphones alternating, carried", coloured, True, results)])
    print(f"{len(phrases)} phrases x {len(voices)} voices "
          f"({', '.join(f'{e} {v}' for e, v in voices)}), one helper process per phrase; "
          f"{time.monotonic() - started:.0f} s\n")
    print("| one helper process per phrase | sessions | words | word errors | word error rate |")
    print("|---|---:|---:|---:|---:|")
    for name, rows in results.items():
        errors = sum(row["errors"] for row in rows)
        words = sum(row["words"] for row in rows)
        print(f"| {name} | {len(rows)} | {words} | {errors} | {100 * errors / words:.1f} % |")
    if args.save:
        with open(args.save, "w") as saved:
            json.dump(results, saved, indent=1)


if __name__ == "__main__":
    main()
