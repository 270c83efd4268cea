"""The recognizer's channel estimate, kept from one dictation to the next: the product run as a
host runs it, one dictation per process, against a private audio server."""

import glob
import os
import shutil
import stat
import tempfile
import unittest

from audio_server import GO_FORWARD, AudioServer
from host import Host, ProtocolTestCase, line

PRODUCT = "quillmate-dictate"
WORDS = "Go forward 10 meters"


def kept_files(state_home):
    return glob.glob(os.path.join(state_home, "quillmate-dictate", "*.cmn"))


def read_estimate(path):
    with open(path) as kept:
        header, model, values = kept.read().split("\n")[:3]
    return header, model, [float(value) for value in values.split(" ")]


def write_estimate(path, header, model, values):
    with open(path, "w") as kept:
        kept.write(f"{header}\n{model}\n{' '.join(repr(value) for value in values)}\n")


class KeptEstimate(ProtocolTestCase):
    def setUp(self):
        self.server = AudioServer()
        self.folders = []

    def tearDown(self):
        self.server.stop()
        for folder in self.folders:
            shutil.rmtree(folder, ignore_errors=True)

    def folder(self):
        made = tempfile.mkdtemp(prefix="quillmate-kept-")
        self.folders.append(made)
        return made

    def dictate(self, **env):
        host = Host(PRODUCT, ["en-US"], env=dict(self.server.env, **env))
        lines, status = self.speak_then_stop(host, self.server, GO_FORWARD)
        return lines, status

    def test_a_second_dictation_starts_from_the_first_ones_estimate(self):
        state = self.folder()
        lines, _ = self.dictate(XDG_STATE_HOME=state)
        self.assertEqual(lines[-1], line("done", WORDS))
        [path] = kept_files(state)
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
        self.assertEqual(stat.S_IMODE(os.stat(os.path.dirname(path)).st_mode), 0o700)
        header, model, first = read_estimate(path)
        self.assertEqual(len(first), 13)

        # The same speech again, from what the first dictation kept but with its energy term
        # moved up by 10: the second ends pulled toward the kept estimate, which it could only
        # be if it started from it (a cold start ends where the first did).
        moved = [first[0] + 10] + first[1:]
        write_estimate(path, header, model, moved)
        lines, _ = self.dictate(XDG_STATE_HOME=state)
        self.assertEqual(lines[-1]["status"], "done")
        _, _, second = read_estimate(path)
        self.assertGreater(second[0] - first[0], 3, (first, second))
        self.assertLess(second[0], moved[0])

        cold = self.folder()
        self.dictate(XDG_STATE_HOME=cold)
        _, _, again = read_estimate(kept_files(cold)[0])
        self.assertLess(abs(again[0] - first[0]), 1, (first, again))

    def test_damaged_state_costs_no_dictation(self):
        # The kept file's name, from a dictation of its own.
        learned = self.folder()
        self.dictate(XDG_STATE_HOME=learned)
        [learned_path] = kept_files(learned)
        name = os.path.basename(learned_path)
        header, model, values = read_estimate(learned_path)

        def put(text):
            def damage(state):
                os.makedirs(os.path.join(state, "quillmate-dictate"), mode=0o700)
                with open(os.path.join(state, "quillmate-dictate", name), "w") as kept:
                    kept.write(text)
            return damage

        def folder_in_its_place(state):
            os.makedirs(os.path.join(state, "quillmate-dictate", name))

        def state_folder_is_a_file(state):
            with open(os.path.join(state, "quillmate-dictate"), "w") as file:
                file.write("not a folder")

        whole = f"{header}\n{model}\n{' '.join(map(repr, values))}\n"
        # name, how the state is damaged, the environment beyond the state folder, and whether
        # the dictation leaves a valid estimate behind.
        rows = [
            ("garbage", put("\x00\x01garbage\xff"), {}, True),
            ("cut short", put(whole[:len(whole) // 2]), {}, True),
            ("too few values", put(f"{header}\n{model}\n{' '.join(map(repr, values[:5]))}\n"),
             {}, True),
            ("NaN", put(whole.replace(repr(values[0]), "nan", 1)), {}, True),
            ("another model's file", put(whole.replace(model, "model 0000000000000000")), {},
             True),
            ("a folder in its place", folder_in_its_place, {}, False),
            ("the state folder is a file", state_folder_is_a_file, {}, False),
            ("a state folder that cannot be made", None, {"XDG_STATE_HOME": "/proc/quillmate"},
             False),
        ]
        for name_of_row, damage, env, valid_after in rows:
            with self.subTest(name_of_row):
                state = self.folder()
                if damage:
                    damage(state)
                lines, status = self.dictate(**dict({"XDG_STATE_HOME": state}, **env))
                self.assertEqual(lines[-1], line("done", WORDS))
                self.assertEqual(status, 0)
                self.assertEqual(sum(l["status"] in ("done", "error") for l in lines), 1)
                path = os.path.join(state, "quillmate-dictate", name)
                if valid_after:
                    self.assertEqual(read_estimate(path)[1], model)

    def test_a_relative_state_home_is_ignored(self):
        home = self.folder()
        cwd = os.getcwd()
        self.dictate(XDG_STATE_HOME="relative-state", HOME=home)
        self.assertEqual(len(kept_files(os.path.join(home, ".local", "state"))), 1)
        self.assertFalse(os.path.exists(os.path.join(cwd, "relative-state")))


if __name__ == "__main__":
    unittest.main()
