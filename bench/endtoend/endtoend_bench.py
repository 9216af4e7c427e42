#!/usr/bin/env python3
"""The Linux helper from the game's write to the page's reply, and what it costs.

The benchmark plays the game itself: it listens on the game's socket and writes frames
that carry their send time, while pages long-poll over HTTP as a browser does. The
helper runs in test mode, so it launches nothing; a demo game that never opens its
pipe stands in as the process named like the game, which the game link looks for.

Measures:
  latency   write -> poll reply, over LATENCY_EVENTS frames sent at random moments,
            with one page polling, then with four pages each polling its own queue
  handshake request -> reply while four pages wait on their empty queues
  drain     events per second that one page takes from a game flooding DRAIN_EVENTS
  idle CPU  utime + stime of the helper over IDLE_SECONDS with a connected, silent game
            and one page polling
  memory    VmRSS after 1,000 and 10,000 events and VmHWM over a session of 10,000
            events drained by two pages

Usage: endtoend_bench.py BUILD_DIR   (the tree with tovelwebhelper and tovel3.exe)
"""
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

PORT = 4219
ORIGIN = "http://localhost"
PIPE_NAME = "marble_gantry"
LATENCY_EVENTS = int(os.environ.get("LATENCY_EVENTS", "250"))
IDLE_SECONDS = float(os.environ.get("IDLE_SECONDS", "30"))
SESSION_EVENTS = int(os.environ.get("SESSION_EVENTS", "10000"))
DRAIN_EVENTS = int(os.environ.get("DRAIN_EVENTS", "20000"))
HANDSHAKES = int(os.environ.get("HANDSHAKES", "1000"))
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def frame(name, payload):
    n, p = name.encode(), payload.encode()
    total = 7 + len(n) + len(p)
    return b"KE" + total.to_bytes(2, "little") + bytes([len(n)]) + n + len(p).to_bytes(2, "little") + p


def poll(queue, port=PORT):
    """One long poll as a page sends it; the reply body."""
    with socket.create_connection(("127.0.0.1", port), timeout=15) as sock:
        sock.sendall(f"GET /{queue} HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: {ORIGIN}\r\n\r\n".encode())
        raw = b""
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                break
            raw += chunk
    head, _, body = raw.partition(b"\r\n\r\n")
    if not head.startswith(b"HTTP/1.0 200 "):
        raise RuntimeError(f"poll of {queue} answered {raw[:200]!r}")
    return body


def fields(body):
    return body.decode().split("\t")[:-1]


def proc_status(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])  # kB
    raise KeyError(key)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        rest = f.read().rsplit(")", 1)[1].split()
    return (int(rest[11]) + int(rest[12])) / CLOCK_TICKS  # utime, stime


def wait_until(predicate, timeout, interval=0.05):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(interval)
    return True


def answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def start_helper(helper_exe, cwd, env, work, started):
    """Starts the helper in test mode and plays the game's end of its socket: (helper, the
    game's socket, the path of the helper's standard error)."""
    helper_err = os.path.join(work, "helper-stderr.txt")
    with open(helper_err, "wb") as err:
        helper = subprocess.Popen([helper_exe, "--activate-webhelper"], cwd=cwd,
                                  env=dict(env, TOVELWEBHELPER_TEST_MODE="1"),
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
    started.append(helper)
    if not wait_until(lambda: answers(PORT), 30):
        sys.exit("the helper's port does not answer")
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(os.path.join(work, PIPE_NAME))
    listener.listen(1)
    listener.settimeout(30)
    game, _ = listener.accept()
    listener.close()
    return helper, game, helper_err


def stop_started(started, work, helper):
    """Kills by pid whatever a run started and is still running, last started first;
    keeps the run's folder (and the helper's log in it) unless the helper ended cleanly."""
    for p in reversed(started):
        if p.poll() is None:
            p.send_signal(signal.SIGKILL)
            p.wait(10)
    if helper is not None and helper.returncode == 0:
        shutil.rmtree(work, ignore_errors=True)


def bench_world(prefix):
    """A scratch folder and a clean environment for one benchmark run; fails when the
    helper's port is already taken (the benchmark needs the machine's loopback)."""
    if answers(PORT):
        sys.exit(f"port {PORT} is in use; another helper runs")
    work = tempfile.mkdtemp(prefix=prefix)
    env = {k: v for k, v in os.environ.items() if not k.startswith(("TOVELWEBHELPER_", "TOVEL3_DEMO_"))}
    env["XDG_RUNTIME_DIR"] = work
    return work, env


class Pager(threading.Thread):
    """A page that polls its queue until it has `count` events named `name`; it checks
    that they arrive once each and in order, and notes when each arrived."""

    def __init__(self, queue, name, count, port=PORT, clock=time.monotonic_ns):
        super().__init__(daemon=True)
        self.queue, self.name, self.count, self.port, self.clock = queue, name, count, port, clock
        self.received = []  # (sequence number, send time ns, arrival ns), both of clock
        self.error = None

    def run(self):
        try:
            while len(self.received) < self.count:
                body = poll(self.queue, self.port)
                arrived = self.clock()
                if body == b"null":
                    continue
                f = fields(body)
                if f[1] != self.name:
                    continue
                seq, sent = int(f[2]), int(f[3])
                if seq != len(self.received) + 1:
                    raise RuntimeError(f"{self.queue}: event {seq} after {len(self.received)}")
                self.received.append((seq, sent, arrived))
        except Exception as e:  # reported by the main thread
            self.error = e

    def latencies(self):
        return [(arrived - sent) / 1e6 for _, sent, arrived in self.received]

    def finish(self, timeout):
        self.join(timeout)
        if self.error or self.is_alive():
            sys.exit(f"page {self.queue} failed: {self.error or 'timed out'}")


def drain_with_page_program(program, queue, name, count):
    """Starts the compiled drain page (a Python page cannot poll faster than about 8,000
    requests per second, whatever the server); a function that waits for its rate."""
    p = subprocess.Popen([program, str(PORT), queue, name, str(count)], stdout=subprocess.PIPE, text=True)

    def result():
        out, _ = p.communicate(timeout=600)
        if p.returncode != 0:
            sys.exit(f"the drain page failed ({p.returncode})")
        return float(out.split()[1])
    return result


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/native")
    helper_exe = os.path.join(build, "tovelwebhelper")
    game_exe = os.path.join(build, "tovel3.exe")
    for exe in (helper_exe, game_exe):
        if not os.access(exe, os.X_OK):
            sys.exit(f"missing {exe}; build the native tree first")

    work, env = bench_world("tovel-e2e-bench-")
    started = []
    try:
        # The process named like the game: a demo game that never opens its pipe.
        script = os.path.join(work, "idle.txt")
        with open(script, "w") as f:
            f.write("sleep 3600000\n")
        stand_in = subprocess.Popen([game_exe], env=dict(env, TOVEL3_DEMO_SCRIPT=script,
                                                         TOVEL3_DEMO_PIPE="not_the_helpers_pipe"),
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        started.append(stand_in)

        helper, game, helper_err = start_helper(helper_exe, build, env, work, started)

        def helper_log():
            with open(helper_err, "rb") as f:
                return f.read().decode("utf-8", "replace")

        if not wait_until(lambda: "PostEventToQueue: Posting event StateChanged\n" in helper_log(), 10):
            sys.exit("the game link did not take the game; helper said:\n" + helper_log())
        rss_connected = proc_status(helper.pid, "VmRSS")

        # Idle: connected game, nothing sent, one page polling its empty queue.
        poll("idle")
        idle_page = Pager("idle", "Never", 1)
        idle_page.start()
        cpu0, t0 = cpu_seconds(helper.pid), time.monotonic()
        time.sleep(IDLE_SECONDS)
        idle_cpu = (cpu_seconds(helper.pid) - cpu0) / (time.monotonic() - t0)
        game.sendall(frame("Never", "1 0"))
        idle_page.join(10)

        # Memory: a session of SESSION_EVENTS frames, written as fast as the socket
        # takes them, drained by two pages whose first polls create their queues.
        for q in ("page-a", "page-b"):
            poll(q)
        pages = [Pager("page-a", "Mem", SESSION_EVENTS), Pager("page-b", "Mem", SESSION_EVENTS)]
        rss_marks = {}

        def watch():
            while any(p.is_alive() for p in pages):
                done = min(len(p.received) for p in pages)
                for mark in (1000, SESSION_EVENTS):
                    if done >= mark and mark not in rss_marks:
                        rss_marks[mark] = proc_status(helper.pid, "VmRSS")
                time.sleep(0.01)

        for p in pages:
            p.start()
        watcher = threading.Thread(target=watch, daemon=True)
        watcher.start()
        t0 = time.monotonic()
        cpu0 = cpu_seconds(helper.pid)
        for seq in range(1, SESSION_EVENTS + 1):
            game.sendall(frame("Mem", f"{seq} {time.monotonic_ns()} blue 2 1 arena_7"))
        for p in pages:
            p.join(600)
        watcher.join(5)
        session_seconds = time.monotonic() - t0
        session_cpu = cpu_seconds(helper.pid) - cpu0
        for p in pages:
            if p.error or p.is_alive():
                sys.exit(f"{p.queue} failed: {p.error or 'timed out'}")
        rss_marks.setdefault(SESSION_EVENTS, proc_status(helper.pid, "VmRSS"))
        hwm = proc_status(helper.pid, "VmHWM")
        session_latency = [(arrived - sent) / 1e6 for p in pages for _, sent, arrived in p.received]

        # Latency: one page polls continuously; frames go out at random moments, so
        # they fall anywhere in the pump and poll cycles.
        poll("latency")  # creates the queue
        page = Pager("latency", "Lat", LATENCY_EVENTS)
        page.start()
        rng = random.Random(7)
        for seq in range(1, LATENCY_EVENTS + 1):
            time.sleep(rng.uniform(0.05, 0.25))
            game.sendall(frame("Lat", f"{seq} {time.monotonic_ns()}"))
        page.join(60)
        if page.error or page.is_alive():
            sys.exit(f"latency page failed: {page.error or 'timed out'}")
        latencies = [(arrived - sent) / 1e6 for _, sent, arrived in page.received]

        # Four pages, each polling its own queue on its own port: an event reaches each
        # of them, and a handshake is answered, while the others wait.
        queues = [(f"four-{i}", PORT + 1000 * i) for i in range(4)]
        for q, port in queues:
            poll(q, port)
        four = [Pager(q, "Four", LATENCY_EVENTS, port) for q, port in queues]
        for p in four:
            p.start()
        handshakes = []
        for _ in range(HANDSHAKES):
            t = time.monotonic_ns()
            with socket.create_connection(("127.0.0.1", PORT + 3000), timeout=15) as sock:
                sock.sendall(f"GET /handshake HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: {ORIGIN}\r\n\r\n".encode())
                while sock.recv(65536):
                    pass
            handshakes.append((time.monotonic_ns() - t) / 1e6)
        for seq in range(1, LATENCY_EVENTS + 1):
            time.sleep(rng.uniform(0.05, 0.25))
            game.sendall(frame("Four", f"{seq} {time.monotonic_ns()}"))
        for p in four:
            p.join(60)
            if p.error or p.is_alive():
                sys.exit(f"{p.queue} failed: {p.error or 'timed out'}")
        four_latencies = [(arrived - sent) / 1e6 for p in four for _, sent, arrived in p.received]

        # Drain: one page, the game writing as fast as its pipe takes the frames.
        poll("drain")
        drain = drain_with_page_program(os.path.join(build, "bench", "endtoend", "drain_page"), "drain", "Drain",
                                        DRAIN_EVENTS)
        for seq in range(1, DRAIN_EVENTS + 1):
            game.sendall(frame("Drain", f"{seq} {time.monotonic_ns()}"))
        drain_rate = drain()

        game.close()
        if helper.wait(30) != 0:
            sys.exit(f"the helper did not end cleanly; see {helper_err}")
    finally:
        stop_started(started, work, locals().get("helper"))

    print()
    print(f"helper: {helper_exe}")
    print(f"write -> poll reply latency over {len(latencies)} events (random send times, one page polling):")
    print(f"  median {statistics.median(latencies):.2f} ms, p99 {percentile(latencies, 99):.2f} ms, "
          f"min {min(latencies):.2f} ms, max {max(latencies):.1f} ms")
    print(f"same with four pages each polling its own queue, over {len(four_latencies)} replies:")
    print(f"  median {statistics.median(four_latencies):.2f} ms, p99 {percentile(four_latencies, 99):.2f} ms, "
          f"max {max(four_latencies):.1f} ms")
    print(f"handshake while the four pages wait, {len(handshakes)} requests: "
          f"median {statistics.median(handshakes):.2f} ms, p99 {percentile(handshakes, 99):.2f} ms, "
          f"max {max(handshakes):.1f} ms")
    print(f"one page draining a flood of {DRAIN_EVENTS} events: {drain_rate:.0f} events/s")
    print(f"idle CPU with a connected game and one page polling, over {IDLE_SECONDS:.0f} s: "
          f"{idle_cpu * 100:.3f} % of one core")
    print(f"session of {SESSION_EVENTS} events, two pages: {session_seconds:.1f} s "
          f"({SESSION_EVENTS / session_seconds:.0f} events/s), helper CPU {session_cpu:.2f} s; "
          f"write -> reply median {statistics.median(session_latency):.0f} ms, "
          f"max {max(session_latency):.0f} ms (a burst, queued)")
    print(f"memory: VmRSS connected {rss_connected} kB, "
          f"after 1000 events {rss_marks.get(1000)} kB, after {SESSION_EVENTS} events "
          f"{rss_marks[SESSION_EVENTS]} kB; VmHWM {hwm} kB")


if __name__ == "__main__":
    main()
