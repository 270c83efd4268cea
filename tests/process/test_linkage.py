"""What the executables need from the machine they run on: a helper built to link utf8proc
statically must not ask the dynamic loader for it."""

import os
import re
import subprocess
import unittest

BIN = os.environ.get("QUILLMATE_BIN", "build/bin")
STATIC = os.environ.get("QUILLMATE_STATIC_UTF8PROC", "OFF").upper() in ("ON", "1", "TRUE", "YES")


class Linkage(unittest.TestCase):
    def test_utf8proc_is_needed_only_by_a_dynamic_build(self):
        for executable in ("quillmate-dictate", "quillmate-dictate-scripted"):
            with self.subTest(executable):
                dynamic = subprocess.run(["readelf", "-d", os.path.join(BIN, executable)],
                                         check=True, capture_output=True, text=True).stdout
                needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic)
                self.assertIn("libc.so.6", needed)  # the section was read at all
                self.assertEqual(any(n.startswith("libutf8proc.so") for n in needed),
                                 not STATIC, needed)


if __name__ == "__main__":
    unittest.main()
