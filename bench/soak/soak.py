#!/usr/bin/env python3
"""A long run of the Linux helper under a steady, mixed load.

The helper runs in active mode and launches the demo game, whose script floods events
in rounds that loop: round R of ROUNDS carries the payloads "1 R" .. "FLOOD R". Beside
it, for the whole run:
  - four pages, each polling its own queue (GET /soakN with an allowed Origin) and
    checking that every event is the one after the last it got (none lost, none twice,
    none out of order);
  - a client that opens connections and drops them half-way through the request head;
  - a client that holds idle connections open, opening a new one when the helper
    closes one.
Each minute it prints the helper's resident memory and open descriptors. It fails when
either has grown after the first minute, when an event is missing, repeated or out of
order, when a page gets an unexpected reply, or when the helper dies.

Usage: soak.py [--minutes N] [--interval SECONDS] BUILD_DIR
"""
import argparse
import json
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

PORT = 4219
ORIGIN = "http://localhost"
FLOOD = 5          # events per round
ROUNDS = 400       # rounds before the script loops
ROUND_PAUSE_MS = 250
PAGES = 4
IDLE_HELD = 16
DROPS_PER_SECOND = 10
RSS_TOLERANCE_KB = 4096       # plus 5 % of the baseline
FD_TOLERANCE = 16


def script_text():
    lines = ["# soak: rounds of numbered events, looping"]
    for r in range(1, ROUNDS + 1):
        lines += [f"flood {FLOOD} Soak {r}", f"sleep {ROUND_PAUSE_MS}"]
    lines.append("loop")
    return "\n".join(lines) + "\n"


def next_event(k, r):
    if k < FLOOD:
        return k + 1, r
    return 1, (r % ROUNDS) + 1


def http_get(path, timeout=15):
    with socket.create_connection(("127.0.0.1", PORT), timeout=timeout) as sock:
        sock.sendall(f"GET {path} HTTP/1.0\r\nOrigin: {ORIGIN}\r\n\r\n".encode())
        data = b""
        while True:
            try:
                chunk = sock.recv(65536)
            except ConnectionResetError:
                break
            if not chunk:
                break
            data += chunk
    return data


class Page(threading.Thread):
    def __init__(self, queue, stop):
        super().__init__(daemon=True)
        self.queue, self.stop = queue, stop
        self.events = self.polls = 0
        self.last = None
        self.faults = []

    def run(self):
        while not self.stop.is_set():
            try:
                reply = http_get("/" + self.queue)
            except OSError as e:
                self.faults.append(f"{self.queue}: poll failed: {e}")
                time.sleep(0.5)
                continue
            self.polls += 1
            head, _, body = reply.partition(b"\r\n\r\n")
            if not head.startswith(b"HTTP/1.0 200 "):
                self.faults.append(f"{self.queue}: reply {reply[:120]!r}")
                continue
            if not body:
                continue
            fields = body.decode("utf-8", "replace").split("\t")
            if len(fields) != 11 or fields[1] != "Soak":
                self.faults.append(f"{self.queue}: event {body[:120]!r}")
                continue
            got = (int(fields[2]), int(fields[3]))
            if self.last is not None and got != next_event(*self.last):
                self.faults.append(f"{self.queue}: after {self.last} came {got}, expected {next_event(*self.last)}")
            self.last = got
            self.events += 1


class Dropper(threading.Thread):
    """Connections that send part of a head and go."""

    def __init__(self, stop):
        super().__init__(daemon=True)
        self.stop, self.count = stop, 0

    def run(self):
        cuts = [b"GET /soak", b"GET /soak0 HTTP/1.0\r\nOri", b"POST /killgame HTTP/1.0\r\n", b"G"]
        while not self.stop.wait(1 / DROPS_PER_SECOND):
            try:
                with socket.create_connection(("127.0.0.1", PORT), timeout=5) as sock:
                    sock.sendall(cuts[self.count % len(cuts)])
                self.count += 1
            except OSError:
                pass


class IdleHolder(threading.Thread):
    """Connections that say nothing; one closed by the helper is replaced."""

    def __init__(self, stop):
        super().__init__(daemon=True)
        self.stop, self.opened = stop, 0
        self.socks = []

    def run(self):
        while not self.stop.wait(0.5):
            alive = []
            for s in self.socks:
                try:
                    s.setblocking(False)
                    if s.recv(1) == b"":
                        s.close()
                        continue
                except BlockingIOError:
                    pass
                except OSError:
                    s.close()
                    continue
                alive.append(s)
            self.socks = alive
            while len(self.socks) < IDLE_HELD:
                try:
                    self.socks.append(socket.create_connection(("127.0.0.1", PORT), timeout=5))
                    self.opened += 1
                except OSError:
                    break
        for s in self.socks:
            s.close()


def sample(pid):
    with open(f"/proc/{pid}/status") as f:
        rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
    return rss, len(os.listdir(f"/proc/{pid}/fd"))


def game_pids(record):
    try:
        with open(record) as f:
            return [json.loads(line)["pid"] for line in f if '"event":"start"' in line]
    except FileNotFoundError:
        return []


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--minutes", type=float, default=30)
    ap.add_argument("--interval", type=float, default=60, help="seconds between samples")
    ap.add_argument("build")
    a = ap.parse_args()

    work = tempfile.mkdtemp(prefix="tovel-soak-")
    script = os.path.join(work, "soak.txt")
    record = os.path.join(work, "game-record.jsonl")
    with open(script, "w") as f:
        f.write(script_text())
    env = {k: v for k, v in os.environ.items() if not k.startswith(("TOVELWEBHELPER_", "TOVEL3_DEMO_"))}
    env.update(XDG_RUNTIME_DIR=work, TOVEL3_DEMO_SCRIPT=script, TOVEL3_DEMO_RECORD=record)
    with open(os.path.join(work, "helper-stderr.txt"), "wb") as err:
        helper = subprocess.Popen([os.path.join(a.build, "tovelwebhelper"), "--activate-webhelper"], cwd=a.build,
                                  env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
    stop = threading.Event()
    failures = []
    clients = []
    try:
        def ready():
            try:
                return game_pids(record) and http_get("/soak-ready").startswith(b"HTTP/1.0 200 ")
            except OSError:
                return False

        deadline = time.monotonic() + 30
        while not ready():
            if time.monotonic() > deadline or helper.poll() is not None:
                raise SystemExit("the helper did not come up (see helper-stderr.txt in " + work + ")")
            time.sleep(0.2)

        pages = [Page(f"soak{i}", stop) for i in range(PAGES)]
        dropper, holder = Dropper(stop), IdleHolder(stop)
        clients = pages + [dropper, holder]
        for c in clients:
            c.start()

        samples = []
        start = time.monotonic()
        print(f"soak: {a.minutes:g} min, helper pid {helper.pid}, {PAGES} pages, {IDLE_HELD} idle connections held, "
              f"{DROPS_PER_SECOND} dropped connections/s", flush=True)
        print(f"{'minute':>6} {'rss_kb':>8} {'fds':>5} {'events/page':>12} {'polls':>8} {'dropped':>8} {'idle_opened':>11}")
        while time.monotonic() - start < a.minutes * 60:
            stop.wait(min(a.interval, a.minutes * 60 - (time.monotonic() - start)))
            if helper.poll() is not None:
                failures.append(f"the helper ended with {helper.returncode}")
                break
            rss, fds = sample(helper.pid)
            minute = (time.monotonic() - start) / 60
            samples.append((minute, rss, fds))
            print(f"{minute:6.1f} {rss:8d} {fds:5d} {min(p.events for p in pages):12d} "
                  f"{sum(p.polls for p in pages):8d} {dropper.count:8d} {holder.opened:11d}", flush=True)
            if any(p.faults for p in pages):
                break
        stop.set()
        for c in clients:
            c.join(20)

        for p in pages:
            failures += p.faults[:10]
            if p.events == 0:
                failures.append(f"{p.queue}: no event arrived")
        # Growth: the last samples against the first one after the warm-up (the first
        # minute, or the first third of a shorter run).
        warm = [s for s in samples if s[0] >= min(1.0, a.minutes / 3) - 0.01]
        if len(warm) >= 2:
            _, base_rss, base_fds = warm[0]
            tail = warm[1:][-3:]
            end_rss = statistics.median(s[1] for s in tail)
            end_fds = statistics.median(s[2] for s in tail)
            if end_rss > base_rss + RSS_TOLERANCE_KB + base_rss // 20:
                failures.append(f"resident memory grew from {base_rss} kB to {end_rss} kB")
            if end_fds > base_fds + FD_TOLERANCE:
                failures.append(f"open descriptors grew from {base_fds} to {end_fds}")
        else:
            failures.append("too short to judge growth: two samples after the warm-up are needed")
        total = sum(p.events for p in pages)
        print(f"soak: {total} events checked on {PAGES} pages, {sum(p.polls for p in pages)} polls, "
              f"{dropper.count} dropped connections, {holder.opened} idle connections opened", flush=True)
    finally:
        stop.set()
        for pid in game_pids(record):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        try:
            rc = helper.wait(30)
            if rc != 0:
                failures.append(f"the helper ended with {rc} after the game went")
        except subprocess.TimeoutExpired:
            helper.kill()
            helper.wait(10)
            failures.append("the helper did not end after the game went")

    if failures:
        print("soak FAILED:\n  " + "\n  ".join(failures))
        print("kept for a look: " + work)
        return 1
    shutil.rmtree(work, ignore_errors=True)
    print("soak passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
