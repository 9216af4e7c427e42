"""The whole helper as a player meets it: started in active mode with the game's command
line, it launches the demo game from its own folder, and a page on http://localhost
polls the events that the game's frames become, identifies the helper and kills the
game. Covers the session from the first poll to the game's end, a poll that waits for
the next event while other requests are served, two pages, a flood,
the ways the game can go (killed by the page, crashed, pipe closed, garbage on the
pipe, pipe never opened), a second active instance (also one that waits while the
first ends) and SIGINT. Runs on both builds (Linux, and Windows under Wine)."""
import contextlib
import os
import signal
import socket
import threading
import time
import unittest

from harness import BlackBoxTest, ON_WINE, PORTS, Session, pid_alive, wait_until
from loopback import answers, exchange

ORIGIN = "http://localhost"
GAME_ID = "MARBLE-GAME"
HANDSHAKE = b'{"app_id": "MARBLE-GAME","helper_version": "1.6.1"}'
NOT_FOUND_BODY = b"<html><head><title>Not Found</title></head><body><h1>404 Not Found</h1></body></html>"

ACTIVE_ARGS = ["--activate-webhelper", "-level", "3"]
CHILD_DIED = "wWinMain: DONE! Child process died\n"
LINK_ENDED = "wWinMain: DONE! Gantry shutdown event signaled\n"
SUPERVISING = "wWinMain: Waiting for child to shutdown\n"
CONNECT_TIMED_OUT = "wWinMain: Waiting on gantry connect timed out\n"
SHUTDOWN = ["wWinMain: Waiting for gantry thread shutdown\n",
            "wWinMain: DONE! gantry thread exited\n",
            "wWinMain: Waiting for webserver thread shutdown\n",
            "wWinMain: DONE! webserver thread exited\n"]

# The game sleeps this long before it opens its pipe, so that the pages' first polls
# create their queues before the game link posts READY.
PIPE_DELAY_MS = 4000


def event(name, *words):
    """A poll's body for one event: ten fields, each followed by a tab."""
    fields = [GAME_ID, name] + list(words) + [""] * (8 - len(words))
    return ("\t".join(fields) + "\t").encode()


READY = event("StateChanged", "READY")
GONE = event("StateChanged", "GAMEISGONE")
NULL = b"null"


class Reply:
    def __init__(self, raw):
        head, _, self.body = raw.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        self.status_line = lines[0]
        self.status = int(lines[0].split(" ")[1]) if lines[0].startswith("HTTP/1.0 ") else None
        self.fields = [tuple(line.split(": ", 1)) for line in lines[1:]]

    def __repr__(self):
        return f"Reply({self.status_line!r}, {self.fields!r}, {self.body!r})"


def call(port, verb, path, timeout=15):
    """One request as a browser page sends it; the reply, read until the helper closes."""
    data = (f"{verb} {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nOrigin: {ORIGIN}\r\n"
            "Connection: close\r\n\r\n").encode()
    raw = exchange(port, data, timeout)
    return Reply(raw)


class Page:
    """A page that long-polls its own queue on one port."""

    def __init__(self, test, queue, port=PORTS[0]):
        self.test, self.queue, self.port = test, queue, port
        self.replies = []  # every body, "null" included, in order

    def poll(self):
        reply = call(self.port, "GET", "/poll/" + self.queue)
        self.test.assertEqual(reply.status, 200, reply)
        self.test.assertEqual(reply.fields, [("Content-Length", str(len(reply.body))),
                                             ("Content-Type", "text/plain"),
                                             ("Access-Control-Allow-Origin", ORIGIN)])
        self.replies.append(reply.body)
        return reply.body

    def first_poll(self, session):
        """The poll that creates the queue. It must reach the helper before the game
        opens its pipe, or READY would be posted before the queue exists."""
        self.test.assertFalse(
            any(r["event"] == "listening" for r in session.game_records()),
            f"the game opened its pipe before the first poll of {self.queue!r}; "
            f"PIPE_DELAY_MS ({PIPE_DELAY_MS}) is too short for this machine")
        started = time.monotonic()
        body = self.poll()
        # Nothing was queued: the reply is READY if it came while the poll waited,
        # else null after the ten tries.
        self.test.assertIn(body, (NULL, READY))
        if body == NULL:
            self.test.assertGreaterEqual(time.monotonic() - started, 0.9)
        return body

    def poll_until(self, last, timeout=60):
        """Polls until the reply is last; returns the events (not the nulls) received."""
        deadline = time.monotonic() + timeout
        while self.poll() != last:
            self.test.assertLess(time.monotonic(), deadline, f"{last!r} never came; replies: {self.replies[-20:]!r}")
        return self.events()

    def events(self):
        return [body for body in self.replies if body != NULL]


class WaitingPoll:
    """A page's poll sent on its own thread, so that the test can act while it waits."""

    def __init__(self, page):
        self.reply = None
        self.error = None
        self.thread = threading.Thread(target=self._run, args=(page,), daemon=True)
        self.thread.start()

    def _run(self, page):
        try:
            self.reply = page.poll()
        except Exception as e:  # reported by result()
            self.error = e

    def done(self):
        return not self.thread.is_alive()

    def result(self, timeout=15):
        self.thread.join(timeout)
        if self.error:
            raise self.error
        return self.reply


class EndToEnd(BlackBoxTest):
    @contextlib.contextmanager
    def own_session(self):
        """A Session for one case of a table: its game must be gone before the next
        helper checks that no game runs."""
        outer, self.s = self.s, Session()
        try:
            yield
        finally:
            self.s.close()
            self.s = outer

    def start(self, script, args=ACTIVE_ARGS):
        """The helper as a user starts it, from its own folder; the game it launches
        plays script."""
        path = os.path.join(self.s.dir, "script.txt")
        with open(path, "w", encoding="utf-8") as f:
            f.write(script)
        helper = self.s.start_helper(args, extra_env={"TOVEL3_DEMO_SCRIPT": path})
        self.assertTrue(wait_until(lambda: all(answers(p) for p in PORTS) or not helper.running(), 60, 0.1)
                        and helper.running(), helper.stderr())
        return helper

    def delayed(self, script):
        return f"sleep {PIPE_DELAY_MS}\nwait-client\n{script}"

    def assertEnded(self, helper, ending, timeout=60):
        """The helper ended by itself with the supervision's end and the full shutdown
        in order, and nothing after it."""
        self.assertEqual(helper.wait(timeout), 0, helper.stderr())
        err = helper.stderr()
        self.assertLinesInOrder(err, ending + SHUTDOWN)
        self.assertTrue(err.endswith(SHUTDOWN[-1]), err)
        self.assertFalse(any(answers(p) for p in PORTS), "a listener outlived the helper")
        return err

    def assertSupervising(self, helper):
        """The main thread watches the game: a game ended before it looks is only a pid
        that fails to open, so a test that ends the game waits for this first."""
        self.assertTrue(helper.wait_for(SUPERVISING, 30), helper.stderr())

    def assertOnePlayedGame(self):
        starts = self.s.game_starts()
        self.assertEqual(len(starts), 1, starts)
        self.assertEqual(starts[0]["args"], ACTIVE_ARGS[1:])

    def test_a_page_follows_a_whole_session(self):
        helper = self.start(self.delayed(
            "sleep 1500\n"
            "frame LobbyJoined alice  lobby_3\n"
            "frame MatchStarted arena_7 4 players\n"
            "frame Words 1 2 3 4 5 6 7 8 9 10\n"
            "frame Quiet\n"
            "frame Grüße über  Straße \n"
            "sleep 1500\n"
            "frame MatchEnded win 2 1\n"
            "sleep 500\n"
            "exit\n"))
        reply = call(PORTS[1], "GET", "/handshake")
        self.assertEqual((reply.status, reply.body), (200, HANDSHAKE), reply)
        self.assertIn(("Access-Control-Allow-Origin", ORIGIN), reply.fields)

        page = Page(self, "page-1")
        page.first_poll(self.s)
        self.assertEqual(page.poll_until(GONE), [
            READY,
            event("LobbyJoined", "alice", "lobby_3"),
            event("MatchStarted", "arena_7", "4", "players"),
            event("Words", *"12345678"),
            event("Quiet"),
            event("Grüße", "über", "Straße"),
            event("MatchEnded", "win", "2", "1"),
            GONE])
        # Nothing pending: the polls in the game's pause, and one after the end (the
        # listeners serve on for a while after the game link).
        gap = page.replies.index(event("Grüße", "über", "Straße")) + 1
        self.assertEqual(page.replies[gap], NULL, page.replies)
        self.assertEqual(page.poll(), NULL)

        err = self.assertEnded(helper, [SUPERVISING, CHILD_DIED])
        self.assertIn("WebGetRequestHandler: Polling queue page-1\n", err)
        self.assertOnePlayedGame()

    def test_two_pages_each_get_every_event_once(self):
        helper = self.start(self.delayed(
            "sleep 500\nframe One 1\nsleep 300\nframe Two 2\nflood 20 Tick\nsleep 300\nframe Three 3\nclose\n"
            "sleep 200000\n"))
        pages = [Page(self, "left", PORTS[0]), Page(self, "right", PORTS[3])]
        for page in pages:
            page.first_poll(self.s)
        got = {}

        def follow(page):
            try:
                got[page.queue] = page.poll_until(GONE)
            except Exception as e:  # reported below, with the other page's result
                got[page.queue] = e

        threads = [threading.Thread(target=follow, args=(page,)) for page in pages]
        for t in threads:
            t.start()
        for t in threads:
            t.join(90)
        expected = ([READY, event("One", "1"), event("Two", "2")] + [event("Tick", str(i)) for i in range(1, 21)]
                    + [event("Three", "3"), GONE])
        self.assertEqual(got.get("left"), expected)
        self.assertEqual(got.get("right"), expected)
        self.assertEnded(helper, [SUPERVISING, LINK_ENDED])

    def test_a_waiting_poll_gets_the_next_event_and_holds_up_nothing(self):
        helper = self.start(self.delayed(
            "sleep 1500\nframe Tick 1\nsleep 3000\nframe Tick 2\nsleep 200000\n"))
        page, other = Page(self, "waiting"), Page(self, "other", PORTS[1])
        page.first_poll(self.s)
        other.first_poll(self.s)
        self.assertEqual(page.poll_until(READY), [READY])

        def sent(name, payload):
            return any(r["event"] == "sent" and r["name"] == name and r["payload"] == payload
                       for r in self.s.game_records())

        # A poll that waits when the game writes its frame answers with it. While the
        # first such poll waits, the other page, the handshake and the kill's port serve.
        served_beside = False
        while True:
            before = sent("Tick", "1")
            waiting = WaitingPoll(page)
            if not served_beside:
                time.sleep(0.1)
                self.assertEqual(other.poll(), READY)
                self.assertEqual(call(PORTS[2], "GET", "/handshake").body, HANDSHAKE)
                self.assertFalse(waiting.done(), "the waiting poll answered before the others")
                served_beside = True
            body = waiting.result()
            if body != NULL:
                break
            self.assertFalse(before, "the poll answered null although the event was there")
        self.assertEqual(body, event("Tick", "1"))
        self.assertFalse(before, "the poll did not wait for the frame")

        # A page that hangs up while its poll waits takes no event with it.
        self.assertTrue(wait_until(lambda: sent("Tick", "1"), 5))
        time.sleep(2.6)
        with contextlib.closing(socket.create_connection(("127.0.0.1", PORTS[3]))) as gone:
            gone.sendall(f"GET /{page.queue} HTTP/1.0\r\nOrigin: {ORIGIN}\r\n\r\n".encode())
            time.sleep(0.1)
        self.assertEqual(page.poll_until(event("Tick", "2")), [READY, event("Tick", "1"), event("Tick", "2")])

        # The kill is answered while a poll waits, and the waiting poll gets the game's end.
        waiting = WaitingPoll(page)
        time.sleep(0.1)
        reply = call(PORTS[2], "POST", "/killgame")
        self.assertEqual((reply.status, reply.body), (200, b""), reply)
        self.assertIn(waiting.result(), (GONE, NULL))
        if page.replies[-1] == NULL:
            self.assertEqual(page.poll_until(GONE)[-1], GONE)

        # Polls that still wait when the listeners stop are closed, and nothing hangs.
        ends = []

        def keep_polling():
            while True:
                try:
                    ends.append(exchange(PORTS[0], f"GET /{page.queue} HTTP/1.0\r\nOrigin: {ORIGIN}\r\n\r\n".encode()))
                except OSError as e:
                    ends.append(e)
                    return

        poller = threading.Thread(target=keep_polling, daemon=True)
        poller.start()
        self.assertEnded(helper, [SUPERVISING, CHILD_DIED])
        poller.join(15)
        self.assertFalse(poller.is_alive(), "a poll still waits after the helper ended")
        self.assertTrue(all(isinstance(e, OSError) or e == b"" or e.endswith(b"\r\n\r\nnull") for e in ends), ends)

    def test_a_flood_reaches_the_page_whole_and_in_order(self):
        helper = self.start(self.delayed("sleep 300\nflood 1000 Tick blue\nclose\nsleep 200000\n"))
        page = Page(self, "flood")
        page.first_poll(self.s)
        events = page.poll_until(GONE, timeout=300)
        self.assertEqual(events, [READY] + [event("Tick", str(i), "blue") for i in range(1, 1001)] + [GONE])
        self.assertEnded(helper, [SUPERVISING, LINK_ENDED])

    def test_the_page_kills_the_game(self):
        for verb in ("GET", "POST"):
            with self.subTest(verb), self.own_session():
                helper = self.start(self.delayed("sleep 200000\n"))
                page = Page(self, "killer")
                page.first_poll(self.s)
                self.assertEqual(page.poll_until(READY), [READY])
                self.assertEqual(len(self.s.game_pids()), 1)
                self.assertSupervising(helper)

                reply = call(PORTS[2], verb, "/killgame")
                self.assertEqual((reply.status, reply.body), (200, b""), reply)
                self.assertIn(("Access-Control-Allow-Origin", ORIGIN), reply.fields)
                self.assertEqual(page.poll_until(GONE), [READY, GONE])
                self.assertTrue(wait_until(lambda: not self.s.game_pids(), 15), "the game still runs")

                # The game is gone, the listeners still serve: nothing left to kill.
                self.assertTrue(helper.wait_for(SHUTDOWN[1], 15), helper.stderr())
                for again in ("GET", "POST"):
                    reply = call(PORTS[0], again, "/killgame")
                    self.assertEqual((reply.status, reply.body), (404, NOT_FOUND_BODY), reply)

                err = self.assertEnded(helper, [SUPERVISING, CHILD_DIED])
                self.assertEqual(err.count("KillChildProcess: Unable to kill child, PID is 0\n"), 2, err)
                self.assertNotIn("exit", [r["event"] for r in self.s.game_records()])  # killed, not ended
                self.assertOnePlayedGame()

    def test_the_game_goes_away(self):
        def crash():
            pids = self.s.game_pids()
            self.assertEqual(len(pids), 1)
            os.kill(pids[0], signal.SIGKILL)

        # name, rest of the script, what happens once the page has READY, the
        # supervision's end, events after READY, whether the game still runs
        cases = [
            ("crash", "sleep 200000\n", crash, CHILD_DIED, [GONE], False),
            ("closed pipe", "sleep 300\nframe Before 1\nclose\nsleep 200000\n", None, LINK_ENDED,
             [event("Before", "1"), GONE], True),
            ("garbage on the pipe", "sleep 300\nframe Before 1\nraw 58 45 07 00 00 00 00\nsleep 300\n"
             "frame After 2\nsleep 200000\n", None, LINK_ENDED, [event("Before", "1"), GONE], True),
        ]
        for name, rest, action, ending, after_ready, game_stays in cases:
            with self.subTest(name), self.own_session():
                helper = self.start(self.delayed(rest))
                page = Page(self, "page")
                page.first_poll(self.s)
                page.poll_until(READY)
                if action:
                    self.assertSupervising(helper)
                    action()
                self.assertEqual(page.poll_until(GONE), [READY] + after_ready)
                self.assertEnded(helper, [SUPERVISING, ending])
                self.assertEqual(bool(self.s.game_pids()), game_stays)  # the helper never stops the game

    def test_a_game_that_never_opens_its_pipe(self):
        started = time.monotonic()
        helper = self.start("sleep 200000\n")
        page = Page(self, "waiting")
        self.assertEqual(page.poll(), NULL)
        self.assertEqual(helper.wait(180), 0, helper.stderr())
        self.assertGreaterEqual(time.monotonic() - started, 120)
        err = helper.stderr()
        self.assertLinesInOrder(err, [CONNECT_TIMED_OUT] + SHUTDOWN)
        self.assertTrue(err.endswith(SHUTDOWN[-1]), err)
        self.assertNotIn("GantryThread: Connected", err)
        self.assertNotIn(SUPERVISING, err)
        self.assertEqual(len(self.s.game_pids()), 1)

    def test_a_second_active_instance_leaves_the_first_alone(self):
        first = self.start(self.delayed("sleep 200000\n"))
        page = Page(self, "page")
        page.first_poll(self.s)
        page.poll_until(READY)

        started = time.monotonic()
        rc, err = self.s.run_helper(["--activate-webhelper", "second"], timeout=60)
        self.assertEqual(rc, 0, err)
        self.assertRegex(err, r"\nwWinMain: Could not become mutex owner \d+\n\Z")
        self.assertGreaterEqual(time.monotonic() - started, 4.5)
        self.assertOnePlayedGame()

        self.assertTrue(first.running(), first.stderr())
        for port in PORTS:
            self.assertEqual(call(port, "GET", "/handshake").body, HANDSHAKE)
        self.assertEqual(call(PORTS[1], "POST", "/killgame").status, 200)
        self.assertEqual(page.poll_until(GONE), [READY, GONE])
        self.assertEnded(first, [SUPERVISING, CHILD_DIED])

    def test_a_second_active_instance_fails_when_the_first_ends_during_its_wait(self):
        first = self.start(self.delayed("sleep 200000\n"))
        page = Page(self, "page")
        page.first_poll(self.s)
        page.poll_until(READY)

        second = self.s.start_helper(["--activate-webhelper", "second"])
        started = time.monotonic()
        time.sleep(0.5)  # waiting for the guard
        self.assertEqual(call(PORTS[0], "POST", "/killgame").status, 200)
        self.assertEnded(first, [SUPERVISING, CHILD_DIED])
        self.assertLess(time.monotonic() - started, 4.5, "the first ended after the second's wait")
        # The guard came free during the wait: a failure, not a second game.
        self.assertEqual(second.wait(30), 0, second.stderr())
        self.assertRegex(second.stderr(), r"\nwWinMain: Could not become mutex owner \d+\n\Z")
        self.assertOnePlayedGame()
        self.assertEqual(self.s.game_pids(), [])

    @unittest.skipIf(ON_WINE, "a Windows GUI program under Wine receives no SIGINT")
    def test_sigint_stops_only_the_listeners(self):
        helper = self.start(self.delayed("sleep 2000\nframe AfterSignal 1\nsleep 300\nexit\n"))
        page = Page(self, "page")
        page.first_poll(self.s)
        page.poll_until(READY)
        helper.send_signal(signal.SIGINT)
        self.assertTrue(helper.wait_for("WebServerThread: Exiting\n", 10), helper.stderr())
        self.assertFalse(any(answers(p) for p in PORTS))
        self.assertTrue(helper.running())
        # The game link goes on, and the game's end still ends the helper in order.
        err = self.assertEnded(helper, [SUPERVISING, CHILD_DIED])
        self.assertLinesInOrder(err, ["WebServerThread: Exiting\n", "PostEventToQueue: Posting event AfterSignal\n",
                                      CHILD_DIED])
        self.assertFalse(any(pid_alive(p) for p in self.s.game_pids()))


if __name__ == "__main__":
    unittest.main()
