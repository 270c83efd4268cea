"""The real 60-second session cap: slow, and kept in CI."""

import unittest

from host import Host, ProtocolTestCase


class SessionCap(ProtocolTestCase):
    def test_a_host_that_never_closes_standard_input_gets_done_after_the_cap(self):
        scenario = {"results": [{"afterMs": 200, "transcript": "still talking"}]}
        host = Host("quillmate-dictate-scripted", ["en-US"], scenario=scenario)
        lines, status = host.finish(timeout=120)
        self.assertProtocol(host, lines, status)
        self.assertEqual(lines[-1], {"status": "done", "transcript": "still talking", "error": ""})
        # The cap counts from construction, then the task gets its one-second grace period.
        self.assertGreaterEqual(host.time_of("done"), 61.0)
        self.assertLess(host.time_of("done"), 75.0)
        host.process.stdin.close()


if __name__ == "__main__":
    unittest.main()
