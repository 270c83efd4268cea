"""quillmate-dictate end to end: a private audio server, real recorded speech, and the product
run as a host runs it."""

import signal
import time
import unittest

from audio_server import GO_FORWARD, AudioServer
from host import NO_INPUT, LINUX_UNAVAILABLE as UNAVAILABLE, Host, ProtocolTestCase, line

PRODUCT = "quillmate-dictate"


class RealDictation(ProtocolTestCase):
    def setUp(self):
        self.server = AudioServer()

    def tearDown(self):
        self.server.stop()

    def test_spoken_sentence_becomes_the_final_transcript(self):
        host = Host(PRODUCT, ["en-US"], env=self.server.env)
        lines, status = self.speak_then_stop(host, self.server, GO_FORWARD)
        self.assertEqual(lines[:2], [line("starting"), line("listening")])
        self.assertEqual(lines[-2:], [line("listening", "Go forward 10 meters"),
                                      line("done", "Go forward 10 meters")])
        partials = [l["transcript"] for l in lines[2:-2]]
        self.assertTrue(partials and all(partials), partials)
        # The final result arrives well inside the grace period.
        self.assertLess(host.time_of("done") - host.closed_stdin_at, 0.9)

    def test_a_stop_with_nothing_said_ends_at_once(self):
        # The null sink's monitor gives digital silence: nothing was said, and the helper says
        # so without waiting for the rest of the model load.
        host = Host(PRODUCT, ["en-US"], env=self.server.env)
        host.wait_for_line(lambda l: l["status"] == "listening")
        host.close_stdin()
        lines, status = host.finish()
        self.assertProtocol(host, lines, status)
        self.assertEqual(lines, [line("starting"), line("listening"), line("listening"),
                                 line("done")])

    def test_the_server_killed_mid_session(self):
        # Capture that ends by itself is a stop request: the words so far reach the host after
        # at most the grace period, without waiting for end-of-file.
        host = Host(PRODUCT, ["en-US"], env=self.server.env)
        host.wait_for_line(lambda l: l["status"] == "listening")
        player = self.server.play(GO_FORWARD, wait=False)
        host.wait_for_line(lambda l: l["transcript"] != "" and l["status"] == "listening", 20)
        killed_at = time.monotonic() - host.started
        self.server.signal(signal.SIGKILL)
        player.wait(timeout=10)
        host.wait_for_line(lambda l: l["status"] in ("done", "error"), 10)
        self.assertLess(host.time_of("done") - killed_at, 5)
        host.close_stdin()
        lines, status = host.finish()
        self.assertProtocol(host, lines, status)
        self.assertEqual(lines[-1]["status"], "done")
        self.assertEqual(lines[-1]["transcript"], lines[-2]["transcript"])
        self.assertTrue(lines[-1]["transcript"].startswith("Go"), lines)

    def test_a_hung_server_does_not_wedge_the_helper(self):
        self.server.signal(signal.SIGSTOP)
        host = Host(PRODUCT, ["en-US"], env=self.server.env)
        lines, status = host.finish(timeout=30)
        self.assertProtocol(host, lines, status)
        self.assertEqual(lines, [line("starting"), line("error", "", NO_INPUT)])
        self.assertLess(host.time_of("error"), 10)


class WithoutAServer(ProtocolTestCase):
    def test_no_server_at_all(self):
        _, lines, _ = self.run_host(PRODUCT, ["en-US"],
                                    env={"PULSE_SERVER": "unix:/nonexistent/quillmate/native"})
        self.assertEqual(lines, [line("starting"), line("error", "", NO_INPUT)])

    def test_locales_without_a_model_give_the_unavailable_message_alone(self):
        for locale in ["fr-FR", "en-GB", "", "../../../../etc/passwd", "en/../en-us",
                       "en-US" + "x" * 10000]:
            with self.subTest(locale=locale[:40]):
                _, lines, status = self.run_host(PRODUCT, [locale])
                self.assertEqual(lines, [line("error", "", UNAVAILABLE)])
                self.assertEqual(status, 1)


if __name__ == "__main__":
    unittest.main()
