"""One run of each program on one recording, as a host runs it: the helper through the process
tests' own host (tests/process/host.py), the peer through its own output."""

import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "process"))
from audio_server import GO_FORWARD, AudioServer  # noqa: E402
from host import Host  # noqa: E402
from microphone import BYTES_PER_SECOND, PipeMicrophone, onset_of, recordings  # noqa: E402

PEER = ["pocketsphinx_continuous", "-inmic", "yes"]
PEER_NAME = "pocketsphinx_continuous"
QUIET_AFTER_SPEECH = 3.0  # the peer has said all it will once it has been quiet this long
PIPE_REPEATS = 5  # runs of each pipe-source figure, per helper
TICKS = os.sysconf("SC_CLK_TCK")

# Each build keeps its channel estimate in a folder of its own for the whole bench, carried from
# each dictation to the next as on a user's machine, and never the user's own.
STATE_FOLDERS = {}


def state_folder(binary):
    if binary not in STATE_FOLDERS:
        STATE_FOLDERS[binary] = tempfile.mkdtemp(prefix="quillmate-bench-state-")
    return STATE_FOLDERS[binary]


def start_helper(binary, server, extra=None, state=None):
    """The helper started as a host starts it; `state` is its state folder, by default the
    build's own for the bench."""
    env = dict(server.env, XDG_STATE_HOME=state or state_folder(binary), **(extra or {}))
    return Host(os.path.abspath(os.path.join(binary, "quillmate-dictate")), ["en-US"], env=env)


def end_helper(host):
    """Closes the helper's standard input if still open and waits for it; gives its lines, CPU
    seconds and peak resident memory in MiB. Raises, with the exit status and the last line,
    unless it ended with "done"."""
    if not host.process.stdin.closed:
        host.close_stdin()
    lines, status = host.finish(timeout=60)
    if status != 0 or not lines or lines[-1]["status"] != "done":
        last = host.lines[-1][1] if host.lines else b"(no line)"
        raise RuntimeError(f"the helper ended with status {status}: {last!r}")
    usage = host.usage
    return lines, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def shows_words(line):
    """A status line with a transcript."""
    return bool(line.get("transcript"))


def first_words_at(host):
    """When the first line with words arrived, or None."""
    for at, raw in host.lines:
        if json.loads(raw).get("transcript"):
            return host.started + at
    return None


def server_seconds(server):
    """CPU seconds the audio server has spent so far, from /proc."""
    with open(f"/proc/{server.pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def sleep_until(moment):
    time.sleep(max(0.0, moment - time.monotonic()))


def run_helper(binary, server, microphone, recording):
    server_before, started = server_seconds(server), time.monotonic()
    host = start_helper(binary, server)
    ready = host.wait_for_line(lambda l: l["status"] == "listening", 30) - started
    onset, speech_ended = recording.say(microphone)
    sleep_until(speech_ended)
    host.close_stdin()  # the user stops as soon as the speech ends
    lines, cpu, memory = end_helper(host)
    done_at = host.started + host.lines[-1][0]
    first = first_words_at(host)
    return {"ready": ready, "final": done_at - speech_ended, "cpu": cpu, "memory": memory,
            "server": server_seconds(server) - server_before,
            "first": first - onset if first else None,
            "transcript": lines[-1]["transcript"]}


class Lines:
    """Lines of one of the peer's streams with the time each arrived."""

    def __init__(self, stream):
        self.lines = []
        self.thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self.thread.start()

    def _read(self, stream):
        for raw in stream:
            self.lines.append((time.monotonic(), raw.decode(errors="replace").rstrip("\n")))

    def wait_for(self, text, limit=30):
        """When the first line containing `text` arrived."""
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            for at, line in self.lines:
                if text in line:
                    return at
            time.sleep(0.002)
        raise RuntimeError(f"never saw {text!r}")


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
    _, _, usage = os.wait4(process.pid, 0)
    process.returncode = 0
    timer.cancel()
    out.thread.join()
    said = [(at, line) for at, line in out.lines if line.strip()]
    final = max((at for at, _ in said), default=speech_ended) - speech_ended
    return {"ready": ready, "final": final, "cpu": usage.ru_utime + usage.ru_stime,
            "memory": usage.ru_maxrss / 1024, "server": server_seconds(server) - server_before,
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
    listening = (lambda l: l["status"] == "listening")
    try:
        for _ in range(PIPE_REPEATS):
            for name, binary in helpers.items():
                first_words, early_stops = figures[name]
                host = start_helper(binary, server)
                host.wait_for_line(listening, 30)
                time.sleep(0.3)
                spoken = microphone.say(speech) + onset
                first_words.append(host.wait_for_line(shows_words, 30) - spoken)
                time.sleep(len(speech) / BYTES_PER_SECOND)
                end_helper(host)

                started = time.monotonic()
                host = start_helper(binary, server)
                host.wait_for_line(listening, 30)
                time.sleep(max(0.0, started + 0.3 - time.monotonic()))
                stopped = time.monotonic()
                end_helper(host)
                early_stops.append(host.started + host.lines[-1][0] - stopped)
    finally:
        microphone.close()
        server.stop()
    return figures


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
            host = start_helper(binary, server, extra)
            times[where].append(host.wait_for_line(lambda l: l["status"] == "listening", 30)
                                - started)
            end_helper(host)
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
