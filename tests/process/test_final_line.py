"""Exactly one final line, last, with the exit status to match, on every road that ends the
process: a platform call that crashes, aborts, exits, throws or hangs, on the main thread or a
platform thread, and the stop signals."""

import os
import signal
import time
import unittest

from host import Host, ProtocolTestCase, line

SCRIPTED = "quillmate-dictate-scripted"
STOPPED = "Dictation stopped unexpectedly."
SANITIZED = bool(os.environ.get("QUILLMATE_SANITIZE"))
GRACE = 1.0
OVERDUE = 2.0  # past its due time, the watchdog ends the process
RESULTS = [{"afterMs": 50, "transcript": "go"}, {"afterMs": 150, "transcript": "go forward"}]


class PlatformFaults(ProtocolTestCase):
    # The operation, whether it runs on the main thread, and when the host closes standard input.
    # startAndReturnError and recognitionTaskWithRequest run while the session starts, stop and
    # endAudio during the graceful stop, cancel during the final teardown; a result is delivered
    # on the platform's own thread.
    OPERATIONS = [
        ("recognitionTaskWithRequest", True), ("startAndReturnError", True), ("stop", True),
        ("endAudio", True), ("cancel", True), ("result", False)]
    KINDS = ["segfault", "abort", "exit", "throw", "hang"]

    def run_fault(self, operation, kind):
        scenario = {"results": RESULTS, "fault": {"in": operation, "kind": kind}}
        host = Host(SCRIPTED, ["en-US"], scenario=scenario)
        time.sleep(0.5)
        host.close_stdin()
        lines, status = host.finish(timeout=30)
        return host, lines, status

    def assertOneFinalLine(self, host, lines, status, kind):
        statuses = [l["status"] for l in lines]
        self.assertEqual(sum(s in ("done", "error") for s in statuses), 1, lines)
        self.assertIn(statuses[-1], ("done", "error"), lines)
        self.assertEqual(status, 0 if statuses[-1] == "done" else 1, lines)
        # A sanitizer build keeps standard error for the sanitizer's own report of the crash.
        if not (SANITIZED and kind == "segfault"):
            self.assertEqual(host.stderr, b"")

    def test_every_kind_of_fault_gives_one_final_line(self):
        for operation, on_main in self.OPERATIONS:
            for kind in self.KINDS:
                with self.subTest(operation=operation, kind=kind):
                    host, lines, status = self.run_fault(operation, kind)
                    self.assertOneFinalLine(host, lines, status, kind)
                    if kind == "hang" and not on_main:
                        # A platform thread that never returns holds no one up: the session
                        # ends as usual, with the words that came before.
                        self.assertEqual(lines[-1], line("done"))
                        continue
                    self.assertEqual(lines[-1]["status"], "error")
                    self.assertEqual(lines[-1]["error"], STOPPED)
                    # The words heard before the fault reach the host.
                    listened = [l["transcript"] for l in lines if l["status"] == "listening"]
                    self.assertEqual(lines[-1]["transcript"], listened[-1] if listened else "")
                    if kind == "hang":
                        waited = host.time_of("error") - host.closed_stdin_at
                        self.assertGreater(waited, GRACE + OVERDUE - 0.2)
                        self.assertLess(waited, GRACE + OVERDUE + 3)

    def test_a_hang_before_any_stop_is_bounded_by_the_session_cap(self):
        # Nothing asked the session to stop: the final line is due a grace period after the cap.
        scenario = {"capMs": 500, "fault": {"in": "stop", "kind": "hang"}}
        host = Host(SCRIPTED, ["en-US"], scenario=scenario)
        lines, status = host.finish(timeout=30)
        self.assertProtocol(host, lines, status)
        self.assertEqual(lines[-1], line("error", "", STOPPED))
        self.assertGreater(host.time_of("error"), 0.5 + GRACE + OVERDUE - 0.2)
        self.assertLess(host.time_of("error"), 0.5 + GRACE + OVERDUE + 3)


class StopSignals(ProtocolTestCase):
    def test_a_stop_signal_is_a_stop_request(self):
        for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal.Signals(number).name):
                scenario = {"results": RESULTS + [
                    {"afterEndAudioMs": 100, "transcript": "go forward ten meters",
                     "isFinal": True}]}
                host = Host(SCRIPTED, ["en-US"], scenario=scenario)
                host.wait_for_line(lambda l: l["transcript"] == "go forward")
                host.process.send_signal(number)
                time.sleep(0.05)
                host.process.send_signal(number)  # a second one changes nothing
                lines, status = host.finish()
                self.assertProtocol(host, lines, status)
                self.assertEqual(lines[-2:], [line("listening", "go forward ten meters"),
                                              line("done", "go forward ten meters")])

    def test_a_stop_signal_without_a_final_result_waits_out_the_grace_period(self):
        host = Host(SCRIPTED, ["en-US"], scenario={"results": RESULTS})
        host.wait_for_line(lambda l: l["transcript"] == "go forward")
        signalled = time.monotonic() - host.started
        host.process.send_signal(signal.SIGTERM)
        lines, status = host.finish()
        self.assertProtocol(host, lines, status)
        self.assertEqual(lines[-1], line("done", "go forward"))
        self.assertGreater(host.time_of("done") - signalled, GRACE - 0.1)


if __name__ == "__main__":
    unittest.main()
