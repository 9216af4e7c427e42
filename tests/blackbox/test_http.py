"""The HTTP listeners of the real helper, seen through raw sockets so that every byte
counts: the replies of the endpoints and the origin policy, requests that arrive in
pieces or carry a body, the bounds on heads, time and connections, a port held by
another program, SIGINT, and a waiting poll that holds up nothing. Runs on both builds
(Linux, and Windows under Wine), in test mode with --activate-webhelper."""
import os
import signal
import socket
import threading
import time
import unittest

from harness import ON_WINE, PORTS, Session, wait_until
from loopback import answers, exchange, read_to_end

ORIGIN = "http://localhost:8080"
HANDSHAKE = b'{"app_id": "MARBLE-GAME","helper_version": "1.6.1"}'
ACTIVE = {"TEST_MODE": "1"}
ARGS = ["--activate-webhelper"]


def page(title, heading):
    return f"<html><head><title>{title}</title></head><body><h1>{heading}</h1></body></html>".encode()


def canned(line, body):
    return (f"HTTP/1.0 {line}\r\nContent-Length: {len(body)}\r\nContent-Type: text/html\r\n\r\n").encode() + body


BAD_REQUEST = canned("400 Bad Request", page("Bad Request", "400 Bad Request"))
FORBIDDEN = canned("403 Forbidden", page("Forbidden", "403 Forbidden"))
NOT_FOUND = canned("404 Not Found", page("Not Found", "404 Not Found"))
SERVER_ERROR = canned("500 Internal Server Error", page("Internal Server Error", "500 Internal Server Error"))


def ok(body, origin=ORIGIN):
    return (f"HTTP/1.0 200 OK\r\nContent-Length: {len(body)}\r\nContent-Type: text/plain\r\n"
            f"Access-Control-Allow-Origin: {origin}\r\n\r\n").encode() + body


def request(path, verb="GET", origin=ORIGIN, extra=""):
    head = f"{verb} {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n"
    if origin is not None:
        head += f"Origin: {origin}\r\n"
    return (head + extra + "\r\n").encode()


def connect(port, timeout=10):
    return socket.create_connection(("127.0.0.1", port), timeout=timeout)


def start_serving_helper(session):
    return session.start_helper(ARGS, ACTIVE)


class SharedHelper(unittest.TestCase):
    """One helper for the cases that do not change it; each port has its own use so that
    a case's connections cannot count against another's."""
    PORT = PORTS[0]       # plain requests
    OTHER = PORTS[1]      # requests beside a waiting poll
    CROWDED = PORTS[2]    # the connection bound
    SLOW = PORTS[3]       # the head time-out

    @classmethod
    def setUpClass(cls):
        cls.s = Session()
        cls.helper = start_serving_helper(cls.s)
        if not wait_until(lambda: all(answers(p) for p in PORTS), 60, 0.2):
            err = cls.helper.stderr()
            cls.s.close()
            raise AssertionError("the helper's ports do not answer; stderr:\n" + err)

    @classmethod
    def tearDownClass(cls):
        cls.s.close()

    def test_handshake_on_every_port(self):
        for port in PORTS:
            with self.subTest(port=port):
                self.assertEqual(exchange(port, request("/handshake")), ok(HANDSHAKE))
        self.assertEqual(len(HANDSHAKE), 51)

    def test_origin_policy(self):
        cases = [
            ("http://localhost:80", ok(HANDSHAKE, "http://localhost")),
            ("http://localhost/page", ok(HANDSHAKE, "http://localhost")),
            ("https://127.0.0.1:3000", ok(HANDSHAKE, "https://127.0.0.1:3000")),
            ("http://evil.example@localhost", ok(HANDSHAKE, "http://localhost")),
            (None, FORBIDDEN),
            ("null", FORBIDDEN),
            ("file:///C:/page.html", FORBIDDEN),
            ("localhost:8080", FORBIDDEN),
            ("http://LOCALHOST", FORBIDDEN),
            ("http://127.0.0.2", FORBIDDEN),
            ("http://localhost@evil.example", FORBIDDEN),
            ("http://localhost.evil.example", FORBIDDEN),
        ]
        for origin, reply in cases:
            with self.subTest(origin=origin):
                self.assertEqual(exchange(self.PORT, request("/handshake", origin=origin)), reply)
        # Only the first Origin field counts, and only under that exact name.
        self.assertEqual(exchange(self.PORT, request("/handshake", extra="Origin: http://localhost\r\n")),
                         ok(HANDSHAKE))
        self.assertEqual(exchange(self.PORT, request("/handshake", origin="http://evil.example",
                                                     extra=f"Origin: {ORIGIN}\r\n")), FORBIDDEN)
        self.assertEqual(exchange(self.PORT, request("/handshake", origin=None, extra=f"origin: {ORIGIN}\r\n")),
                         FORBIDDEN)

    def test_refusals(self):
        cases = [
            ("favicon", request("/favicon.ico"), NOT_FOUND),
            ("killgame without a game", request("/killgame"), NOT_FOUND),
            ("POST killgame without a game", request("/killgame", "POST"), NOT_FOUND),
            ("POST of another name", request("/handshake", "POST"), BAD_REQUEST),
            ("no slash", request("handshake"), BAD_REQUEST),
            ("HEAD", request("/handshake", "HEAD"), SERVER_ERROR),
            ("PUT", request("/handshake", "PUT"), SERVER_ERROR),
            ("OPTIONS", request("/handshake", "OPTIONS"), SERVER_ERROR),
            ("OPTIONS from a refused origin", request("/handshake", "OPTIONS", origin="http://evil.example"),
             FORBIDDEN),
            ("bad escape", request("/a%zz/handshake"), BAD_REQUEST),
            ("escape cut short", request("/handshake%"), BAD_REQUEST),
            ("escape of one byte", request("/handshake%4"), BAD_REQUEST),
            ("bad escape without origin", request("/a%zz", origin=None), BAD_REQUEST),
            ("bare line feeds", b"GET /handshake HTTP/1.0\n\n", BAD_REQUEST),
            ("lower-case version", b"GET /handshake http/1.0\r\n\r\n", BAD_REQUEST),
        ]
        for name, data, reply in cases:
            with self.subTest(name):
                started = time.monotonic()
                self.assertEqual(exchange(self.PORT, data), reply)
                # None of these polls a queue (a poll takes about a second).
                self.assertLess(time.monotonic() - started, 0.9)
        err = self.helper.stderr()
        self.assertIn("WebGetRequestHandler: Got call /killgame\nKillChildProcess: Unable to kill child, PID is 0\n", err)
        self.assertIn("WebPostRequestHandler: Got call /handshake\n"
                      "WebPostRequestHandler: Got POST for command handshake\n", err)
        self.assertIn("WebGetRequestHandler: Got call /favicon.ico\n", err)
        self.assertNotIn("Polling queue favicon.ico", err)

    def test_target_reaches_the_handler_undecoded(self):
        self.assertEqual(exchange(self.PORT, request("/x+%41/handshake")), ok(HANDSHAKE))
        self.assertIn("WebGetRequestHandler: Got call /x+%41/handshake\n", self.helper.stderr())

    def test_head_in_pieces(self):
        data = request("/handshake")
        with connect(self.PORT) as sock:
            for i in range(0, len(data), 9):
                sock.sendall(data[i:i + 9])
                time.sleep(0.05)
                if i + 9 < len(data):
                    sock.setblocking(False)
                    try:
                        self.assertEqual(sock.recv(100), b"", "answered before the head was complete")
                    except BlockingIOError:
                        pass
                    sock.setblocking(True)
            self.assertEqual(read_to_end(sock), ok(HANDSHAKE))

    def test_body_after_the_head_is_ignored(self):
        body = "x" * 100
        self.assertEqual(exchange(self.PORT, request("/killgame", "POST", extra="Content-Length: 100\r\n")
                                  + body.encode()), NOT_FOUND)
        self.assertEqual(exchange(self.PORT, request("/handshake") + b"\x00garbage\r\n\r\nGET / HTTP/1.0\r\n\r\n"),
                         ok(HANDSHAKE))

    def test_reply_arrives_whole_after_bytes_the_helper_never_reads(self):
        """A client that sends all it has (a large body, or a head far over the limit)
        before it reads gets its whole reply: no reset from the unread rest."""
        big = b"b" * (4 << 20)
        cases = (("body", request("/killgame", "POST", extra=f"Content-Length: {len(big)}\r\n") + big, NOT_FOUND),
                 ("head over the limit", request("/handshake", extra="X: ")[:-2] + big + b"\r\n\r\n", BAD_REQUEST))
        for what, data, reply in cases:
            with self.subTest(what):
                self.assertEqual(exchange(self.PORT, data, timeout=60), reply)

    def test_head_of_64_kib(self):
        def head(size):
            start = request("/handshake", extra="X: ")[:-2]  # without the closing empty line
            return start + b"a" * (size - len(start) - 4) + b"\r\n\r\n"
        self.assertEqual(exchange(self.PORT, head(65536)), ok(HANDSHAKE))
        self.assertEqual(exchange(self.PORT, head(65537)), BAD_REQUEST)

    def test_poll_of_a_new_name_answers_null_after_about_a_second(self):
        started = time.monotonic()
        self.assertEqual(exchange(self.PORT, request("/a/b/fresh-queue")), ok(b"null"))
        self.assertGreaterEqual(time.monotonic() - started, 0.9)
        self.assertIn("WebGetRequestHandler: Polling queue fresh-queue\n", self.helper.stderr())

    def test_a_waiting_poll_holds_up_nothing(self):
        """While one page's poll waits for an event, every other request is answered, on
        its port and on the others; the waiting poll still answers null after a second."""
        with connect(self.OTHER) as poll:
            started = time.monotonic()
            poll.sendall(request("/waiting-queue"))
            time.sleep(0.1)
            for port, path, verb, reply in ((self.OTHER, "/handshake", "GET", ok(HANDSHAKE)),
                                            (self.PORT, "/handshake", "GET", ok(HANDSHAKE)),
                                            (self.PORT, "/killgame", "POST", NOT_FOUND)):
                self.assertEqual(exchange(port, request(path, verb)), reply, (port, path))
            poll.setblocking(False)
            with self.assertRaises(BlockingIOError, msg="the waiting poll answered before the others"):
                poll.recv(1)
            poll.setblocking(True)
            self.assertEqual(read_to_end(poll), ok(b"null"))
        self.assertGreaterEqual(time.monotonic() - started, 0.9)

    def test_connection_bound(self):
        # Connections that have begun a head are taken at once; silent ones may be taken
        # only after a second (Linux), so the bound is reached when both kinds have been.
        head = request("/handshake")
        for begun in (b"GET ", b""):
            with self.subTest(begun=begun):
                idle = []
                try:
                    for _ in range(256):
                        sock = connect(self.CROWDED)
                        sock.sendall(begun)
                        idle.append(sock)
                    # The next one is beyond the bound, and goes unanswered.
                    self.assertTrue(wait_until(lambda: exchange(self.CROWDED, head) == b"", 10, 0.2))
                    self.assertTrue(self.helper.running())
                    # Another port has its own bound, and an admitted connection is still served.
                    self.assertEqual(exchange(self.PORT, head), ok(HANDSHAKE))
                    first = idle.pop(0)
                    first.sendall(head[len(begun):])
                    self.assertEqual(read_to_end(first), ok(HANDSHAKE))
                    first.close()
                finally:
                    for sock in idle:
                        sock.close()
                self.assertTrue(wait_until(lambda: exchange(self.CROWDED, head) == ok(HANDSHAKE), 10, 0.2))

    def test_unfinished_head_is_closed_after_30_seconds(self):
        with connect(self.SLOW) as silent, connect(self.SLOW) as partial:
            partial.sendall(b"GET /handshake HTTP/1.0\r\nOrigin: http://loc")
            started = time.monotonic()
            self.assertEqual(read_to_end(partial, timeout=60), b"")
            self.assertEqual(read_to_end(silent, timeout=60), b"")
            waited = time.monotonic() - started
        self.assertGreaterEqual(waited, 25)
        self.assertLess(waited, 45)
        self.assertEqual(exchange(self.SLOW, request("/handshake")), ok(HANDSHAKE))


class OwnHelper(unittest.TestCase):
    """Cases that need a helper of their own."""

    def setUp(self):
        self.s = Session()
        self.addCleanup(self.s.close)

    def test_port_taken_by_another_program(self):
        holder = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.addCleanup(holder.close)
        # Reuse only past the earlier runs' closed connections; a listener stays exclusive.
        holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        holder.bind(("127.0.0.1", 5219))
        holder.listen(1)
        helper = start_serving_helper(self.s)
        others = [p for p in PORTS if p != 5219]
        self.assertTrue(wait_until(lambda: all(answers(p) for p in others), 60, 0.2), helper.stderr())
        for port in others:
            self.assertEqual(exchange(port, request("/handshake")), ok(HANDSHAKE))
        err = helper.stderr()
        self.assertEqual(err.count("http::server::server::server: Binding of port"), 1, err)
        line = [l for l in err.splitlines() if "Binding of port" in l][0]
        self.assertRegex(line, r"^http::server::server::server: Binding of port 5219 failed with error .*:\d+$")

    @unittest.skipIf(ON_WINE, "a Windows GUI program under Wine receives no SIGINT")
    def test_sigint_stops_the_listeners_not_the_process(self):
        helper = start_serving_helper(self.s)
        self.assertTrue(wait_until(lambda: all(answers(p) for p in PORTS), 60, 0.2), helper.stderr())
        idle = connect(PORTS[0])
        self.addCleanup(idle.close)
        idle.sendall(b"GET /handshake HTTP/1.0\r\n")
        waiting = connect(PORTS[1])
        self.addCleanup(waiting.close)
        waiting.sendall(request("/waiting-queue"))
        time.sleep(0.2)
        helper.send_signal(signal.SIGINT)
        self.assertEqual(read_to_end(idle), b"")
        self.assertEqual(read_to_end(waiting), b"")
        self.assertTrue(helper.wait_for("WebServerThread: Exiting\n"), helper.stderr())
        self.assertFalse(any(answers(p) for p in PORTS))
        time.sleep(1)
        self.assertTrue(helper.running())

    def test_events_reach_raw_queue_names_and_killgame_ends_the_game(self):
        helper = start_serving_helper(self.s)
        self.assertTrue(wait_until(lambda: answers(PORTS[0]), 60, 0.2), helper.stderr())
        # The first polls create the queues; the game link's ready event reaches each.
        for path in ("/q?x=1", "/my%20queue"):
            self.assertEqual(exchange(PORTS[0], request(path)), ok(b"null"))
        script = os.path.join(self.s.dir, "script.txt")
        with open(script, "w") as f:
            f.write("wait-client\nsleep 120000\n")
        self.s.start_game(extra_env={"TOVEL3_DEMO_SCRIPT": script})
        self.assertTrue(helper.wait_for("PostEventToQueue: Posting event StateChanged\n", 30), helper.stderr())
        ready = b"MARBLE-GAME\tStateChanged\tREADY" + b"\t" * 8
        self.assertEqual(exchange(PORTS[1], request("/q?x=1")), ok(ready))
        self.assertEqual(exchange(PORTS[2], request("/a/my%20queue")), ok(ready))
        self.assertEqual(exchange(PORTS[0], request("/q")), ok(b"null"))
        self.assertEqual(len(self.s.game_pids()), 1)

        self.assertEqual(exchange(PORTS[0], request("/killgame", "POST")), ok(b""))
        self.assertTrue(wait_until(lambda: not self.s.game_pids(), 15), "the game still runs")


class HalfClosedPollsAndHostNames(unittest.TestCase):
    """A client that shuts its sending side after the request, a page that leaves while
    its poll waits, and host names that hold underscores."""

    def setUp(self):
        self.s = Session()
        self.addCleanup(self.s.close)
        self.helper = start_serving_helper(self.s)
        self.assertTrue(wait_until(lambda: all(answers(p) for p in PORTS), 60, 0.2), self.helper.stderr())

    def test_host_names_below_a_web_domain(self):
        cases = [
            ("http://my_page.tovelgames.example", ok(HANDSHAKE, "http://my_page.tovelgames.example")),
            ("https://a_b.c_d.marbleplay.example", ok(HANDSHAKE, "https://a_b.c_d.marbleplay.example")),
            ("http://my_page.tovelgames.example:8080", FORBIDDEN),
            ("http://evil.example#.tovelgames.example", FORBIDDEN),
            ("http://evil.example%2F.tovelgames.example", FORBIDDEN),
        ]
        for origin, reply in cases:
            with self.subTest(origin=origin):
                self.assertEqual(exchange(PORTS[0], request("/handshake", origin=origin)), reply)

    def assertHalfClosedAnswer(self, reply, expected):
        """Under Wine a reset after the client's end of input cannot be told from a
        client that only stopped sending: the helper takes the end for a hang-up there
        and answers nothing, unless it answered before it saw the end."""
        if ON_WINE:
            self.assertTrue(reply == b"" or reply.startswith(b"HTTP/1.0 200 OK\r\n"), reply)
        else:
            self.assertEqual(reply, expected)

    def half_closed_poll(self, path):
        with connect(PORTS[1]) as sock:
            sock.sendall(request(path))
            sock.shutdown(socket.SHUT_WR)
            return read_to_end(sock)

    def test_half_closed_poll_is_answered_and_a_page_that_left_takes_nothing(self):
        started = time.monotonic()
        self.assertHalfClosedAnswer(self.half_closed_poll("/half"), ok(b"null"))
        if not ON_WINE:
            self.assertGreaterEqual(time.monotonic() - started, 0.9)
        self.assertEqual(exchange(PORTS[0], request("/left")), ok(b"null"))

        script = os.path.join(self.s.dir, "script.txt")
        with open(script, "w") as f:
            f.write("wait-client\nsleep 2500\nframe Ping one\nsleep 120000\n")
        self.s.start_game(extra_env={"TOVEL3_DEMO_SCRIPT": script})
        self.assertTrue(self.helper.wait_for("PostEventToQueue: Posting event StateChanged\n", 30),
                        self.helper.stderr())
        ready_at = time.monotonic()  # Ping follows about 2.5 s later
        ready = ok(b"MARBLE-GAME\tStateChanged\tREADY" + b"\t" * 8)
        self.assertHalfClosedAnswer(self.half_closed_poll("/half"), ready)
        self.assertEqual(exchange(PORTS[0], request("/left")), ready)

        # A page polls /left and leaves half a second before Ping, while its poll would
        # still wait; a half-closed client's poll of /half waits when Ping comes.
        def leave():
            time.sleep(max(0.0, ready_at + 1.7 - time.monotonic()))
            with connect(PORTS[0]) as sock:
                sock.sendall(request("/left"))
                time.sleep(0.3)
        leaver = threading.Thread(target=leave)
        leaver.start()
        try:
            time.sleep(max(0.0, ready_at + 2.1 - time.monotonic()))
            ping = ok(b"MARBLE-GAME\tPing\tone" + b"\t" * 8)
            self.assertHalfClosedAnswer(self.half_closed_poll("/half"), ping)
        finally:
            leaver.join()
        self.assertIn("WebGetRequestHandler: Polling queue left\n", self.helper.stderr())
        # The page that left took nothing with it.
        self.assertEqual(exchange(PORTS[0], request("/left")), ping)

if __name__ == "__main__":
    unittest.main()
