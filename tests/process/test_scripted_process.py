"""The whole process on the scripted platform, driven as a host drives it."""

import json
import os
import subprocess
import time
import unittest

from host import BIN, MICROPHONE, SPEECH, UNAVAILABLE, Host, ProtocolTestCase, line

SCRIPTED = "quillmate-dictate-scripted"


STARTING = line("starting")
LISTENING = line("listening")
DICTATION = [{"afterMs": 50, "transcript": "go"},
             {"afterMs": 100, "transcript": "go forward"},
             {"afterEndAudioMs": 100, "transcript": "go forward ten meters", "isFinal": True}]


class StartUp(ProtocolTestCase):
    def test_each_start_up_outcome(self):
        cases = [
            ("no recognizer", {"recognizer": {"exists": False}}, [line("error", "", UNAVAILABLE)]),
            ("recognizer unavailable", {"recognizer": {"available": False}},
             [line("error", "", UNAVAILABLE)]),
            ("no on-device recognition", {"recognizer": {"onDevice": False}},
             [line("error", "", UNAVAILABLE)]),
            ("microphone restricted", {"microphone": {"status": 1}},
             [STARTING, line("error", "", MICROPHONE)]),
            ("microphone denied", {"microphone": {"status": 2}},
             [STARTING, line("error", "", MICROPHONE)]),
            ("microphone status 99", {"microphone": {"status": 99}},
             [STARTING, line("error", "", MICROPHONE)]),
            ("microphone prompt refused", {"microphone": {"status": 0, "granted": False}},
             [STARTING, line("error", "", MICROPHONE)]),
            ("speech not determined", {"speech": {"status": 0}},
             [STARTING, line("error", "", SPEECH)]),
            ("speech denied", {"speech": {"status": 1}}, [STARTING, line("error", "", SPEECH)]),
            ("speech restricted", {"speech": {"status": 2}}, [STARTING, line("error", "", SPEECH)]),
        ]
        for name, scenario, expected in cases:
            with self.subTest(name):
                _, lines, status = self.run_host(SCRIPTED, ["en-US"], scenario=scenario)
                self.assertEqual(lines, expected)
                self.assertEqual(status, 1)

    def test_microphone_prompt_granted_goes_on_to_listen(self):
        host = Host(SCRIPTED, ["en-US"], scenario={"microphone": {"status": 0, "answerAfterMs": 100}},
                    call_log=True)
        host.wait_for_line(lambda l: l["status"] == "listening")
        host.close_stdin()
        lines, status = host.finish()
        self.assertProtocol(host, lines, status)
        self.assertEqual(lines, [STARTING, LISTENING, line("done")])
        calls = host.calls()
        self.assertLess(calls.index("requestAccessForMediaType"), calls.index("requestAuthorization"))

    def test_end_of_file_while_a_permission_answer_is_outstanding(self):
        for who in ("microphone", "speech"):
            with self.subTest(who):
                scenario = {who: {"status": 0 if who == "microphone" else 3, "answerAfterMs": 20000}}
                host, lines, status = self.run_host(SCRIPTED, ["en-US"], scenario=scenario,
                                                    close_after=0.3)
                self.assertEqual(lines, [STARTING, line("done")])
                self.assertLess(host.time_of("done"), 5)


class Dictation(ProtocolTestCase):
    def test_end_of_file_and_the_final_result_within_the_grace_period(self):
        host = Host(SCRIPTED, ["en-US"], scenario={"results": DICTATION})
        host.wait_for_line(lambda l: l["transcript"] == "go forward")
        host.close_stdin()
        lines, status = host.finish()
        self.assertProtocol(host, lines, status)
        self.assertEqual(lines, [STARTING, LISTENING, line("listening", "go"),
                                 line("listening", "go forward"),
                                 line("listening", "go forward ten meters"),
                                 line("done", "go forward ten meters")])
        self.assertLess(host.time_of("done") - host.closed_stdin_at, 0.9)

    def test_end_of_file_without_a_final_result_waits_out_the_grace_period(self):
        host = Host(SCRIPTED, ["en-US"], scenario={"results": DICTATION[:2]})
        host.wait_for_line(lambda l: l["transcript"] == "go forward")
        host.close_stdin()
        lines, status = host.finish()
        self.assertProtocol(host, lines, status)
        self.assertEqual(lines[-1], line("done", "go forward"))
        waited = host.time_of("done") - host.closed_stdin_at
        self.assertGreaterEqual(waited, 0.95)
        self.assertLess(waited, 5)

    def test_the_cap_and_end_of_file_both_come(self):
        host = Host(SCRIPTED, ["en-US"], scenario={"results": DICTATION[:2], "capMs": 1000})
        time.sleep(1.3)  # inside the grace period that the cap began
        host.close_stdin()
        lines, status = host.finish()
        self.assertProtocol(host, lines, status)
        self.assertEqual(lines[-1], line("done", "go forward"))
        self.assertGreaterEqual(host.time_of("done"), 1.9)

    def test_bytes_on_standard_input_do_not_stop_the_session(self):
        host = Host(SCRIPTED, ["en-US"], scenario={"capMs": 1500, "graceMs": 100})
        for _ in range(20):
            host.write(b"stop\n\x00\xff" * 100)
            time.sleep(0.02)
        lines, status = host.finish()
        self.assertProtocol(host, lines, status)
        self.assertEqual(lines, [STARTING, LISTENING, line("done")])
        self.assertGreaterEqual(host.time_of("done"), 1.5)

    def test_standard_input_already_at_end_of_file(self):
        host, lines, status = self.run_host(SCRIPTED, ["en-US"], stdin=subprocess.DEVNULL)
        self.assertEqual(lines[0], STARTING)
        self.assertEqual(lines[-1], line("done"))
        self.assertEqual(status, 0)

    def test_standard_output_closed_early(self):
        scenario = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"closed-{os.getpid()}.json")
        with open(scenario, "w") as file:
            json.dump({"results": DICTATION}, file)
        process = subprocess.Popen(
            [os.path.join(BIN, SCRIPTED), "en-US"], stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            env=dict(os.environ, QUILLMATE_SCENARIO=scenario))
        self.assertEqual(json.loads(process.stdout.readline())["status"], "starting")
        process.stdout.close()  # the host stops reading: every later line meets a closed pipe
        time.sleep(0.3)
        process.stdin.close()
        status = process.wait(timeout=10)
        self.assertEqual(status, 0, "the helper must exit with its own status, not die of SIGPIPE")
        self.assertEqual(process.stderr.read(), b"")
        process.stderr.close()
        os.unlink(scenario)


class ClosedStandardDescriptors(ProtocolTestCase):
    """A host that starts the helper with a standard descriptor closed (`<&-`, `>&-`, `2>&-`)."""

    def launch(self, closed, scenario):
        path = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"fds-{os.getpid()}.json")
        with open(path, "w") as file:
            json.dump(scenario, file)
        self.addCleanup(os.unlink, path)
        # Closed in the child alone, after its pipes are in place and before the helper runs.
        process = subprocess.Popen(
            [os.path.join(BIN, SCRIPTED), "en-US"], stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=lambda: os.close(closed),
            env=dict(os.environ, QUILLMATE_SCENARIO=path))
        self.addCleanup(lambda: process.poll() is None and process.kill())
        started = time.monotonic()
        return process, started

    def test_closed_standard_input_is_the_stop_request(self):
        process, started = self.launch(0, {"results": DICTATION[:2]})
        out, err = process.communicate(timeout=30)
        lines = [json.loads(raw) for raw in out.splitlines()]
        self.assertEqual((lines[0], lines[-1], process.returncode, err),
                         (STARTING, line("done", lines[-1]["transcript"]), 0, b""))
        self.assertLess(time.monotonic() - started, 10, "a closed input must not wait for the cap")

    def test_closed_standard_output_drops_the_lines(self):
        process, _ = self.launch(1, {"results": DICTATION})
        time.sleep(0.3)
        _, err = process.communicate(timeout=10)
        self.assertEqual((process.returncode, err), (0, b""))

    def test_closed_standard_error_changes_nothing(self):
        process, _ = self.launch(2, {"results": DICTATION})
        time.sleep(0.3)
        out, _ = process.communicate(timeout=10)
        lines = [json.loads(raw) for raw in out.splitlines()]
        self.assertEqual(lines[-1], line("done", "go forward ten meters"))
        self.assertEqual(process.returncode, 0)


class Harness(ProtocolTestCase):
    def test_a_bad_scenario_is_a_harness_error(self):
        host = Host(SCRIPTED, ["en-US"], scenario={"microphone": {"status": "three"}})
        lines, status = host.finish()
        self.assertEqual((lines, status), ([], 2))
        self.assertIn(b'"status" must be an integer', host.stderr)

    def test_the_call_log_records_a_whole_dictation(self):
        host = Host(SCRIPTED, [], scenario={"results": DICTATION}, call_log=True)
        host.wait_for_line(lambda l: l["transcript"] == "go forward")
        host.close_stdin()
        lines, status = host.finish()
        self.assertEqual(status, 0)
        self.assertEqual(host.calls(), [
            "initWithLocale en_US", "isAvailable", "supportsOnDeviceRecognition",
            "authorizationStatusForMediaType", "requestAuthorization",
            "setRequiresOnDeviceRecognition 1", "setShouldReportPartialResults 1",
            "setTaskHint 1", "recognitionTaskWithRequest", "inputNode", "outputFormatForBus 0",
            "installTapOnBus 0 1024", "prepare", "startAndReturnError", "stop", "inputNode",
            "removeTapOnBus 0", "endAudio", "stop", "endAudio", "cancel"])


class PropertyList(unittest.TestCase):
    def test_every_executable_carries_the_property_list(self):
        bundle = os.environ.get("QUILLMATE_BUNDLE_IDENTIFIER", "app.quillmate.Quillmate")
        expected = (
            '<?xml version="1.0" encoding="UTF-8"?>\n'
            '<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" '
            '"http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n'
            '<plist version="1.0"><dict>\n'
            f'<key>CFBundleIdentifier</key><string>{bundle}</string>\n'
            '<key>NSSpeechRecognitionUsageDescription</key><string>Quillmate uses on-device '
            'speech recognition to transcribe system audio and text you dictate into task '
            'fields.</string>\n'
            '<key>NSMicrophoneUsageDescription</key><string>Quillmate uses your microphone only '
            'when you press the dictation button to fill a task field.</string>\n'
            '</dict></plist>\n').encode()
        for executable in ("quillmate-dictate", SCRIPTED):
            with self.subTest(executable):
                out = os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                   f"{executable}-{os.getpid()}.plist")
                subprocess.run(["objcopy", f"--dump-section=.info_plist={out}",
                                os.path.join(os.environ.get("QUILLMATE_BIN", "build/bin"),
                                             executable), os.devnull], check=True)
                with open(out, "rb") as plist:
                    self.assertEqual(plist.read(), expected)
                os.unlink(out)


if __name__ == "__main__":
    unittest.main()
