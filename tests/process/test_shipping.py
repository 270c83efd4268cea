"""The macOS shipping kit, checked where it can be without a Mac: the entitlements say exactly
what each kind of host needs, and the signing script asks codesign for what shipping requires."""

import os
import plistlib
import shutil
import stat
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ENTITLEMENTS = os.path.join(ROOT, "app", "entitlements")
SIGN = os.path.join(ROOT, "scripts", "sign-macos")


class Shipping(unittest.TestCase):
    def test_each_entitlements_file_holds_exactly_its_keys(self):
        for name, expected in [
                ("hardened-runtime.entitlements", {"com.apple.security.device.audio-input": True}),
                ("sandboxed.entitlements", {"com.apple.security.app-sandbox": True,
                                            "com.apple.security.inherit": True})]:
            with self.subTest(name), open(os.path.join(ENTITLEMENTS, name), "rb") as file:
                self.assertEqual(plistlib.load(file), expected)

    def sign(self, *arguments):
        """Runs the script with a codesign that records its arguments instead of signing."""
        folder = tempfile.mkdtemp(prefix="quillmate-sign-")
        self.addCleanup(shutil.rmtree, folder)
        record = os.path.join(folder, "calls")
        fake = os.path.join(folder, "codesign")
        with open(fake, "w") as file:
            file.write(f'#!/bin/sh\nprintf "%s\\n" "$*" >> "{record}"\n')
        os.chmod(fake, stat.S_IRWXU)
        helper = os.path.join(folder, "quillmate-dictate")
        open(helper, "w").close()
        process = subprocess.run(
            [SIGN, helper, *arguments], capture_output=True, text=True,
            env=dict(os.environ, PATH=folder + os.pathsep + os.environ["PATH"]))
        calls = open(record).read().splitlines() if os.path.exists(record) else []
        return process.returncode, calls, helper

    def test_the_signing_step(self):
        for kind, file in [("hardened", "hardened-runtime.entitlements"),
                           ("sandboxed", "sandboxed.entitlements")]:
            with self.subTest(kind):
                status, calls, helper = self.sign("com.example.Quillmate", "Developer ID", kind)
                self.assertEqual(status, 0)
                self.assertEqual(calls, [
                    f"--force --sign Developer ID --options runtime --timestamp --identifier "
                    f"com.example.Quillmate.dictate --entitlements {ENTITLEMENTS}/{file} {helper}",
                    f"--verify --strict --verbose=2 {helper}"])

    def test_the_signing_step_refuses_what_it_cannot_ship(self):
        for arguments in [("com.example.Quillmate", "Developer ID", "unsandboxed"),
                          ("not an id", "Developer ID", "hardened"),
                          ("com.example.Quillmate", "Developer ID")]:
            with self.subTest(arguments):
                status, calls, _ = self.sign(*arguments)
                self.assertEqual((status, calls), (2, []))


if __name__ == "__main__":
    unittest.main()
