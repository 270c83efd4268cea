#!/usr/bin/env python3
"""quillmate-dictate beside pocketsphinx_continuous -inmic yes, on the same recordings said into
the same private audio server's pipe source, each after 2 s of silence so that both hear all of
its speech. The programs' runs are interleaved and repeated; each figure is the median over the runs
with their range. Prints Markdown tables; a ratio is helper / peer, per run (below 1 means the
helper is ahead).

  bench/compare.py [--runs N] [--helper LABEL=BINDIR ...] [--save FILE]
  bench/compare.py --report FILE

Each --helper names a build's bin folder (holding quillmate-dictate and long_dictation), so that
two builds can be compared beside the peer in one run; the default is this checkout's build.
What is said is in microphone.py, how each program is run in runs.py, the tables in report.py."""

import argparse
import datetime
import json
import os
import platform
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "process"))
from audio_server import AudioServer  # noqa: E402
from microphone import PipeMicrophone, prepared  # noqa: E402
from report import report  # noqa: E402
from runs import (PEER_NAME, idle_server_rate, long_dictation, pipe_figures,  # noqa: E402
                  ready_times, run_helper, run_peer)

BIN = os.environ.get("QUILLMATE_BIN", os.path.join(HERE, "..", "build", "bin"))


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
