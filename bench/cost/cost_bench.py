#!/usr/bin/env python3
"""What one delivered event costs the Linux helper, for one helper against another.

Each round is a fresh helper in test mode. The benchmark plays the game over the
helper's socket (as bench/endtoend does), writing RATE frames a second, each carrying
its number and send time, while two pages, each a process of its own, poll their own
queues without pause: a new connection per request, with a loopback page's Origin.
Rounds alternate between the helpers (A B A B ...). In each round, after a warm-up:

  CPU window    the helper's CPU time (the scheduler's count, /proc/PID/task/*/schedstat)
                over WINDOW seconds, divided by the events the pages got in it: CPU per
                delivered event;
                and write -> poll reply latency of those events (median, p99)
  count window  the next COUNT_WINDOW seconds, system calls of every helper thread
                counted by `perf stat` on the syscalls:sys_enter_* tracepoints, divided
                by the events delivered in it. Kept out of the CPU window, since
                counting adds to the cost of each call; the CPU it took is shown apart.
                With --counter strace, `strace -c -f` counts instead: it stops the
                helper at every call, which slows it enough to change its pattern
                (polls then often find their event already queued, and do not wait).

At the end of a round each page must have got every event once and in order.
Every post reaches each queue, so one frame is two delivered events.

Usage: cost_bench.py [--rounds N] [--window S] [--count-window S] [--rate R]
                     [--counter perf|strace] HELPER_A [HELPER_B]
       (B defaults to A, which shows the noise of one build)
Run it through bench/cost/run.sh, which builds revisions and isolates the ports.
"""
import argparse
import multiprocessing
import os
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "endtoend"))
from endtoend_bench import (bench_world, fields, frame,  # noqa: E402
                            percentile, poll, start_helper, stop_started, wait_until)

QUEUES = ("page-a", "page-b")
WARM_UP = 2.0


def page(queue, results):
    """A page polling its queue until the Stop event; sends back (seq, sent, arrived)
    of every event, or what went wrong."""
    received, error = [], None
    try:
        while True:
            body = poll(queue)
            arrived = time.monotonic_ns()
            if body == b"null":
                continue
            f = fields(body)
            if f[1] == "Stop":
                break
            if f[1] != "Cost":
                raise RuntimeError(f"{queue}: unexpected event {body[:120]!r}")
            seq, sent = int(f[2]), int(f[3])
            if seq != len(received) + 1:
                raise RuntimeError(f"{queue}: event {seq} after {len(received)}")
            received.append((seq, sent, arrived))
    except Exception as e:  # reported by the round
        error = repr(e)
    results.send((received, error))
    results.close()


class Game(threading.Thread):
    """Writes numbered frames at `rate` a second on a fixed schedule until stopped,
    then a Stop frame."""

    def __init__(self, sock, rate):
        super().__init__(daemon=True)
        self.sock, self.rate = sock, rate
        self.stop = threading.Event()
        self.written = 0

    def run(self):
        start = time.monotonic()
        while not self.stop.is_set():
            self.written += 1
            self.sock.sendall(frame("Cost", f"{self.written} {time.monotonic_ns()}"))
            time.sleep(max(0.0, start + self.written / self.rate - time.monotonic()))
        self.sock.sendall(frame("Stop", ""))


class PerfCount:
    """`perf stat` on every syscalls:sys_enter_* tracepoint of a process's threads,
    started disabled and switched on and off through its control fifos."""

    def __init__(self, pid, work):
        self.ctl, self.ack, self.out = (os.path.join(work, n) for n in ("perf.ctl", "perf.ack", "perf.out"))
        for fifo in (self.ctl, self.ack):
            os.mkfifo(fifo)
        self.ack_f = os.fdopen(os.open(self.ack, os.O_RDONLY | os.O_NONBLOCK))
        with open(os.path.join(work, "perf.err"), "wb") as err:
            self.proc = subprocess.Popen(["perf", "stat", "-x,", "-D", "-1", "--control", f"fifo:{self.ctl},{self.ack}",
                                          "-e", "syscalls:sys_enter_*", "-p", str(pid), "-o", self.out],
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        # Waits for perf to open its control fifo; a perf that ends before is reported
        # here, one that ends after by the missing "ack".
        while True:
            try:
                self.ctl_f = os.fdopen(os.open(self.ctl, os.O_WRONLY | os.O_NONBLOCK), "w")
                break
            except OSError:
                if self.proc.poll() is not None:
                    raise RuntimeError(f"perf ended; see {err.name}")
                time.sleep(0.01)
        for f in (self.ctl_f, self.ack_f):
            os.set_blocking(f.fileno(), True)

    def _command(self, word):
        self.ctl_f.write(word + "\n")
        self.ctl_f.flush()
        reply = self.ack_f.readline()
        if reply.strip("\0\n") != "ack":  # perf ends each with a NUL
            raise RuntimeError(f"perf did not acknowledge {word}: {reply!r}")

    def start(self):
        self._command("enable")

    def stop(self):
        """Calls by name."""
        self._command("disable")
        self.proc.send_signal(signal.SIGINT)
        self.proc.wait(60)
        calls = {}
        with open(self.out) as f:
            for line in f:
                parts = line.strip().split(",")
                if len(parts) > 2 and parts[2].startswith("syscalls:sys_enter_") and parts[0].isdigit():
                    calls[parts[2][len("syscalls:sys_enter_"):]] = int(parts[0])
        return calls

    def kill(self):
        self.ack_f.close()
        if hasattr(self, "ctl_f"):
            self.ctl_f.close()
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)


class StraceCount:
    """`strace -c -f` attached to every thread of a process: stops the helper at each
    call, so it costs far more than perf and can change how calls batch."""

    def __init__(self, pid, work):
        self.pid, self.out, self.err = pid, os.path.join(work, "strace.out"), os.path.join(work, "strace.err")
        self.proc = None

    def start(self):
        with open(self.err, "wb") as err:
            self.proc = subprocess.Popen(["strace", "-c", "-f", "-p", str(self.pid), "-o", self.out],
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        if not wait_until(lambda: " attached" in open(self.err).read(), 10, 0.01):  # "... with N threads"
            raise RuntimeError("strace did not attach")

    def stop(self):
        self.proc.send_signal(signal.SIGINT)
        self.proc.wait(60)
        calls = {}
        with open(self.out) as f:
            for line in f:
                parts = line.split()  # % time, seconds, usecs/call, calls, [errors,] name
                if len(parts) >= 5 and parts[0].replace(".", "").isdigit() and parts[-1] != "total":
                    calls[parts[-1]] = int(parts[3])
        return calls

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)


def thread_ids(pid):
    return sorted(os.listdir(f"/proc/{pid}/task"))


def run_seconds(pid):
    """CPU time of the process's live threads, to the nanosecond (the scheduler's own
    count; /proc/PID/stat reports it in hundredths of a second). The round checks that
    its threads stay the same."""
    total = 0
    for tid in thread_ids(pid):
        with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
            total += int(f.read().split()[0])
    return total / 1e9


def run_round(helper_exe, opts):
    work, env = bench_world("tovel-cost-bench-")
    started, pages, counter = [], [], None
    try:
        # The process named like the game, which the game link looks for.
        stand_in = os.path.join(work, "tovel3.exe")
        shutil.copy("/bin/sleep", stand_in)
        started.append(subprocess.Popen([stand_in, "3600"]))

        helper, game_sock, helper_err = start_helper(helper_exe, os.path.dirname(helper_exe), env, work, started)

        def helper_log():
            with open(helper_err, "rb") as f:
                return f.read().decode("utf-8", "replace")

        if not wait_until(lambda: "Posting event StateChanged\n" in helper_log(), 10):
            sys.exit("the game link did not take the game; helper said:\n" + helper_log())

        # The first poll of a name creates its queue: both exist before the first frame.
        creators = [threading.Thread(target=poll, args=(q,)) for q in QUEUES]
        for t in creators:
            t.start()
        for t in creators:
            t.join()
        fork = multiprocessing.get_context("fork")
        for q in QUEUES:
            mine, theirs = fork.Pipe(duplex=False)
            p = fork.Process(target=page, args=(q, theirs), daemon=True)
            p.start()
            theirs.close()
            pages.append((q, p, mine))

        game = Game(game_sock, opts.rate)
        game.start()
        time.sleep(WARM_UP)

        threads = thread_ids(helper.pid)
        cpu0, t0 = run_seconds(helper.pid), time.monotonic_ns()
        time.sleep(opts.window)
        cpu1, t1 = run_seconds(helper.pid), time.monotonic_ns()

        counter = (StraceCount if opts.counter == "strace" else PerfCount)(helper.pid, work)
        counter.start()
        cpu2, t2 = run_seconds(helper.pid), time.monotonic_ns()
        time.sleep(opts.count_window)
        cpu3, t3 = run_seconds(helper.pid), time.monotonic_ns()
        calls = counter.stop()
        if not calls:
            sys.exit(f"{opts.counter} counted no system calls")
        if thread_ids(helper.pid) != threads:
            sys.exit("the helper's threads changed during the round; perf counts only those it attached to")

        game.stop.set()
        game.join(10)
        received = {}
        for q, p, conn in pages:
            if not conn.poll(30):
                sys.exit(f"page {q} did not finish")
            got, error = conn.recv()
            p.join(10)
            if error:
                sys.exit(f"page {q} failed: {error}")
            if len(got) != game.written:
                sys.exit(f"page {q} got {len(got)} of {game.written} events")
            received[q] = got
        game_sock.close()
        if helper.wait(30) != 0:
            sys.exit(f"the helper did not end cleanly; see {helper_err}")
    finally:
        if counter:
            counter.kill()
        for _, p, _ in pages:
            if p.is_alive():
                p.kill()
                p.join(10)
        stop_started(started, work, locals().get("helper"))

    def delivered(a, b):
        return [(arrived - sent) / 1e6 for got in received.values() for _, sent, arrived in got if a <= arrived < b]

    cpu_window = delivered(t0, t1)
    count_window = len(delivered(t2, t3))
    return {
        "written": game.written,
        "cpu_us": (cpu1 - cpu0) * 1e6 / len(cpu_window),
        "cpu_us_counting": (cpu3 - cpu2) * 1e6 / count_window,
        "rate": len(cpu_window) / ((t1 - t0) / 1e9),
        "median_ms": statistics.median(cpu_window),
        "p99_ms": percentile(cpu_window, 99),
        "calls": {name: n / count_window for name, n in calls.items()},
        "threads": len(threads),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rounds", type=int, default=3, help="rounds of each helper (default 3)")
    parser.add_argument("--window", type=float, default=10, help="seconds of the CPU window (default 10)")
    parser.add_argument("--count-window", type=float, default=5, help="seconds of system call counting (default 5)")
    parser.add_argument("--rate", type=float, default=200, help="frames the game writes a second (default 200)")
    parser.add_argument("--counter", choices=("perf", "strace"), default="perf",
                        help="what counts the system calls (default perf)")
    parser.add_argument("helpers", nargs="+", metavar="HELPER", help="HELPER_A [HELPER_B]")
    opts = parser.parse_args()
    if len(opts.helpers) > 2:
        parser.error("at most two helpers")
    helpers = [os.path.abspath(h) for h in opts.helpers]
    if len(helpers) == 1:
        helpers.append(helpers[0])
    for exe in helpers:
        if not os.access(exe, os.X_OK):
            sys.exit(f"not a program: {exe}")
    if shutil.which(opts.counter) is None:
        sys.exit(f"{opts.counter} is missing")

    labels = ("A", "B")
    rounds = {label: [] for label in labels}
    for r in range(1, opts.rounds + 1):
        for label, exe in zip(labels, helpers):
            res = run_round(exe, opts)
            rounds[label].append(res)
            print(f"round {r} {label}: {res['cpu_us']:.1f} us CPU/event ({res['rate']:.0f} events/s delivered; "
                  f"{res['cpu_us_counting']:.1f} us while counting), {sum(res['calls'].values()):.2f} calls/event, "
                  f"latency median {res['median_ms']:.2f} ms p99 {res['p99_ms']:.2f} ms, "
                  f"all {res['written']} events reached both pages once, in order", flush=True)

    def med(label, key):
        return statistics.median(res[key] for res in rounds[label])

    print()
    print(f"{opts.rate:.0f} frames/s, two pages polling; median over {opts.rounds} rounds each "
          f"(CPU window {opts.window:.0f} s, then {opts.count_window:.0f} s of counting by {opts.counter})")
    for label, exe in zip(labels, helpers):
        names = sorted({n for res in rounds[label] for n in res["calls"]})
        per_call = {n: statistics.median(res["calls"].get(n, 0.0) for res in rounds[label]) for n in names}
        total = statistics.median(sum(res["calls"].values()) for res in rounds[label])
        shown = sorted(((v, n) for n, v in per_call.items() if v >= 0.005), reverse=True)
        print(f"{label}: {exe} ({rounds[label][0]['threads']} threads)")
        print(f"  CPU per delivered event   {med(label, 'cpu_us'):.1f} us  "
              f"(rounds: {', '.join('%.1f' % res['cpu_us'] for res in rounds[label])})")
        print(f"  system calls per event    {total:.2f}: " + ", ".join(f"{n} {v:.2f}" for v, n in shown))
        print(f"  write -> poll reply       median {med(label, 'median_ms'):.2f} ms, p99 {med(label, 'p99_ms'):.2f} ms")
    pairs = [b["cpu_us"] / a["cpu_us"] for a, b in zip(rounds["A"], rounds["B"])]
    print(f"B/A CPU per delivered event: {med('B', 'cpu_us') / med('A', 'cpu_us'):.2f} "
          f"(round by round: {', '.join('%.2f' % x for x in pairs)}; median {statistics.median(pairs):.2f})")


if __name__ == "__main__":
    main()
