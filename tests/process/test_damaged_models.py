"""Acoustic models with one file damaged, loaded by the real helper as a host starts it: the
library that loads them may give up on the process from its own thread, while the main thread
goes on with the session. Whatever happens, the host must see exactly one final line, the last."""

import os
import random
import shutil
import tempfile
import threading
import time
import unittest

from audio_server import AudioServer
from host import Host, ProtocolTestCase

PRODUCT = "quillmate-dictate"
MODEL_ROOT = os.environ.get("QUILLMATE_MODEL_ROOT", "/usr/share/pocketsphinx/model")
DEBIAN = os.path.join(MODEL_ROOT, "en-us", "en-us")
DAMAGED = ("transition_matrices", "mdef", "sendump")
ROWS = 60
SEED = 26


def damages(count, seed):
    """(file, cut point, garbage) rows, the same on every run."""
    chooser = random.Random(seed)
    rows = []
    for index in range(count):
        name = DAMAGED[index % len(DAMAGED)]
        size = os.path.getsize(os.path.join(DEBIAN, name))
        cut = chooser.randrange(size)
        garbage = bytes(chooser.randrange(256) for _ in range(chooser.randrange(1, 64)))
        rows.append((name, cut, garbage))
    return rows


class DamagedModels(ProtocolTestCase):
    def setUp(self):
        self.server = AudioServer()
        self.scratch = tempfile.mkdtemp(prefix="quillmate-damaged-")

    def tearDown(self):
        self.server.stop()
        shutil.rmtree(self.scratch, ignore_errors=True)

    def install(self, index, damaged, cut, garbage):
        """An en-US model folder whose acoustic model has `damaged` cut at `cut` and followed by
        `garbage`; the other files are Debian's own."""
        home = os.path.join(self.scratch, f"home-{index}")
        folder = os.path.join(home, "quillmate-dictate", "models", "en-US")
        acoustic = os.path.join(folder, "acoustic-model")
        os.makedirs(acoustic)
        for name in os.listdir(DEBIAN):
            if name == "README":
                continue
            if name != damaged:
                os.symlink(os.path.join(DEBIAN, name), os.path.join(acoustic, name))
                continue
            with open(os.path.join(DEBIAN, name), "rb") as original:
                kept = original.read(cut)
            with open(os.path.join(acoustic, name), "wb") as copy:
                copy.write(kept + garbage)
        os.symlink(os.path.join(MODEL_ROOT, "en-us", "en-us.lm.bin"),
                   os.path.join(folder, "language-model.lm.bin"))
        os.symlink(os.path.join(MODEL_ROOT, "en-us", "cmudict-en-us.dict"),
                   os.path.join(folder, "dictionary.dict"))
        return dict(self.server.env, XDG_DATA_HOME=home, XDG_DATA_DIRS=self.scratch)

    def dictate(self, env, outcome):
        """Starts the helper, lets it load for a moment and closes its standard input, as a
        user who presses and releases the button does; keeps (host, lines, status)."""
        host = Host(PRODUCT, ["en-US"], env=env)
        time.sleep(1.0)
        host.close_stdin()
        lines, status = host.finish(timeout=60)
        outcome.append((host, lines, status))

    @unittest.skipIf(os.environ.get("QUILLMATE_SANITIZE"),
                     "a sanitizer build keeps standard error, and the sanitizer itself ends a "
                     "process whose library reads past what it loaded")
    def test_each_damage_ends_with_one_final_line(self):
        rows = damages(ROWS, SEED)
        for first in range(0, len(rows), 2):
            pair = list(enumerate(rows[first:first + 2], start=first))
            outcomes = {index: [] for index, _ in pair}
            threads = [threading.Thread(target=self.dictate,
                                        args=(self.install(index, *row), outcomes[index]))
                       for index, row in pair]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            for index, (damaged, cut, _) in pair:
                with self.subTest(f"{damaged} cut at {cut}"):
                    self.assertEqual(len(outcomes[index]), 1)
                    host, lines, status = outcomes[index][0]
                    self.assertProtocol(host, lines, status)


if __name__ == "__main__":
    unittest.main()
