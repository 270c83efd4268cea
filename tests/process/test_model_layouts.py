"""Acoustic models in every layout the decoder's library loads, installed on the XDG data path
and dictated into, made from files that Debian's packages ship."""

import os
import shutil
import subprocess
import tempfile
import unittest

from audio_server import GO_FORWARD, TESTDATA, AudioServer
from host import LINUX_UNAVAILABLE, Host, ProtocolTestCase, line

PRODUCT = "quillmate-dictate"
MODEL_ROOT = os.environ.get("QUILLMATE_MODEL_ROOT", "/usr/share/pocketsphinx/model")
DEBIAN = os.path.join(MODEL_ROOT, "en-us", "en-us")
# Debian's other acoustic model: continuous, context-independent, with mixture_weights and a
# text mdef, and no sendump.
AN4 = os.path.join(TESTDATA, "an4_ci_cont")
SPOKEN = "Go forward 10 meters"  # English words as a person types them


def debian(*leave_out):
    return {name: os.path.join(DEBIAN, name) for name in os.listdir(DEBIAN)
            if name != "README" and name not in leave_out}


def an4(*leave_out):
    return {name: os.path.join(AN4, name) for name in os.listdir(AN4) if name not in leave_out}


class Layouts(ProtocolTestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="quillmate-layouts-")
        cls.text_mdef = os.path.join(cls.scratch, "mdef.txt")
        subprocess.run(["pocketsphinx_mdef_convert", "-text", os.path.join(DEBIAN, "mdef"),
                        cls.text_mdef], check=True, capture_output=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        self.server = AudioServer()

    def tearDown(self):
        self.server.stop()

    def install(self, acoustic, tag="en-US"):
        """A model folder for `tag` with this acoustic model: name -> file to link, or None
        for a folder in its place."""
        home = tempfile.mkdtemp(prefix="home-", dir=self.scratch)
        folder = os.path.join(home, "quillmate-dictate", "models", tag)
        os.makedirs(os.path.join(folder, "acoustic-model"))
        for name, target in acoustic.items():
            path = os.path.join(folder, "acoustic-model", name)
            os.mkdir(path) if target is None else os.symlink(target, path)
        os.symlink(os.path.join(MODEL_ROOT, "en-us", "en-us.lm.bin"),
                   os.path.join(folder, "language-model.lm.bin"))
        os.symlink(os.path.join(MODEL_ROOT, "en-us", "cmudict-en-us.dict"),
                   os.path.join(folder, "dictionary.dict"))
        return dict(self.server.env, XDG_DATA_HOME=home, XDG_DATA_DIRS=self.scratch)

    def test_each_layout_gives_its_answer(self):
        # name, acoustic model, and the final line: None for "done" with any words.
        layouts = [
            ("Debian's", debian(), line("done", SPOKEN)),
            ("mixture_weights instead of sendump", an4(), None),
            ("both sendump and mixture_weights",
             dict(debian(), mixture_weights=os.path.join(AN4, "mixture_weights")),
             line("done", SPOKEN)),
            ("no feat.params", an4("feat.params"), None),
            ("no noisedict", debian("noisedict"), line("done", SPOKEN)),
            ("a text mdef", dict(debian(), mdef=self.text_mdef), line("done", SPOKEN)),
            ("a required file missing", debian("transition_matrices"), "unavailable"),
            ("neither sendump nor mixture_weights", debian("sendump"), "unavailable"),
            ("an optional file present but a folder", dict(debian(), feature_transform=None),
             "unavailable"),
        ]
        for name, acoustic, final in layouts:
            with self.subTest(name):
                host = Host(PRODUCT, ["en-US"], env=self.install(acoustic))
                if final == "unavailable":
                    lines, status = host.finish()
                    self.assertProtocol(host, lines, status)
                    self.assertEqual(lines, [line("error", "", LINUX_UNAVAILABLE)])
                    continue
                lines, status = self.speak_then_stop(host, self.server, GO_FORWARD)
                self.assertEqual(lines[:2], [line("starting"), line("listening")])
                if final is None:
                    self.assertEqual(lines[-1]["status"], "done", lines)
                else:
                    self.assertEqual(lines[-1], final)

    def test_a_model_for_another_language_keeps_its_words(self):
        # The English written forms are for English models only: the same files installed for
        # German give the recognizer's words, capitalised as dictation does.
        host = Host(PRODUCT, ["de-DE"], env=self.install(debian(), tag="de-DE"))
        lines, status = self.speak_then_stop(host, self.server, GO_FORWARD)
        self.assertEqual(lines[-1], line("done", "Go forward ten meters"))


if __name__ == "__main__":
    unittest.main()
