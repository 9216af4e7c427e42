"""The helper's memory under a flood from the game while pages come and go: ten pages
poll once and leave before the flood, a thousand more within about a second during it,
and one page keeps polling. The helper must stay small, keep answering handshakes,
and give the page that keeps polling its events in order, never one twice, telling it
how many it lost when it fell too far behind. Runs on every build (Linux, Windows
under Wine, and the sanitizer trees, where only the growth is not judged)."""
import os
import signal
import socket
import threading
import time

from harness import GAME_EXE, HELPER, KIND, ON_WINE, PORTS, BlackBoxTest, wait_until
from loopback import answers, exchange

ORIGIN = "http://localhost"
HANDSHAKE = b'{"app_id": "MARBLE-GAME","helper_version": "1.6.1"}'

FLOOD = 60000            # frames; well past what the helper holds for a page that falls behind
PAYLOAD = "x" * 100      # a frame of about 110 bytes
ABANDONED = 10
FRESH_NAMES = 1000
# Resident memory the helper may reach (Linux build), or gain during the flood (Windows
# program, whose Wine process starts larger). The sanitizers' own memory would drown it.
MEMORY_LIMIT_KB = 64 * 1024
JUDGE_MEMORY = KIND in ("native", "win32", "win64")
# Past this the helper is stopped at once: a helper that keeps every event would take
# the machine's memory before the flood ends.
RUNAWAY_KB = 4 * MEMORY_LIMIT_KB if JUDGE_MEMORY else 1024 * 1024


def request(path, verb="GET"):
    return (f"{verb} {path} HTTP/1.1\r\nHost: 127.0.0.1:{PORTS[0]}\r\nOrigin: {ORIGIN}\r\n"
            "Connection: close\r\n\r\n").encode()


def body_of(raw):
    head, _, body = raw.partition(b"\r\n\r\n")
    if not head.startswith(b"HTTP/1.0 200 "):
        raise AssertionError(f"not answered 200: {raw[:300]!r}")
    return body


def leave_after_request(queue):
    """A page that polls once and goes without waiting for the answer."""
    with socket.create_connection(("127.0.0.1", PORTS[0]), timeout=15) as sock:
        sock.sendall(request("/" + queue))


def rss_kb(pid, key="VmRSS"):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


class KeptPage(threading.Thread):
    """The page that keeps polling. Every flood event must come once and in order, and
    each gap must be what the EVENTSLOST events before it said was lost."""

    def __init__(self, queue):
        super().__init__(daemon=True)
        self.queue = queue
        self.last = 0           # number of the latest flood event received
        self.received = 0
        self.told_lost = 0
        self.lost_events = 0
        self.first_flood = threading.Event()
        self.done = threading.Event()
        self.error = None
        self.closed_unanswered = 0

    def run(self):
        told = 0  # lost since the latest flood event
        try:
            while not self.done.is_set():
                raw = exchange(PORTS[0], request("/poll/" + self.queue), 30)
                if raw == b"":
                    # Closed unanswered: the helper was at its bound of connections
                    # (the abandoned pages' are still open). Nothing was taken; a
                    # page polls again.
                    self.closed_unanswered += 1
                    time.sleep(0.05)
                    continue
                body = body_of(raw)
                if body == b"null":
                    continue
                fields = body.decode().split("\t")
                if len(fields) != 11 or fields[-1] != "" or fields[0] != "MARBLE-GAME":
                    raise AssertionError(f"not an event: {body[:200]!r}")
                name, first = fields[1], fields[2]
                if name == "EVENTSLOST":
                    # Two in a row when more were lost between the two polls.
                    if not first.isdigit() or int(first) <= 0 or any(fields[3:10]):
                        raise AssertionError(f"bad EVENTSLOST event: {body!r}")
                    told += int(first)
                    self.lost_events += 1
                elif name == "Flood":
                    number = int(first)
                    if number != self.last + 1 + told:
                        raise AssertionError(f"event {number} after {self.last}, with {told} told lost")
                    self.told_lost += told
                    self.last, told = number, 0
                    self.received += 1
                    self.first_flood.set()
                elif name == "Done":
                    if told:
                        raise AssertionError(f"{told} told lost at the end of the flood")
                    self.done.set()
        except Exception as e:  # reported by the test
            self.error = e
            self.first_flood.set()
            self.done.set()


class Memory(BlackBoxTest):
    def helper_pid(self, running):
        """The process whose memory is the helper's: under Wine the Windows process."""
        if not ON_WINE:
            return running.pid
        exe = os.path.basename(HELPER).encode()
        marker = ("TOVEL3_DEMO_RECORD=" + self.s.record).encode()

        def find():
            for name in os.listdir("/proc"):
                if not name.isdigit():
                    continue
                try:
                    with open(f"/proc/{name}/cmdline", "rb") as f:
                        cmdline = f.read()
                    with open(f"/proc/{name}/environ", "rb") as f:
                        environ = f.read().split(b"\0")
                except OSError:
                    continue
                if exe in cmdline and GAME_EXE.encode() not in cmdline and marker in environ:
                    return int(name)
            return None
        return wait_until(find, 10) or running.pid

    def test_a_flood_while_pages_come_and_go(self):
        script = os.path.join(self.s.dir, "script.txt")
        with open(script, "w") as f:
            f.write(f"wait-client\nsleep 3000\nflood {FLOOD} Flood {PAYLOAD}\nframe Done\nsleep 200000\n")
        helper = self.s.start_helper(["--activate-webhelper"], extra_env={"TOVEL3_DEMO_SCRIPT": script})
        self.assertTrue(wait_until(lambda: answers(PORTS[0]) or not helper.running(), 60, 0.1)
                        and helper.running(), helper.stderr())
        self.assertTrue(wait_until(lambda: any(r["event"] == "client" for r in self.s.game_records()), 30),
                        helper.stderr())

        # Within the game's three seconds before the flood.
        for i in range(ABANDONED):
            leave_after_request(f"abandoned-{i}")
        page = KeptPage("kept")
        body_of(exchange(PORTS[0], request("/poll/kept"), 30))  # creates the queue
        page.start()
        pid = self.helper_pid(helper)
        rss_before = rss_kb(pid)
        self.assertIsNotNone(rss_before)

        stop = threading.Event()
        samples, handshakes, failures, runaway = [], [], [], []

        def sample():
            while not stop.is_set():
                value = rss_kb(pid)
                if value is not None:
                    samples.append(value)
                    if value > RUNAWAY_KB:
                        os.kill(pid, signal.SIGKILL)
                        runaway.append(value)
                        page.done.set()
                        return
                time.sleep(0.05)

        def shake():
            while not stop.is_set():
                started = time.monotonic()
                try:
                    answer = body_of(exchange(PORTS[1], request("/handshake"), 10))
                    if answer != HANDSHAKE:
                        failures.append(answer)
                except Exception as e:  # noqa: BLE001 - every failure counts
                    failures.append(e)
                handshakes.append(time.monotonic() - started)
                time.sleep(0.1)

        def fresh():
            page.first_flood.wait(60)
            started = time.monotonic()
            for i in range(FRESH_NAMES):
                leave_after_request(f"fresh-{i}")
                time.sleep(max(0.0, started + (i + 1) / FRESH_NAMES - time.monotonic()))

        threads = [threading.Thread(target=f, daemon=True) for f in (sample, shake, fresh)]
        for t in threads:
            t.start()
        ended = page.done.wait(600) or page.error
        stop.set()
        for t in threads:
            t.join(60)
        page.join(30)
        peak = rss_kb(pid, "VmHWM") if not ON_WINE else max(samples, default=0)

        self.assertEqual(runaway, [], "the helper was stopped: its resident memory (kB) kept growing")
        self.assertIsNone(page.error, helper.stderr()[-3000:])
        self.assertTrue(ended, f"the flood did not reach the page; it has {page.received} events")
        # Every event of the flood either reached the page or was told lost.
        self.assertEqual(page.last, FLOOD)
        self.assertEqual(page.received + page.told_lost, FLOOD)
        if page.lost_events:
            self.assertIn('TakeEventFromQueue: Queue "kept" was full, dropped its ', helper.stderr())

        self.assertEqual(failures, [])
        self.assertGreater(len(handshakes), 0)
        self.assertLess(max(handshakes), 5.0, "a handshake waited during the flood")

        print(f"\n{KIND}: {page.received} events to the page that kept polling, {page.told_lost} told lost in "
              f"{page.lost_events} EVENTSLOST events; resident memory {rss_before} kB before the flood, "
              f"peak {peak} kB; {len(handshakes)} handshakes, slowest {max(handshakes) * 1000:.0f} ms")
        if JUDGE_MEMORY:
            if ON_WINE:
                self.assertLess(peak - rss_before, MEMORY_LIMIT_KB)
            else:
                self.assertLess(peak, MEMORY_LIMIT_KB)

        # The helper still ends in order.
        self.assertEqual(exchange(PORTS[0], request("/killgame", "POST"), 15).split(b" ")[1], b"200")
        self.assertEqual(helper.wait(60), 0, helper.stderr()[-3000:])


if __name__ == "__main__":
    import unittest
    unittest.main()
