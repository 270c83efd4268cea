"""Faults a desktop can throw at the helper, on the product executable (and the scripted one
for a flood of results): the host's promises must hold through each."""

import json
import os
import random
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from audio_server import GO_FORWARD, SCRIPT, AudioServer
from host import BIN, LINUX_UNAVAILABLE as UNAVAILABLE, Host, ProtocolTestCase, line

PRODUCT = "quillmate-dictate"
MODEL_ROOT = os.environ.get("QUILLMATE_MODEL_ROOT", "/usr/share/pocketsphinx/model")
MODEL_FAILED = "On-device dictation: The speech model could not be loaded."
# The decoder's library leaks what it had loaded when a model fails to load, and LeakSanitizer
# cannot run under strace; neither is about the helper's own memory, which the other tests cover.
NO_LEAK_CHECK = {"ASAN_OPTIONS": "detect_leaks=0"}
# CI runs as root with every tool at hand, so there a fault test that cannot run is a failure.
REQUIRED = os.environ.get("QUILLMATE_REQUIRE_FAULT_TESTS") == "1"


def model_files():
    """Every file of the installed model, found on disk, but the phone model beside it, which
    the decoder never reads."""
    root = os.path.join(MODEL_ROOT, "en-us")
    return sorted(os.path.relpath(os.path.join(folder, name), root)
                  for folder, _, names in os.walk(root) for name in names
                  if name not in ("README", "en-us-phone.lm.bin"))


def needs(available, why):
    """A fault test class that cannot run here is skipped, saying so and why; where the run
    requires fault tests, it fails instead."""
    def decorate(cls):
        if available:
            return cls
        if REQUIRED:
            return type(cls.__name__, (unittest.TestCase,), {
                "test_can_run_here": lambda self: self.fail(f"required, but {why}")})
        return unittest.skip(f"SKIPPED: {why}")(cls)
    return decorate


class HostFaults(ProtocolTestCase):
    def setUp(self):
        self.server = AudioServer()

    def tearDown(self):
        self.server.stop()

    def test_host_closes_standard_output_then_standard_input(self):
        process = subprocess.Popen([os.path.join(BIN, PRODUCT), "en-US"], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   env=dict(os.environ, **self.server.env))
        self.assertEqual(json.loads(process.stdout.readline())["status"], "starting")
        process.stdout.close()
        self.server.play(GO_FORWARD)  # results keep coming; every line meets a closed pipe
        process.stdin.close()
        self.assertEqual(process.wait(timeout=10), 0)
        self.assertEqual(process.stderr.read(), b"")
        process.stderr.close()

    def test_standard_input_that_fails_instead_of_ending(self):
        # Reading a directory fails with EISDIR: the host can no longer reach the helper.
        directory = os.open(tempfile.gettempdir(), os.O_RDONLY)
        try:
            _, lines, status = self.run_host(PRODUCT, ["en-US"], stdin=directory,
                                             env=self.server.env)
        finally:
            os.close(directory)
        self.assertEqual((lines[0], lines[-1], status), (line("starting"), line("done"), 0))

    def test_the_server_restarted_mid_session(self):
        host = Host(PRODUCT, ["en-US"], env=self.server.env)
        host.wait_for_line(lambda l: l["status"] == "listening")
        self.server.play(GO_FORWARD)
        host.wait_for_line(lambda l: l["transcript"].startswith("Go"), 20)
        subprocess.run([SCRIPT, "stop", self.server.dir], check=True)
        time.sleep(0.2)
        subprocess.run([SCRIPT, "start", self.server.dir], check=True)
        with open(os.path.join(self.server.dir, "server.pid")) as pid:
            self.server.pid = int(pid.read())
        self.server.play(GO_FORWARD)
        host.close_stdin()
        lines, status = host.finish()
        self.assertProtocol(host, lines, status)
        self.assertEqual(lines[-1]["status"], "done")
        self.assertTrue(lines[-1]["transcript"].startswith("Go"), lines[-1])


@needs(shutil.which("unshare") and os.geteuid() == 0,
       "needs root and unshare to put a broken model in place")
class BrokenModel(ProtocolTestCase):
    """The model folder swapped, for the helper alone, through a private mount namespace."""

    def setUp(self):
        self.server = AudioServer()
        self.model = tempfile.mkdtemp(prefix="quillmate-model-")

    def tearDown(self):
        self.server.stop()
        shutil.rmtree(self.model, ignore_errors=True)

    def dictate(self, arrange, user=None, speak=False):
        shutil.rmtree(self.model)
        shutil.copytree(os.path.join(MODEL_ROOT, "en-us"), self.model)
        os.chmod(self.model, 0o755)
        arrange(self.model)
        helper = [os.path.join(BIN, PRODUCT), "en-US"]
        if user:  # root reads any file; an ordinary user meets the file's permissions
            # A copy the user can run, wherever the build folder is.
            shutil.copy(helper[0], os.path.join(self.model, PRODUCT))
            helper[0] = os.path.join(self.model, PRODUCT)
            helper = ["setpriv", f"--reuid={user}", "--regid=nogroup", "--clear-groups"] + helper
        wrapped = ["unshare", "-m", "sh", "-c",
                   f'mount --bind "$0" "{MODEL_ROOT}/en-us" && exec "$@"', self.model] + helper
        process = subprocess.Popen(wrapped, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE,
                                   env=dict(os.environ, **self.server.env, **NO_LEAK_CHECK))
        if speak:  # so that the decoder gets to work on the model
            self.server.play(GO_FORWARD, wait=False)
        try:
            process.wait(timeout=6 if speak else 4)  # a broken model may end it by itself
        except subprocess.TimeoutExpired:
            pass
        out, err = process.communicate(timeout=10)  # closes standard input: the host stops
        self.assertEqual(err, b"")
        lines = [json.loads(raw) for raw in out.splitlines()]
        statuses = [l["status"] for l in lines]
        self.assertEqual(sum(s in ("done", "error") for s in statuses), 1, lines)
        self.assertIn(statuses[-1], ("done", "error"), lines)
        self.assertEqual(process.returncode, 0 if lines[-1]["status"] == "done" else 1)
        return lines

    def test_model_folder_empty(self):
        def empty(folder):
            for name in os.listdir(folder):
                path = os.path.join(folder, name)
                shutil.rmtree(path) if os.path.isdir(path) else os.unlink(path)
        self.assertEqual(self.dictate(empty), [line("error", "", UNAVAILABLE)])

    def test_model_file_missing(self):
        self.assertEqual(self.dictate(lambda f: os.unlink(f"{f}/en-us/means")),
                         [line("error", "", UNAVAILABLE)])

    def test_every_model_file_unreadable(self):
        # Every file of the installed model, found on disk, so that one the helper's check
        # forgets is caught; the phone model beside it is never read.
        files = model_files()
        self.assertGreaterEqual(len(files), 9)
        for name in files:
            with self.subTest(name):
                self.assertEqual(
                    self.dictate(lambda f: os.chmod(f"{f}/{name}", 0), user="nobody"),
                    [line("error", "", UNAVAILABLE)])

    def test_model_file_replaced_by_a_folder(self):
        def folder_instead(folder):
            os.unlink(f"{folder}/en-us/mdef")
            os.mkdir(f"{folder}/en-us/mdef")
        self.assertEqual(self.dictate(folder_instead), [line("error", "", UNAVAILABLE)])

    @unittest.skipIf(os.environ.get("QUILLMATE_SANITIZE"),
                     "a sanitizer build keeps standard error, and the sanitizer itself ends a "
                     "process whose library reads past what it loaded")
    def test_every_file_and_damage_ends_in_one_final_line(self):
        # The decoder's library exits, crashes or aborts on many of these, from its own
        # threads; the host still gets exactly one final line and nothing on standard error.
        files = model_files()
        self.assertGreaterEqual(len(files), 9)

        def damage(name, how):
            def arrange(folder):
                path = f"{folder}/{name}"
                size = os.path.getsize(path) if os.path.exists(path) else 4096
                with open(path, "r+b" if os.path.exists(path) else "wb") as file:
                    if how == "cut in half":
                        file.truncate(size // 2)
                    elif how == "empty":
                        file.truncate(0)
                    else:  # the same length of bytes that mean nothing, the same every run
                        file.seek(0)
                        file.write(random.Random(name).randbytes(size))
            return arrange

        cases = [(name, how) for name in files for how in ("cut in half", "empty", "garbage")]
        # Read only when present: a damaged one is the library's to refuse.
        cases.append(("en-us/feature_transform", "garbage"))
        outcomes = {}
        for name, how in cases:
            with self.subTest(name=name, damage=how):
                lines = self.dictate(damage(name, how), speak=True)
                outcomes[f"{name} {how}"] = (lines[-1]["status"], lines[-1]["error"][:40])
        if os.environ.get("QUILLMATE_SHOW_OUTCOMES"):
            print(json.dumps(outcomes, indent=1))

    def test_model_files_truncated(self):
        # A cut dictionary still loads: it knows a handful of words and hears none of them.
        # A language model cut short is found before loading; see sphinx_recognizer_test for
        # every file cut in half.
        failed = [line("starting"), line("listening"), line("error", "", MODEL_FAILED)]
        for name, lines in [("en-us/mdef", failed), ("en-us/means", failed),
                            ("en-us.lm.bin", [line("error", "", UNAVAILABLE)]),
                            ("cmudict-en-us.dict",
                             [line("starting"), line("listening"), line("listening"),
                              line("done")])]:
            with self.subTest(name):
                def truncate(folder):
                    with open(f"{folder}/{name}", "r+b") as file:
                        file.truncate(100)
                self.assertEqual(self.dictate(truncate), lines)


class Flood(ProtocolTestCase):
    def test_results_faster_than_the_host_reads_are_neither_lost_nor_reordered(self):
        count = 20000
        results = [{"afterMs": 0, "transcript": f"word {n} " + "x" * 40} for n in range(count)]
        results.append({"afterMs": 1, "transcript": "the end", "isFinal": True})
        host = Host("quillmate-dictate-scripted", ["en-US"], scenario={"results": results})
        lines, status = host.finish(timeout=60)
        self.assertProtocol(host, lines, status)
        transcripts = [l["transcript"] for l in lines if l["status"] == "listening"]
        self.assertEqual(transcripts, [""] + [r["transcript"] for r in results])
        self.assertEqual(lines[-1], line("done", "the end"))


@needs(shutil.which("strace"), "needs strace to watch the file system")
class HostileLocales(ProtocolTestCase):
    def file_calls(self, locale, roots):
        """The file calls of a helper run for `locale` with the model search's roots in the
        given folders, but the one that started it with the argument; and its lines."""
        trace = tempfile.NamedTemporaryFile(suffix=".strace", delete=False).name
        process = subprocess.run(
            ["strace", "-f", "-qq", "-e", "trace=file", "-o", trace,
             os.path.join(BIN, PRODUCT), locale],
            stdin=subprocess.DEVNULL, capture_output=True, timeout=30,
            env=dict(os.environ, **NO_LEAK_CHECK, XDG_DATA_HOME=roots[0],
                     XDG_DATA_DIRS=roots[1]))
        with open(trace, errors="replace") as log:
            calls = [l for l in log if "execve(" not in l]
        os.unlink(trace)
        self.assertEqual(process.returncode, 1)
        self.assertEqual(process.stderr, b"")
        self.assertEqual([json.loads(l) for l in process.stdout.splitlines()],
                         [line("error", "", UNAVAILABLE)])
        return "".join(calls)

    def test_no_locale_argument_reaches_the_file_system(self):
        roots = [tempfile.mkdtemp(prefix="quillmate-xdg-") for _ in range(2)]
        for locale in ["../../../../../etc/passwd", "en-US/../../../etc", "en/../en-us",
                       "x" * 10000, "en-\udcff\udcfe".encode("utf-8", "surrogateescape"), ""]:
            with self.subTest(locale=locale[:30]):
                paths = self.file_calls(locale, roots)
                self.assertNotIn(MODEL_ROOT, paths)
                self.assertNotIn("quillmate-dictate/models", paths)
                self.assertNotIn("passwd", paths)
                self.assertNotIn("/etc\"", paths)
        for root in roots:
            os.rmdir(root)

    def test_a_locale_without_a_model_looks_only_inside_the_model_roots(self):
        roots = [tempfile.mkdtemp(prefix="quillmate-xdg-") for _ in range(2)]
        paths = self.file_calls("fr_FR.UTF-8", roots)
        looked = sorted(set(re.findall(r'"([^"]*quillmate-dictate/models[^"]*)"', paths)))
        self.assertEqual(looked, sorted(f"{root}/quillmate-dictate/models/{tag}"
                                        for root in roots for tag in ("fr-FR", "fr")))
        self.assertNotIn(MODEL_ROOT, paths)
        for root in roots:
            os.rmdir(root)


if __name__ == "__main__":
    unittest.main()
