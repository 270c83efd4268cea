"""The helper keeps listening through the recognizer's own pauses and through a change of the
audio hardware, as the macOS platform's layers make it, played here by the scripted platform."""

import time
import unittest

from host import NO_INPUT, Host, ProtocolTestCase, line

SCRIPTED = "quillmate-dictate-scripted"
SEGMENTED = {"recognizer": {"segmented": True}}


def scenario(**keys):
    return dict(SEGMENTED, **keys)


def listening(*transcripts):
    return [line("starting"), line("listening")] + [line("listening", t) for t in transcripts]


MILK_AND_EGGS = listening("Buy milk", "Buy milk and eggs") + [line("done", "Buy milk and eggs")]


def milk_then_eggs(eggs_after_ms, **keys):
    """Words before and after a road of capture, all in the first native task."""
    return scenario(results=[
        {"afterMs": 100, "transcript": "Buy milk"},
        {"afterMs": eggs_after_ms, "transcript": "Buy milk and eggs"}], **keys)


class Roads(ProtocolTestCase):
    # name, scenario, transcript to wait for before closing standard input (None: never close),
    # the lines, and how many native tasks, engine starts and engines the road takes (None where
    # the count depends on how the machine's timers fall).
    PAUSES = [
        ("a pause final, then more words",
         scenario(results=[
             {"afterMs": 100, "transcript": "Buy milk"},
             {"afterMs": 300, "transcript": "Buy milk", "isFinal": True},
             {"task": 1, "afterMs": 300, "transcript": "and eggs"},
             {"task": 1, "afterEndAudioMs": 100, "transcript": "and eggs", "isFinal": True}]),
         "Buy milk and eggs",
         listening("Buy milk", "Buy milk", "Buy milk and eggs", "Buy milk and eggs")
         + [line("done", "Buy milk and eggs")], 1 + 1, 1, 1),
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
        # Mended: the task's text was taken whole, so "done" kept only the last utterance.
        ("a pause that resets the task's text",
         scenario(results=[
             {"afterMs": 100, "transcript": "Buy milk"},
             {"afterMs": 300, "transcript": "Buy milk", "utteranceEnded": True},
             {"afterMs": 600, "transcript": "and eggs"},
             {"afterEndAudioMs": 100, "transcript": "", "isFinal": True}]),
         "Buy milk and eggs",
         listening("Buy milk", "Buy milk", "Buy milk and eggs", "Buy milk and eggs")
         + [line("done", "Buy milk and eggs")], 1, 1, 1),
        ("control: the same task without the pause's mark loses the first utterance",
         scenario(results=[
             {"afterMs": 100, "transcript": "Buy milk"},
             {"afterMs": 300, "transcript": "Buy milk"},
             {"afterMs": 600, "transcript": "and eggs"},
             {"afterEndAudioMs": 100, "transcript": "and eggs", "isFinal": True}]),
         "and eggs",
         listening("Buy milk", "Buy milk", "and eggs", "and eggs") + [line("done", "and eggs")],
         1, 1, 1),
    ]
    CAPTURE = [
        ("a change while the engine keeps running",
         milk_then_eggs(300, configurationChangesAfterMs=[200], engineKeepsRunning=True),
         "Buy milk and eggs", MILK_AND_EGGS, 1, 1, 1),
        ("a change on the same input goes on in the same task, on a fresh engine",
         milk_then_eggs(600, configurationChangesAfterMs=[200]),
         "Buy milk and eggs", MILK_AND_EGGS, 1, 2, 2),
        ("a headset in its hands-free profile: another format, a new task",
         scenario(configurationChangesAfterMs=[200],
                  inputAfterChange={"sampleRate": 16000, "channelCount": 1}, results=[
                      {"afterMs": 100, "transcript": "Buy milk"},
                      {"afterEndAudioMs": 50, "transcript": "Buy milk", "isFinal": True},
                      {"task": 1, "afterMs": 300, "transcript": "and eggs"},
                      {"task": 1, "afterEndAudioMs": 100, "transcript": "and eggs",
                       "isFinal": True}]),
         "Buy milk and eggs",
         listening("Buy milk", "Buy milk", "Buy milk and eggs", "Buy milk and eggs")
         + [line("done", "Buy milk and eggs")], 2, 2, 2),
        ("a restart that fails once", milk_then_eggs(900, configurationChangesAfterMs=[200],
                                                     restartFailures=1),
         "Buy milk and eggs", MILK_AND_EGGS, 1, 3, 3),
        # Mended: three tries 100 ms apart were spent long before the headset was ready.
        ("a headset that is ready 2 s after the change",
         milk_then_eggs(3600, configurationChangesAfterMs=[200], restartFailuresForMs=2000),
         "Buy milk and eggs", MILK_AND_EGGS, 1, None, None),
        ("restarts that fail for the whole budget end capture by themselves",
         milk_then_eggs(100, configurationChangesAfterMs=[200], restartFailuresForMs=60000),
         None, listening("Buy milk", "Buy milk and eggs") + [line("done", "Buy milk and eggs")],
         1, None, None),
        ("a first start during a headset's switch", milk_then_eggs(1500, startFailures=2),
         "Buy milk and eggs", MILK_AND_EGGS, 1, 3, 3),
        ("a first start that never works",
         scenario(startFailures=100, engineStartError="The device is busy."), None,
         listening() + [line("error", "", "Microphone could not start: The device is busy.")],
         1, None, None),
        # Mended: a microphone that delivered nothing ended as "done", like a quiet user.
        ("no sound ever arrives", scenario(buffersNeverArrive=True), None,
         listening() + [line("error", "", "Microphone could not start: "
                             "No sound arrived from the microphone.")], 1, None, None),
        # Mended: an engine that ran without buffers looked like silence until the host stopped.
        ("a tap that goes quiet while the engine runs",
         milk_then_eggs(2500, buffersStopAfterMs=300), "Buy milk and eggs", MILK_AND_EGGS,
         1, 2, 2),
        ("an input that is not ready for 700 ms", milk_then_eggs(1500, inputUnusableForMs=700),
         "Buy milk and eggs", MILK_AND_EGGS, 1, 1, None),
        ("an input that never becomes ready", scenario(inputUnusableForMs=60000), None,
         listening() + [line("error", "", NO_INPUT)], 1, 0, None),
    ]

    def run_roads(self, roads):
        for name, played, wait_for, expected, tasks, starts, engines in roads:
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
                if starts is not None:
                    self.assertEqual(calls.count("startAndReturnError"), starts)
                if engines is not None:
                    self.assertEqual(max(calls.count("init"), 1), engines)
                if wait_for is None:
                    # Capture ended without the host, only once its budget was spent.
                    self.assertGreater(host.time_of(lines[-1]["status"]), 2.0)
                    self.assertLess(host.time_of(lines[-1]["status"]), 15)

    def test_each_pause_keeps_every_word(self):
        self.run_roads(self.PAUSES)

    def test_each_road_of_capture_ends_with_one_final_line_and_every_word(self):
        self.run_roads(self.CAPTURE)

    def test_a_stop_while_capture_comes_up_is_a_plain_stop(self):
        # The host's stop ends the tries: no late "could not start" follows it.
        host = Host(SCRIPTED, ["en-US"], scenario=scenario(startFailures=100), call_log=True)
        host.wait_for_line(lambda l: l["status"] == "listening")
        time.sleep(0.5)
        host.close_stdin()
        lines, status = host.finish()
        self.assertProtocol(host, lines, status)
        self.assertEqual(lines, listening() + [line("done")])
        starts = host.calls().count("startAndReturnError")
        self.assertTrue(2 <= starts <= 3, starts)  # the tries at 0 and 250 ms, maybe 750 ms

    def test_without_the_layer_a_pause_ends_the_dictation(self):
        played = {"results": Roads.PAUSES[0][1]["results"]}
        host = Host(SCRIPTED, ["en-US"], scenario=played)
        lines, status = host.finish()
        self.assertProtocol(host, lines, status)
        self.assertEqual(lines, listening("Buy milk", "Buy milk") + [line("done", "Buy milk")])

    def test_a_restart_makes_these_native_calls(self):
        played = scenario(configurationChangesAfterMs=[200], restartFailures=1,
                          results=[{"afterMs": 900, "transcript": "and eggs"}])
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
            # the first try, on the engine the session read
            "addObserver", "outputFormatForBus 0", "installTapOnBus 0 1024", "prepare",
            "startAndReturnError"])
        fresh_engine = ["removeObserver", "removeTapOnBus 0", "stop", "init", "addObserver",
                        "outputFormatForBus 0", "installTapOnBus 0 1024", "prepare",
                        "startAndReturnError"]
        self.assertEqual(calls[change:], [
            "configurationChange", "isRunning",
            # the same format: no new task; a fresh engine, read before its tap; it will not start
            *fresh_engine,
            # 250 ms later, another fresh engine
            *fresh_engine,
            # the host's stop
            "removeObserver", "stop", "removeTapOnBus 0", "endAudio", "stop", "endAudio",
            "cancel"])


if __name__ == "__main__":
    unittest.main()
