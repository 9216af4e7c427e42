#!/usr/bin/env python3
"""The Linux helper under a flood while pages come and go: how fast it takes the game's
frames in, and how much memory it needs for that.

The benchmark plays the game itself (as endtoend_bench.py does): it writes FLOOD_FRAMES
frames of about 110 bytes as fast as the socket takes them. Before the flood, ABANDONED
pages poll once each and go; during it, FRESH_NAMES further pages do the same within
about a second, one page keeps polling its own queue, and a client asks for a handshake
every 50 ms.

Measures:
  ingest     frames per second, from the first write to the helper's posting of the last
  memory     VmRSS before the flood, the highest VmRSS sampled every 50 ms, and VmHWM
  keeper     what the page that keeps polling received: events in order, never one
             twice; the events it was told it lost ("EVENTSLOST") must fill every gap
  handshake  the slowest answer during the flood

Usage: flood_bench.py BUILD_DIR   (the tree with tovelwebhelper and tovel3.exe)
"""
import os
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from endtoend_bench import (ORIGIN, PORT, bench_world, fields, frame, poll, proc_status,  # noqa: E402
                            start_helper, stop_started, wait_until)

FLOOD_FRAMES = int(os.environ.get("FLOOD_FRAMES", "400000"))
ABANDONED = int(os.environ.get("ABANDONED", "10"))
FRESH_NAMES = int(os.environ.get("FRESH_NAMES", "1000"))
PAYLOAD = "x" * 100


def leave_after_request(queue):
    """A page that asks once and goes without waiting for the answer."""
    with socket.create_connection(("127.0.0.1", PORT), timeout=15) as sock:
        sock.sendall(f"GET /{queue} HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: {ORIGIN}\r\n\r\n".encode())


def handshake():
    t = time.monotonic()
    with socket.create_connection(("127.0.0.1", PORT), timeout=30) as sock:
        sock.sendall(f"GET /handshake HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: {ORIGIN}\r\n\r\n".encode())
        raw = b""
        while chunk := sock.recv(4096):
            raw += chunk
    if b"helper_version" not in raw:
        raise RuntimeError(f"handshake answered {raw[:200]!r}")
    return time.monotonic() - t


class Keeper(threading.Thread):
    """The page that keeps polling; checks order and the lost-events counts."""

    def __init__(self, queue):
        super().__init__(daemon=True)
        self.queue = queue
        self.stop = threading.Event()
        self.last = 0        # number of the last flood event received
        self.received = 0
        self.lost = 0        # as told by the helper
        self.markers = 0
        self.error = None

    def run(self):
        pending_loss = 0
        try:
            while not self.stop.is_set():
                body = poll(self.queue)
                if body == b"null":
                    continue
                f = fields(body)
                if f[1] == "EVENTSLOST":
                    # Two in a row when more were lost between the two polls.
                    pending_loss += int(f[2])
                    self.lost += int(f[2])
                    self.markers += 1
                elif f[1] == "Flood":
                    seq = int(f[2])
                    if seq != self.last + 1 + pending_loss:
                        raise RuntimeError(f"event {seq} after {self.last} with {pending_loss} told lost")
                    self.last, pending_loss = seq, 0
                    self.received += 1
        except Exception as e:  # reported by the main thread
            self.error = e


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/native")
    helper_exe = os.environ.get("HELPER", os.path.join(build, "tovelwebhelper"))
    game_exe = os.path.join(build, "tovel3.exe")
    work, env = bench_world("tovel-flood-bench-")
    started = []
    try:
        # The process named like the game: a demo game that never opens its pipe.
        script = os.path.join(work, "idle.txt")
        with open(script, "w") as f:
            f.write("sleep 3600000\n")
        started.append(subprocess.Popen([game_exe], env=dict(env, TOVEL3_DEMO_SCRIPT=script,
                                                              TOVEL3_DEMO_PIPE="not_the_helpers_pipe"),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        helper, game, helper_err = start_helper(helper_exe, build, env, work, started)

        def log_tail(size=4096):
            with open(helper_err, "rb") as f:
                f.seek(max(0, os.path.getsize(helper_err) - size))
                return f.read()

        seen = {"offset": 0}

        def posted_done():
            """Reads the helper's log on from where the last look stopped."""
            with open(helper_err, "rb") as f:
                f.seek(max(0, seen["offset"] - 64))
                chunk = f.read()
            seen["offset"] = max(0, seen["offset"] - 64) + len(chunk)
            return b"Posting event Done\n" in chunk

        for i in range(ABANDONED):
            leave_after_request(f"abandoned-{i}")
        poll("keeper")
        time.sleep(0.5)
        rss_before = proc_status(helper.pid, "VmRSS")

        keeper = Keeper("keeper")
        keeper.start()
        sampling = threading.Event()
        rss_samples, handshakes = [], []

        def sample():
            while not sampling.is_set() and helper.poll() is None:
                rss_samples.append(proc_status(helper.pid, "VmRSS"))
                time.sleep(0.05)

        def ask():
            while not sampling.is_set():
                handshakes.append(handshake())
                time.sleep(0.05)

        def fresh():
            t0 = time.monotonic()
            for i in range(FRESH_NAMES):
                leave_after_request(f"fresh-{i}")
                time.sleep(max(0.0, t0 + (i + 1) / FRESH_NAMES - time.monotonic()))

        helpers = [threading.Thread(target=f, daemon=True) for f in (sample, ask, fresh)]
        for t in helpers:
            t.start()
        t0 = time.monotonic()
        batch = []
        for seq in range(1, FLOOD_FRAMES + 1):
            batch.append(frame("Flood", f"{seq} {PAYLOAD}"))
            if len(batch) == 256:
                game.sendall(b"".join(batch))
                batch = []
        game.sendall(b"".join(batch) + frame("Done", ""))
        if not wait_until(lambda: posted_done() or helper.poll() is not None, 600, 0.01) \
                or helper.poll() is not None:
            sys.exit(f"the helper did not take the flood in (exit {helper.poll()}); it ended with:\n"
                     + log_tail(2000).decode("utf-8", "replace"))
        ingest_seconds = time.monotonic() - t0
        time.sleep(1.0)
        keeper.stop.set()
        keeper.join(30)
        sampling.set()
        for t in helpers:
            t.join(30)
        hwm = proc_status(helper.pid, "VmHWM")
        if keeper.error:
            sys.exit(f"the page that kept polling failed: {keeper.error}")
        game.close()
        if helper.wait(30) != 0:
            sys.exit(f"the helper did not end cleanly; see {helper_err}")
    finally:
        stop_started(started, work, locals().get("helper"))

    print()
    print(f"helper: {helper_exe}")
    print(f"flood of {FLOOD_FRAMES} frames of about 110 bytes, {ABANDONED} queues abandoned before it, "
          f"{FRESH_NAMES} fresh names abandoned during it:")
    print(f"  ingest {FLOOD_FRAMES / ingest_seconds:,.0f} frames/s ({ingest_seconds:.1f} s)")
    print(f"  memory: VmRSS before {rss_before:,} kB, highest sampled {max(rss_samples):,} kB, VmHWM {hwm:,} kB")
    print(f"  handshakes during the flood: {len(handshakes)}, slowest {max(handshakes) * 1000:.0f} ms")
    print(f"  page that kept polling: {keeper.received:,} events in order, {keeper.lost:,} told lost "
          f"in {keeper.markers} EVENTSLOST events, last {keeper.last:,}")


if __name__ == "__main__":
    main()
