"""The helper keeps listening through the recognizer's own pauses and through a change of the
audio hardware, as the macOS platform's layers make it, played here by the scripted platform."""

import time
import unittest

from host import Host, ProtocolTestCase, line

SCRIPTED = "quillmate-dictate-scripted"
SEGMENTED = {"recognizer": {"segmented": True}}


def scenario(**keys):
    return dict(SEGMENTED, **keys)


def listening(*transcripts):
    return [line("starting"), line("listening")] + [line("listening", t) for t in transcripts]


class Roads(ProtocolTestCase):
    # name, scenario, transcript to wait for before closing standard input (None: never close),
    # the lines, and how many native tasks, engine starts and engines the road takes.
    ROADS = [
        ("a pause final, then more words",
         scenario(results=[
             {"afterMs": 100, "transcript": "Buy milk"},
             {"afterMs": 300, "transcript": "Buy milk", "isFinal": True},
             {"task": 1, "afterMs": 300, "transcript": "and eggs"},
             {"task": 1, "afterEndAudioMs": 100, "transcript": "and eggs", "isFinal": True}]),
         "Buy milk and eggs",
         listening("Buy milk", "Buy milk", "Buy milk and eggs", "Buy milk and eggs")
         + [line("done", "Buy milk and eggs")], 2, 1, 1),
        ("nothing said during a long pause",
         scenario(results=[
             {"afterMs": 100, "transcript": "Buy milk"},
             {"afterMs": 300, "error": "No speech detected", "nothingSaid": True},
             {"task": 1, "afterMs": 300, "transcript": "and eggs"},
             {"task": 1, "afterEndAudioMs": 100, "transcript": "and eggs", "isFinal": True}]),
         "Buy milk and eggs",
         listening("Buy milk", "Buy milk and eggs", "Buy milk and eggs")
         + [line("done", "Buy milk and eggs")], 2, 1, 1),
        ("a pause final during the grace period",
         scenario(results=[
             {"afterMs": 100, "transcript": "Buy milk"},
             {"afterEndAudioMs": 100, "transcript": "Buy milk", "isFinal": True}]),
         "Buy milk", listening("Buy milk", "Buy milk") + [line("done", "Buy milk")], 1, 1, 1),
        ("a pause final just before the stop, then a task that heard nothing",
         scenario(results=[
             {"afterMs": 100, "transcript": "Buy milk", "isFinal": True},
             {"task": 1, "afterEndAudioMs": 50, "error": "No speech detected",
              "nothingSaid": True}]),
         "Buy milk", listening("Buy milk") + [line("done", "Buy milk")], 2, 1, 1),
        ("a change while the engine keeps running",
         scenario(configurationChangesAfterMs=[100], engineKeepsRunning=True,
                  results=[{"afterMs": 300, "transcript": "Buy milk"}]),
         "Buy milk", listening("Buy milk") + [line("done", "Buy milk")], 1, 1, 1),
        ("a change with a good restart",
         scenario(configurationChangesAfterMs=[200], results=[
             {"afterMs": 100, "transcript": "Buy milk"},
             {"afterEndAudioMs": 50, "transcript": "Buy milk", "isFinal": True},
             {"task": 1, "afterMs": 300, "transcript": "and eggs"},
             {"task": 1, "afterEndAudioMs": 100, "transcript": "and eggs", "isFinal": True}]),
         "Buy milk and eggs",
         listening("Buy milk", "Buy milk", "Buy milk and eggs", "Buy milk and eggs")
         + [line("done", "Buy milk and eggs")], 2, 2, 1),
        ("a change that needs a fresh engine",
         scenario(configurationChangesAfterMs=[200], restartFailures=1, results=[
             {"afterMs": 100, "transcript": "Buy milk"},
             {"task": 1, "afterMs": 400, "transcript": "and eggs"},
             {"task": 1, "afterEndAudioMs": 100, "transcript": "and eggs", "isFinal": True}]),
         "Buy milk and eggs",
         listening("Buy milk", "Buy milk and eggs", "Buy milk and eggs")
         + [line("done", "Buy milk and eggs")], 2, 3, 2),
        ("restarts that all fail end capture by themselves",
         scenario(configurationChangesAfterMs=[200], restartFailures=3,
                  results=[{"afterMs": 100, "transcript": "Buy milk"}]),
         None, listening("Buy milk") + [line("done", "Buy milk")], 2, 4, 3),
    ]

    def test_each_road_ends_with_one_final_line_and_every_word(self):
        for name, played, wait_for, expected, tasks, starts, engines in self.ROADS:
            with self.subTest(name):
                host = Host(SCRIPTED, ["en-US"], scenario=played, call_log=True)
                if wait_for is not None:
                    host.wait_for_line(lambda l: l["transcript"] == wait_for)
                    time.sleep(0.3)  # a spurious change, had it ended capture, would show by now
                    host.close_stdin()
                lines, status = host.finish()
                self.assertProtocol(host, lines, status)
                self.assertEqual(lines, expected)
                calls = host.calls()
                self.assertEqual(calls.count("recognitionTaskWithRequest"), tasks)
                self.assertEqual(calls.count("startAndReturnError"), starts)
                self.assertEqual(max(calls.count("init"), 1), engines)
                if wait_for is None:
                    # Capture ended by itself: the grace period, then "done", without the host.
                    self.assertGreater(host.time_of("done"), 1.2)
                    self.assertLess(host.time_of("done"), 10)

    def test_without_the_layer_a_pause_ends_the_dictation(self):
        played = {"results": Roads.ROADS[0][1]["results"]}
        host = Host(SCRIPTED, ["en-US"], scenario=played)
        lines, status = host.finish()
        self.assertProtocol(host, lines, status)
        self.assertEqual(lines, listening("Buy milk", "Buy milk") + [line("done", "Buy milk")])

    def test_a_restart_makes_these_native_calls(self):
        played = scenario(configurationChangesAfterMs=[200], restartFailures=1,
                          results=[{"task": 1, "afterMs": 300, "transcript": "and eggs"}])
        host = Host(SCRIPTED, ["en-US"], scenario=played, call_log=True)
        host.wait_for_line(lambda l: l["transcript"] == "and eggs")
        host.close_stdin()
        lines, status = host.finish()
        self.assertProtocol(host, lines, status)
        calls = host.calls()
        change = calls.index("configurationChange")
        self.assertEqual(calls[:change], [
            "init", "initWithLocale en-US", "isAvailable", "supportsOnDeviceRecognition",
            "authorizationStatusForMediaType", "requestAuthorization",
            "setRequiresOnDeviceRecognition 1", "setShouldReportPartialResults 1",
            "setTaskHint 1", "recognitionTaskWithRequest", "outputFormatForBus 0",
            "installTapOnBus 0 1024", "addObserver", "prepare", "startAndReturnError"])
        self.assertEqual(calls[change:], [
            "configurationChange", "isRunning",
            # the segment boundary: the old request's audio ends, a new request and task
            "endAudio", "setRequiresOnDeviceRecognition 1", "setShouldReportPartialResults 1",
            "setTaskHint 1", "recognitionTaskWithRequest",
            # the same engine, tap on the current format; it will not start
            "removeTapOnBus 0", "installTapOnBus 0 1024", "prepare", "startAndReturnError",
            # a fresh engine
            "removeObserver", "removeTapOnBus 0", "stop", "init", "addObserver",
            "installTapOnBus 0 1024", "prepare", "startAndReturnError",
            # the host's stop
            "removeObserver", "stop", "removeTapOnBus 0", "endAudio", "stop", "endAudio",
            "cancel", "cancel"])


if __name__ == "__main__":
    unittest.main()
