#!/usr/bin/env python3
"""The helper of either build (Linux, or Windows under Wine) from the game's write to
the page's reply, with the demo game as the game: its frames carry their send time
("{now}", wall clock), so the figures hold for the Windows program too.

Each measure has a session of its own (helper in test mode, game started by hand):
  latency    write -> reply, one page polling, LATENCY_EVENTS frames at random moments
  four       the same with four pages, each polling its own queue on its own port,
             while a fifth client asks for HANDSHAKES handshakes one after another
  drain      events per second that one page takes from a flood of DRAIN_EVENTS
  idle       helper CPU over IDLE_SECONDS with a connected, silent game and one page
             polling; resident memory before and after the drain

Usage: demo_game_bench.py BUILD_DIR   (native: tovelwebhelper; win32: TovelWebHelper.exe)
"""
import fcntl
import os
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import endtoend_bench  # noqa: E402
from endtoend_bench import (ORIGIN, PORT, answers, cpu_seconds, drain_with_page_program,  # noqa: E402
                            percentile, poll, proc_status, wait_until)

# The compiled drain page is a Linux program: the native tree's, for either build.
DRAIN_PAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "native", "bench",
                          "endtoend", "drain_page")

LATENCY_EVENTS = int(os.environ.get("LATENCY_EVENTS", "200"))
DRAIN_EVENTS = int(os.environ.get("DRAIN_EVENTS", "10000"))
HANDSHAKES = int(os.environ.get("HANDSHAKES", "500"))
IDLE_SECONDS = float(os.environ.get("IDLE_SECONDS", "20"))
PORTS = [PORT + 1000 * i for i in range(4)]


def Pager(queue, name, count, port=PORT):
    """A page whose events carry the game's wall clock at sending ("{now}")."""
    return endtoend_bench.Pager(queue, name, count, port, clock=time.time_ns)


class Session:
    """One helper in test mode and one demo game playing a script, both stopped by id."""

    def __init__(self, build, work, wine_env):
        self.build, self.work, self.wine_env = build, work, wine_env
        self.procs = []
        self.count = 0

    def _start(self, exe, args, extra):
        self.count += 1
        env = {k: v for k, v in os.environ.items() if not k.startswith(("TOVELWEBHELPER_", "TOVEL3_DEMO_"))}
        env.update(self.wine_env or {})
        env["XDG_RUNTIME_DIR"] = self.work
        env.update(extra)
        argv = (["wine"] if self.wine_env else []) + [os.path.join(self.build, exe)] + args
        with open(os.path.join(self.work, f"stderr-{self.count}.txt"), "wb") as err:
            p = subprocess.Popen(argv, cwd=self.build, env=env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=err)
        self.procs.append(p)
        return p

    def helper(self):
        exe = "TovelWebHelper.exe" if self.wine_env else "tovelwebhelper"
        p = self._start(exe, ["--activate-webhelper"], {"TOVELWEBHELPER_TEST_MODE": "1"})
        if not wait_until(lambda: all(answers(port) for port in PORTS), 60):
            sys.exit("the helper's ports do not answer")
        return p

    def game(self, script):
        path = os.path.join(self.work, f"script-{self.count}.txt")
        with open(path, "w") as f:
            f.write(script)
        return self._start("tovel3.exe", [], {"TOVEL3_DEMO_SCRIPT": path,
                                              "TOVEL3_DEMO_RECORD": os.path.join(self.work, "record.jsonl")})

    def close(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.send_signal(signal.SIGKILL)
                p.wait(10)
        self.procs = []


def first_polls(queues):
    """Creates the queues, in parallel (each first poll waits about a second)."""
    threads = [threading.Thread(target=poll, args=q) for q in queues]
    for t in threads:
        t.start()
    for t in threads:
        t.join(30)


def timed_frames(name, count, rng):
    lines = []
    for seq in range(1, count + 1):
        lines.append(f"sleep {rng.randint(50, 250)}")
        lines.append(f"frame {name} {seq} {{now}}")
    return "\n".join(lines) + "\n"


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/native")
    wine = os.path.exists(os.path.join(build, "TovelWebHelper.exe"))
    wine_env = None
    if wine:
        prefix = os.path.join(build, "wineprefix")
        wine_env = {"WINEPREFIX": prefix, "WINEARCH": "win32", "WINEDEBUG": "-all",
                    "WINEDLLOVERRIDES": "mscoree,mshtml="}
        subprocess.run(["bash", os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "wine-session.sh"),
                        "start", prefix], check=True)

    lock = open(os.path.join(tempfile.gettempdir(), "tovelwebhelper-blackbox.lock"), "w")
    print("waiting for the black-box lock ...", flush=True)
    fcntl.flock(lock, fcntl.LOCK_EX)
    if answers(PORT):
        sys.exit(f"port {PORT} is in use; another helper runs")

    work = tempfile.mkdtemp(prefix="tovel-demo-bench-")
    rng = random.Random(7)
    results = {}
    s = Session(build, work, wine_env)
    try:
        # One page polling.
        helper = s.helper()
        first_polls([("latency",)])
        page = Pager("latency", "Lat", LATENCY_EVENTS)
        page.start()
        s.game("wait-client\n" + timed_frames("Lat", LATENCY_EVENTS, rng) + "sleep 600000\n")
        page.finish(120)
        results["latency"] = page.latencies()
        s.close()

        # Four pages, and handshakes while they wait.
        helper = s.helper()
        first_polls([(f"four-{i}", port) for i, port in enumerate(PORTS)])
        four = [Pager(f"four-{i}", "Four", LATENCY_EVENTS, port) for i, port in enumerate(PORTS)]
        for p in four:
            p.start()
        s.game("wait-client\nsleep 2000\n" + timed_frames("Four", LATENCY_EVENTS, rng) + "sleep 600000\n")
        handshakes = []
        for _ in range(HANDSHAKES):
            t = time.monotonic_ns()
            with socket.create_connection(("127.0.0.1", PORT), timeout=15) as sock:
                sock.sendall(f"GET /handshake HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: {ORIGIN}\r\n\r\n".encode())
                while sock.recv(65536):
                    pass
            handshakes.append((time.monotonic_ns() - t) / 1e6)
        for p in four:
            p.finish(120)
        results["four"] = [x for p in four for x in p.latencies()]
        results["handshake"] = handshakes
        s.close()

        # Idle, then the drain, in one session: memory before and after.
        helper = s.helper()
        first_polls([("idle",), ("drain",)])
        idle = Pager("idle", "Never", 1)
        idle.start()
        s.game(f"wait-client\nsleep {int(IDLE_SECONDS * 1000) + 4000}\nframe Never 1 {{now}}\n"
               f"sleep 1000\nflood {DRAIN_EVENTS} Drain {{now}}\nsleep 600000\n")
        time.sleep(2)
        rss_before = proc_status(helper.pid, "VmRSS")
        cpu0, t0 = cpu_seconds(helper.pid), time.monotonic()
        time.sleep(IDLE_SECONDS)
        results["idle_cpu"] = (cpu_seconds(helper.pid) - cpu0) / (time.monotonic() - t0)
        idle.finish(30)
        results["drain"] = drain_with_page_program(DRAIN_PAGE, "drain", "Drain", DRAIN_EVENTS)()
        results["rss"] = (rss_before, proc_status(helper.pid, "VmRSS"), proc_status(helper.pid, "VmHWM"))
    finally:
        s.close()
        shutil.rmtree(work, ignore_errors=True)
        if wine:
            subprocess.run(["bash", os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "wine-session.sh"),
                            "stop", wine_env["WINEPREFIX"]])

    lat, four, hs = results["latency"], results["four"], results["handshake"]
    print()
    print(f"helper: {'Windows build under Wine' if wine else 'Linux build'} ({build})")
    print(f"write -> reply, one page, {len(lat)} events: median {statistics.median(lat):.2f} ms, "
          f"p99 {percentile(lat, 99):.2f} ms, max {max(lat):.1f} ms")
    print(f"write -> reply, four pages, {len(four)} replies: median {statistics.median(four):.2f} ms, "
          f"p99 {percentile(four, 99):.2f} ms, max {max(four):.1f} ms")
    print(f"handshake while four pages wait, {len(hs)} requests: median {statistics.median(hs):.2f} ms, "
          f"p99 {percentile(hs, 99):.2f} ms")
    print(f"one page draining a flood of {DRAIN_EVENTS} events: {results['drain']:.0f} events/s")
    print(f"idle CPU, connected game and one page polling: {results['idle_cpu'] * 100:.3f} % of one core")
    before, after, hwm = results["rss"]
    print(f"memory: VmRSS {before} kB before the flood, {after} kB after {DRAIN_EVENTS} events; VmHWM {hwm} kB")


if __name__ == "__main__":
    main()
