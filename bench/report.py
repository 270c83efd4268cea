"""The bench's tables: the figures of each run, their medians and ranges, and the ratios of each
helper to the peer, printed as Markdown."""

import functools
import os
import statistics
import subprocess
import types

from microphone import LEAD
from runs import PEER_NAME, PIPE_REPEATS, TICKS


# The helper writes English as a person types it ("10 meters"); the references and the peer give
# words ("ten meters"). Every text is scored in the helper's written forms, so that the same words
# score the same whoever wrote them.
WRITER = os.path.join(os.environ.get("QUILLMATE_BIN", os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "build", "bin")), "written_forms")


@functools.lru_cache(maxsize=None)
def written(text):
    """`text` as the helper's English written forms write it, in lower case, marks dropped."""
    result = subprocess.run([WRITER, "--lines"], input=" ".join(text.split()) + "\n",
                            capture_output=True, text=True, check=True)
    return [word.strip(",.?!:;") for word in result.stdout.lower().split()]


def word_errors(reference, hypothesis):
    """Word-level edit distance (substitutions, deletions and insertions) between the written
    forms of both texts, ignoring case and punctuation."""
    ref, hyp = written(reference), written(hypothesis)
    row = list(range(len(hyp) + 1))
    for i, word in enumerate(ref, 1):
        previous, row[0] = row[0], i
        for j, said in enumerate(hyp, 1):
            previous, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, previous + (word != said))
    return row[-1], len(ref)


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
