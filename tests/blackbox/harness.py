"""Runs the real helper and demo game of one build (Linux, or Windows under Wine).

Every process a test starts is stopped by the test, by its id. ctest runs each
module in namespaces of its own (scripts/isolated.sh), so the fixed ports, the
game's process name and, under Wine, the prefix's server are the module's alone.
"""
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

KIND = os.environ.get("TOVEL_BUILD_KIND", "native")  # "native", "win32", "win64", or a sanitizer tree: "asan", "tsan"
HELPER = os.environ.get("TOVEL_HELPER", "")
HELPER_UNTARGETED = os.environ.get("TOVEL_HELPER_UNTARGETED", "")
GAME = os.environ.get("TOVEL_GAME", "")
BUILD_DIR = os.path.dirname(HELPER) if HELPER else os.getcwd()
# The Wine loader of a Windows tree ("wine", or the 64-bit loader for win64).
WINE = os.environ.get("TOVEL_WINE", "wine" if KIND.startswith("win") else "")
ON_WINE = bool(WINE)
PORTS = (4219, 5219, 6219, 7219)
PIPE_NAME = "marble_gantry"
GAME_EXE = os.path.basename(GAME) if GAME else "tovel3.exe"

# In a sanitizer tree every process a test starts writes its reports to files of the
# session (not into the standard error the tests read), and the session fails when
# one is there. The reports name the process by its id.
_SANITIZER_OPTIONS = {
    "asan": {"ASAN_OPTIONS": "detect_leaks=1", "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1"},
    "tsan": {"TSAN_OPTIONS": "halt_on_error=0:second_deadlock_stack=1"},
}.get(KIND, {})

# Switches that must not leak in from the caller's environment.
_SWITCHES = ("ALWAYS_ACTIVATE", "SHOW_MESSAGE", "DEBUG", "TEST_MODE", "WAIT_ON_EXIT", "IGNORE_ORIGIN_HEADER")


def pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def wait_until(predicate, timeout, interval=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


class Running:
    """A started process whose standard error goes to a file."""

    def __init__(self, popen, stderr_path):
        self.popen = popen
        self.pid = popen.pid
        self.stderr_path = stderr_path

    def stderr(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stderr_bytes(self):
        with open(self.stderr_path, "rb") as f:
            return f.read()

    def wait_for(self, text, timeout=10):
        """Waits until text appears on standard error; returns whether it did."""
        return bool(wait_until(lambda: text in self.stderr(), timeout))

    def wait(self, timeout):
        """Waits for the exit; returns the exit code or None on time-out."""
        try:
            return self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def running(self):
        return self.popen.poll() is None

    def send_signal(self, sig):
        os.kill(self.pid, sig)

    def kill(self):
        if self.popen.poll() is None:
            try:
                os.kill(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.popen.wait(10)


class Session:
    """One test's world: a scratch folder, its processes, and the games they start."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="tovel-bb-")
        self.record = os.path.join(self.dir, "game-record.jsonl")
        self.sanitizer_log = os.path.join(self.dir, "sanitizer")
        self.started = []
        self._count = 0

    def env(self, switches=None, extra=None):
        env = {k: v for k, v in os.environ.items() if not k.startswith("TOVELWEBHELPER_") and not k.startswith("TOVEL3_DEMO_")}
        # The Linux build keeps its game socket and instance lock beside the test.
        env["XDG_RUNTIME_DIR"] = self.dir
        env["TOVEL3_DEMO_RECORD"] = self.record
        for name, options in _SANITIZER_OPTIONS.items():
            env[name] = options + ":log_path=" + self.sanitizer_log
        for name, value in (switches or {}).items():
            env["TOVELWEBHELPER_" + name] = value
        env.update(extra or {})
        return env

    def _start(self, argv, env, cwd, stdin):
        self._count += 1
        err = os.path.join(self.dir, f"stderr-{self._count}.txt")
        with open(err, "wb") as f:
            p = subprocess.Popen(argv, stdin=stdin, stdout=subprocess.DEVNULL, stderr=f, env=env, cwd=cwd)
        r = Running(p, err)
        self.started.append(r)
        return r

    def start_helper(self, args=(), switches=None, extra_env=None, cwd=None, helper=None, stdin=subprocess.DEVNULL):
        exe = helper or HELPER
        argv = ([WINE, exe] if ON_WINE else [exe]) + list(args)
        return self._start(argv, self.env(switches, extra_env), cwd or BUILD_DIR, stdin)

    def run_helper(self, args=(), switches=None, extra_env=None, timeout=60, **kw):
        """Runs the helper to its end; returns (exit code, standard error text)."""
        r = self.start_helper(args, switches, extra_env, **kw)
        rc = r.wait(timeout)
        if rc is None:
            r.kill()
            raise AssertionError(f"helper did not end within {timeout} s; stderr:\n{r.stderr()}")
        return rc, r.stderr()

    def start_game(self, args=(), extra_env=None):
        """Starts the demo game directly (not through the helper)."""
        argv = ([WINE, GAME] if ON_WINE else [GAME]) + list(args)
        return self._start(argv, self.env(None, extra_env), BUILD_DIR, subprocess.DEVNULL)

    def game_records(self):
        """What the demo games of this session wrote, one dict per line."""
        try:
            with open(self.record, encoding="utf-8") as f:
                return [json.loads(line) for line in f if line.strip()]
        except FileNotFoundError:
            return []

    def game_starts(self):
        return [r for r in self.game_records() if r.get("event") == "start"]

    def wait_for_game_start(self, count=1, timeout=15):
        return wait_until(lambda: len(self.game_starts()) >= count and self.game_starts(), timeout)

    def game_pids(self):
        """Linux ids of the live games of this session, started through the helper or
        directly: found by the record file in their environment (under Wine the
        game's own id is a Windows one)."""
        marker = ("TOVEL3_DEMO_RECORD=" + self.record).encode()
        pids = []
        for name in os.listdir("/proc"):
            if not name.isdigit():
                continue
            try:
                with open(f"/proc/{name}/environ", "rb") as f:
                    if marker not in f.read().split(b"\0"):
                        continue
                with open(f"/proc/{name}/cmdline", "rb") as f:
                    if GAME_EXE.encode() not in f.read():
                        continue
            except OSError:
                continue
            if pid_alive(int(name)):
                pids.append(int(name))
        return pids

    def kill_games(self):
        pids = self.game_pids()
        for pid in pids:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        wait_until(lambda: not any(pid_alive(p) for p in pids), 10)

    def sanitizer_reports(self):
        """The reports the sanitizers wrote for this session's processes, one text each."""
        reports = []
        for name in sorted(os.listdir(self.dir)):
            if name.startswith("sanitizer."):
                with open(os.path.join(self.dir, name), "rb") as f:
                    text = f.read().decode("utf-8", "replace")
                if text.strip():
                    reports.append(f"{name}:\n{text}")
        return reports

    def close(self):
        for r in self.started:
            r.kill()
        self.kill_games()
        reports = self.sanitizer_reports()
        shutil.rmtree(self.dir, ignore_errors=True)
        if reports:
            raise AssertionError("sanitizer reports:\n" + "\n".join(reports))


class BlackBoxTest(unittest.TestCase):
    """Gives each test a Session that is closed, with every process it started, at the end."""

    def setUp(self):
        self.s = Session()
        self.addCleanup(self.s.close)

    def assertLinesInOrder(self, text, lines):
        pos = 0
        for line in lines:
            i = text.find(line, pos)
            self.assertNotEqual(i, -1, f"missing (in order) {line!r} in:\n{text}")
            pos = i + len(line)
