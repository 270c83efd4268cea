"""A private audio server for the end-to-end tests (scripts/audio-server), and real speech to
play into it."""

import os
import shutil
import signal
import subprocess
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "scripts", "audio-server")
TESTDATA = "/usr/share/pocketsphinx/test/data"
GO_FORWARD = os.path.join(TESTDATA, "goforward.raw")  # "go forward ten meters"


class AudioServer:
    def __init__(self, pipe=False):
        """With pipe, the default source is a pipe source fed through `microphone()`."""
        self.dir = tempfile.mkdtemp(prefix="quillmate-audio-")
        subprocess.run([SCRIPT, "start", self.dir] + (["pipe"] if pipe else []), check=True)
        with open(os.path.join(self.dir, "server.pid")) as pid:
            self.pid = int(pid.read())
        self.env = {"PULSE_SERVER": f"unix:{self.dir}/native"}

    def play(self, path, wait=True):
        """Plays a recording into the server's sink at real-time pace."""
        if path.endswith(".raw"):
            command = ["pacat", "--playback", "--raw", "--rate=16000", "--channels=1",
                       "--format=s16le", "--device=speech", path]
        else:
            command = ["paplay", "--device=speech", path]
        player = subprocess.Popen(command, env=dict(os.environ, **self.env),
                                  stderr=subprocess.DEVNULL)
        if wait:
            player.wait(timeout=120)
        return player

    def signal(self, number):
        os.kill(self.pid, number)

    def stop(self):
        try:
            os.kill(self.pid, signal.SIGCONT)
        except ProcessLookupError:
            pass
        subprocess.run([SCRIPT, "stop", self.dir], check=True)
        shutil.rmtree(self.dir, ignore_errors=True)
