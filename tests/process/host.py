"""Runs a helper executable the way a host does: pipes on all three streams, status lines read
as they arrive, standard input closed to stop it."""

import json
import os
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

BIN = os.environ.get("QUILLMATE_BIN", "build/bin")
FINAL = ("done", "error")

UNAVAILABLE = ("On-device speech recognition is unavailable for your current language. "
               "Enable a supported speech language in macOS Settings.")
# The product on Linux names what a Linux user must do instead.
LINUX_UNAVAILABLE = ("On-device speech recognition is unavailable for your current language. "
                     "Install a speech model for it as the quillmate-dictate(1) manual page "
                     "describes.")
MICROPHONE = "Allow Microphone access for Quillmate in System Settings \u2192 Privacy & Security."
SPEECH = "Allow Speech Recognition for Quillmate in System Settings \u2192 Privacy & Security."
NO_INPUT = "No microphone input is available."


def line(status, transcript="", error=""):
    """A status line as the host parses it."""
    return {"status": status, "transcript": transcript, "error": error}


class Host:
    def __init__(self, executable, arguments=(), scenario=None, stdin=subprocess.PIPE,
                 call_log=False, env=None):
        self.env = dict(os.environ, **(env or {}))
        # Each run keeps its state (the recognizer's channel estimate) in a folder of its own,
        # unless the test names one: no run starts from another's, or from the user's.
        self.state_home = None
        if "XDG_STATE_HOME" not in (env or {}):
            self.state_home = tempfile.mkdtemp(prefix="quillmate-state-")
            self.env["XDG_STATE_HOME"] = self.state_home
        self.scenario_file = None
        if scenario is not None:
            self.scenario_file = tempfile.NamedTemporaryFile("w", suffix=".json", delete=False)
            json.dump(scenario, self.scenario_file)
            self.scenario_file.close()
            self.env["QUILLMATE_SCENARIO"] = self.scenario_file.name
        self.call_log = None
        if call_log:
            self.call_log = tempfile.NamedTemporaryFile("w", suffix=".log", delete=False).name
            self.env["QUILLMATE_CALL_LOG"] = self.call_log
        self.started = time.monotonic()
        self.process = subprocess.Popen(
            [os.path.join(BIN, executable), *arguments], stdin=stdin, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, env=self.env)
        self.lines = []  # (seconds since start, raw line)
        self.arrived = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.process.stdout:
            with self.arrived:
                self.lines.append((time.monotonic() - self.started, raw))
                self.arrived.notify_all()
        with self.arrived:
            self.arrived.notify_all()

    def wait_for_line(self, predicate, timeout=10):
        """Waits until a line whose parsed object satisfies predicate has arrived; gives the
        moment it arrived, on the monotonic clock."""
        deadline = time.monotonic() + timeout
        with self.arrived:
            while True:
                for at, raw in self.lines:
                    try:
                        if predicate(json.loads(raw)):
                            return self.started + at
                    except ValueError:
                        pass
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError(f"no such line within {timeout}s: {self.lines}")
                self.arrived.wait(left)

    def write(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def close_stdin(self):
        self.closed_stdin_at = time.monotonic() - self.started
        self.process.stdin.close()

    def finish(self, timeout=30):
        """Waits for the process to exit; gives (status lines as objects, exit status). Keeps
        the process's resource usage (CPU time, peak memory) in `usage`."""
        deadline = time.monotonic() + timeout
        while True:
            pid, wait_status, self.usage = os.wait4(self.process.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() > deadline:
                raise subprocess.TimeoutExpired(self.process.args, timeout)
            time.sleep(0.002)
        status = self.process.returncode = os.waitstatus_to_exitcode(wait_status)
        self.reader.join(timeout)
        self.process.stdout.close()
        self.stderr = self.process.stderr.read()
        self.process.stderr.close()
        if self.process.stdin and not self.process.stdin.closed:
            try:
                self.process.stdin.close()
            except BrokenPipeError:
                pass
        if self.scenario_file:
            os.unlink(self.scenario_file.name)
        if self.state_home:
            shutil.rmtree(self.state_home, ignore_errors=True)
        return [json.loads(raw) for _, raw in self.lines], status

    def calls(self):
        with open(self.call_log) as log:
            calls = log.read().splitlines()
        os.unlink(self.call_log)
        return calls

    def time_of(self, status):
        return next(at for at, raw in self.lines if json.loads(raw)["status"] == status)


class ProtocolTestCase(unittest.TestCase):
    def assertProtocol(self, host, lines, exit_status):
        """The host's invariants: every line is a status line, "starting" first when present,
        the empty "listening" before any transcript, exactly one final line and it is the last,
        an exit status that matches it, and nothing on standard error."""
        for _, raw in host.lines:
            self.assertTrue(raw.endswith(b"\n") and not raw.endswith(b"\r\n"), raw)
            self.assertEqual(raw.count(b"\n"), 1, raw)
            line = json.loads(raw)
            self.assertEqual(sorted(line), ["error", "status", "transcript"], raw)
            self.assertTrue(all(isinstance(value, str) for value in line.values()), raw)
        statuses = [line["status"] for line in lines]
        if "starting" in statuses:
            self.assertEqual(statuses.index("starting"), 0, statuses)
            self.assertEqual(statuses.count("starting"), 1, statuses)
        listening = [line for line in lines if line["status"] == "listening"]
        if any(line["transcript"] for line in listening):
            self.assertEqual(listening[0]["transcript"], "", statuses)
        self.assertEqual(sum(status in FINAL for status in statuses), 1, statuses)
        self.assertIn(statuses[-1], FINAL, statuses)
        self.assertEqual(exit_status, 0 if statuses[-1] == "done" else 1)
        self.assertEqual(host.stderr, b"")

    def speak_then_stop(self, host, server, recording):
        """Once the helper listens, plays `recording` into `server`, then closes standard input
        as a host does when the user stops; gives the lines and the exit status, after checking
        the protocol."""
        host.wait_for_line(lambda l: l["status"] == "listening")
        server.play(recording)
        time.sleep(0.3)
        host.close_stdin()
        lines, status = host.finish()
        self.assertProtocol(host, lines, status)
        return lines, status

    def run_host(self, *arguments, scenario=None, close_after=None, timeout=30, **options):
        """Starts a host, optionally closes standard input after `close_after` seconds, and
        gives the host, its lines and its exit status, after checking the protocol."""
        host = Host(*arguments, scenario=scenario, **options)
        if close_after is not None:
            time.sleep(close_after)
            host.close_stdin()
        lines, status = host.finish(timeout)
        self.assertProtocol(host, lines, status)
        return host, lines, status
