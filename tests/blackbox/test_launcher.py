"""The launcher seen from outside: start-up lines and run modes, the launch of the
game with the edited command line, test mode, the running check, the single-instance
guard, the refusal of a build without target strings, the exit pause and a failed
launch. Runs on both builds (Linux, and Windows under Wine)."""
import contextlib
import os
import re
import shutil
import signal
import socket
import subprocess
import time
import unittest

from harness import BlackBoxTest, GAME_EXE, HELPER, HELPER_UNTARGETED, ON_WINE, PORTS, Session

ACTIVE = "wWinMain: WebHelper is ACTIVE\n"
PASSIVE = "wWinMain: WebHelper is PASSIVE\n"
REST_OF_START = ("wWinMain: My version is 1.6.1\n"
                 "Pipe name: marble_gantry\n"
                 f"Executable: {GAME_EXE}\n"
                 "GameId: MARBLE-GAME\n")
TARGETED = REST_OF_START + "Game name: TOVEL3\n"
CHECKING = f"wWinMain: Making sure another {GAME_EXE} isn't running\n"
FOUND = "IsProcessesRunning: Found match, game is running\n"
NOT_FOUND = "IsProcessesRunning: Process32Next failed\nIsProcessesRunning: Found no match, game is not running\n"
BANNER = "\n\n================== DETATCHED! ===================\nPress any key to exit!\n"
PLEASE_DEFINE = ("wWinMain: Please define environment variables (prior to building):\n"
                 "TARGET_PIPE_NAME - Suffix name of Gantry pipe for game\n"
                 "TARGET_EXECUTABLE_NAME - Name of executable to proxy\n"
                 "TARGET_GAME_ID - GameId of game to proxy\n"
                 "TARGET_GAME_NAME - Short name of game to proxy. \"TOVEL3\"")


def launching(command_line):
    return f"Launching:\r\nBinary path: {GAME_EXE}\nCommand-line: {command_line}\nWorking dir : (null)\n"


@contextlib.contextmanager
def own_session():
    """A Session for one case of a table, so that its games and helpers never meet
    those of the next case."""
    s = Session()
    try:
        yield s
    finally:
        s.close()


class StartUp(BlackBoxTest):
    def test_start_up_lines_per_mode(self):
        # name, arguments, switches, expected start, whether it ends by itself
        cases = [
            ("launch-only", [], {}, PASSIVE + TARGETED, True),
            ("launch-only, always active", [], {"ALWAYS_ACTIVATE": "1"}, ACTIVE + TARGETED, True),
            ("active", ["--activate-webhelper"], {}, ACTIVE + TARGETED, False),
            ("passive", ["-game", "x"], {}, PASSIVE + TARGETED, False),
            ("always active with a command line", ["-game"], {"ALWAYS_ACTIVATE": "1"}, ACTIVE + TARGETED, False),
            ("switch in upper case", ["--ACTIVATE-WEBHELPER"], {}, PASSIVE + TARGETED, False),
            ("always-activate must be exactly 1", [], {"ALWAYS_ACTIVATE": "1 "}, PASSIVE + TARGETED, True),
            ("debug must be exactly 1: true", [], {"DEBUG": "true"}, PASSIVE + TARGETED, True),
            ("debug must be exactly 1: '1 '", [], {"DEBUG": "1 "}, PASSIVE + TARGETED, True),
        ]
        for name, args, switches, expected, ends in cases:
            with self.subTest(name), own_session() as s:
                switches = dict(switches, TEST_MODE="1")
                if ends:
                    rc, err = s.run_helper(args, switches)
                    self.assertEqual(rc, 0)
                    # test mode in the launch-only mode: nothing after the start-up lines
                    self.assertEqual(err, expected)
                else:
                    h = s.start_helper(args, switches)
                    self.assertTrue(h.wait_for(expected), h.stderr())
                    self.assertTrue(h.stderr().startswith(expected), h.stderr())
                    # test mode with a command line: no launch, and the connect wait has no end
                    time.sleep(1.5)
                    self.assertTrue(h.running())
                    self.assertNotIn(CHECKING, h.stderr())
                    h.kill()
                self.assertEqual(s.game_starts(), [])

    @unittest.skipIf(ON_WINE, "the Windows build shows the console, whose output is not ours to read")
    def test_debug_console_line(self):
        rc, err = self.s.run_helper([], {"DEBUG": "1", "TEST_MODE": "1"})
        self.assertEqual(rc, 0)
        self.assertEqual(err, PASSIVE + "wWinMain: Running debug mode, showing console\n" + TARGETED)

    def test_message_box_shows_the_edited_command_line(self):
        # The build without target strings ends right after the box, so the run ends.
        h = self.s.start_helper(["a", "--activate-webhelper", "b"], {"SHOW_MESSAGE": "1"},
                                extra_env={"DISPLAY": ""}, helper=HELPER_UNTARGETED)
        self.assertEqual(h.wait(30), 255, h.stderr())
        box = ""
        if not ON_WINE:  # no window system: the box is written to standard error
            box = (f"TovelWebHelper (pid: {h.pid})\n"
                   "Press CTRL + C to copy to clipboard\r\n"
                   "Version: 1.6.1\n"
                   f"Working directory: {os.path.realpath(os.path.dirname(HELPER))}\n"
                   "Command line: \na  b\n"
                   "\r\nPress OK to resume\n")
        self.assertEqual(h.stderr(), ACTIVE + box + REST_OF_START + "Game name: \n" + PLEASE_DEFINE)

    def test_untargeted_build_refuses_to_run(self):
        # the exit pause is not part of this way out
        rc, err = self.s.run_helper(["--activate-webhelper"], {"WAIT_ON_EXIT": "1"}, helper=HELPER_UNTARGETED)
        self.assertEqual(rc, 255)  # -1
        self.assertEqual(err, ACTIVE + REST_OF_START + "Game name: \n" + PLEASE_DEFINE)

    def test_wait_on_exit(self):
        rc, err = self.s.run_helper([], {"TEST_MODE": "1", "WAIT_ON_EXIT": "1"})  # no input: returns at once
        self.assertEqual(rc, 0)
        self.assertEqual(err, PASSIVE + TARGETED + BANNER)

        h = self.s.start_helper([], {"TEST_MODE": "1", "WAIT_ON_EXIT": "1"}, stdin=subprocess.PIPE)
        self.assertTrue(h.wait_for(BANNER), h.stderr())
        time.sleep(1)
        self.assertTrue(h.running(), "the pause must wait for a key")
        h.popen.stdin.write(b"x")
        h.popen.stdin.close()
        self.assertEqual(h.wait(10), 0)


@unittest.skipIf(ON_WINE, "a Windows program without a console has no signals to catch")
class Signals(BlackBoxTest):
    def test_interrupt_and_terminate_do_not_end_the_helper(self):
        h = self.s.start_helper(["-game"], {"TEST_MODE": "1"})
        self.assertTrue(h.wait_for(TARGETED), h.stderr())
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGINT):
            h.send_signal(sig)
            time.sleep(0.3)
            self.assertTrue(h.running(), f"ended by {sig!r}")
        h.kill()


class Launch(BlackBoxTest):
    def test_launch_only_launches_and_ends(self):
        rc, err = self.s.run_helper([])
        self.assertEqual(rc, 0)
        self.assertEqual(err, PASSIVE + TARGETED + CHECKING + NOT_FOUND + launching(""))
        starts = self.s.wait_for_game_start()
        self.assertTrue(starts)
        self.assertEqual(starts[0]["args"], [])

    def test_game_gets_the_edited_command_line(self):
        # name, helper arguments, switches, mode line, command line shown, game's arguments
        cases = [
            ("switch alone", ["--activate-webhelper"], {}, ACTIVE, "", []),
            ("switch between words", ["a", "--activate-webhelper", "b"], {}, ACTIVE, "a  b", ["a", "b"]),
            ("switch inside a word", ["pre--activate-webhelperpost"], {}, ACTIVE, "prepost", ["prepost"]),
            ("switch twice", ["--activate-webhelper", "--activate-webhelper"], {}, ACTIVE,
             " --activate-webhelper", ["--activate-webhelper"]),
            ("quoted arguments pass through", ["--activate-webhelper", "x y", 'say "hi"', ""], {}, ACTIVE,
             ' "x y" "say \\"hi\\"" ""', ["x y", 'say "hi"', ""]),
            ("passive", ["-server", "127.0.0.1"], {}, PASSIVE, "-server 127.0.0.1", ["-server", "127.0.0.1"]),
            ("always active, nothing removed", ["-game"], {"ALWAYS_ACTIVATE": "1"}, ACTIVE, "-game", ["-game"]),
        ]
        for name, args, switches, mode, shown, game_args in cases:
            with self.subTest(name), own_session() as s:
                h = s.start_helper(args, switches)
                starts = s.wait_for_game_start()
                self.assertTrue(starts, h.stderr())
                self.assertEqual(starts[0]["args"], game_args)
                self.assertTrue(h.wait_for(launching(shown)), h.stderr())
                self.assertTrue(h.stderr().startswith(mode + TARGETED + CHECKING), h.stderr())
                h.kill()

    def test_failed_launch(self):
        # A folder without the game, for the current directory and the program's own
        # (Windows also looks beside the program), and a search path without it.
        own = os.path.join(self.s.dir, os.path.basename(HELPER))
        shutil.copy2(HELPER, own)
        extra = {"DISPLAY": ""} if ON_WINE else {"PATH": "/usr/bin:/bin"}
        rc, err = self.s.run_helper([], extra_env=extra, cwd=self.s.dir, helper=own)
        self.assertEqual(rc, 0)
        self.assertTrue(err.startswith(PASSIVE + TARGETED + CHECKING + NOT_FOUND + launching("")), err)
        self.assertRegex(err, r"\nwWinMain: ShellExecute failed with -?\d+\Z")
        self.assertEqual(self.s.game_starts(), [])


class RunningCheck(BlackBoxTest):
    def test_game_already_running(self):
        game = self.s.start_game(["already"])
        self.assertTrue(self.s.wait_for_game_start())
        started = time.monotonic()
        rc, err = self.s.run_helper(["--activate-webhelper"], timeout=60)
        elapsed = time.monotonic() - started
        self.assertEqual(rc, 0)
        fatal = f"wWinMain: FATAL ERROR: Another {GAME_EXE} is already running, shutting down\n"
        self.assertEqual(err, ACTIVE + TARGETED + CHECKING + FOUND * 100 + fatal)
        self.assertGreaterEqual(elapsed, 9)  # 100 checks 100 ms apart
        self.assertTrue(game.running(), "the running game must not be disturbed")
        self.assertEqual(len(self.s.game_starts()), 1)

    def test_game_ends_during_the_checks(self):
        self.s.start_game(["leaving"], extra_env={"TOVEL3_DEMO_LIFETIME_MS": "3000"})
        self.assertTrue(self.s.wait_for_game_start())
        rc, err = self.s.run_helper([], timeout=60)
        self.assertEqual(rc, 0)
        self.assertRegex(err, "^" + re.escape(PASSIVE + TARGETED + CHECKING) + f"(?:{re.escape(FOUND)})+"
                         + re.escape(NOT_FOUND + launching("")) + r"\Z")
        self.assertLess(err.count(FOUND), 100)
        starts = self.s.wait_for_game_start(2)
        self.assertTrue(starts)
        self.assertEqual(starts[1]["args"], [])


class InstanceGuard(BlackBoxTest):
    def test_second_active_instance(self):
        first = self.s.start_helper(["--activate-webhelper", "first"], {"TEST_MODE": "1"})
        self.assertTrue(first.wait_for(TARGETED), first.stderr())
        time.sleep(1)  # the guard is taken right after the start-up lines

        started = time.monotonic()
        rc, err = self.s.run_helper(["--activate-webhelper", "second"], {"WAIT_ON_EXIT": "1"}, timeout=30)
        elapsed = time.monotonic() - started
        self.assertEqual(rc, 0)
        self.assertRegex(err, "^" + re.escape(ACTIVE + TARGETED) + r"wWinMain: Could not become mutex owner \d+\n"
                         + re.escape(BANNER) + r"\Z")
        self.assertGreaterEqual(elapsed, 4.5)  # it waited for the guard
        self.assertTrue(first.running(), "the first instance must not be touched")
        self.assertEqual(self.s.game_starts(), [])

        # A passive instance does not look at the guard.
        passive = self.s.start_helper(["second"])
        self.assertTrue(passive.wait_for(launching("second"), timeout=4), passive.stderr())
        self.assertTrue(self.s.wait_for_game_start())
        passive.kill()
        self.assertTrue(first.running())

    def test_guard_is_free_again_after_the_first_ends(self):
        first = self.s.start_helper(["--activate-webhelper"], {"TEST_MODE": "1"})
        self.assertTrue(first.wait_for(TARGETED), first.stderr())
        time.sleep(1)
        first.kill()
        second = self.s.start_helper(["--activate-webhelper"], {"TEST_MODE": "1"})
        self.assertTrue(second.wait_for(TARGETED), second.stderr())
        time.sleep(6)  # longer than the guard's wait
        self.assertTrue(second.running(), second.stderr())
        self.assertNotIn("mutex", second.stderr())


def accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=2):
            return True
    except OSError:
        return False


SHUTDOWN = ["wWinMain: Waiting for gantry thread shutdown\n",
            "wWinMain: DONE! gantry thread exited\n",
            "wWinMain: Waiting for webserver thread shutdown\n",
            "wWinMain: DONE! webserver thread exited\n"]


class Supervision(BlackBoxTest):
    """With a command line, the helper watches the game once the game link has found
    it, and shuts down in a fixed order when the game or its pipe goes."""

    def script(self, text):
        path = os.path.join(self.s.dir, "script.txt")
        with open(path, "w") as f:
            f.write(text)
        return {"TOVEL3_DEMO_SCRIPT": path}

    def test_game_ends(self):
        h = self.s.start_helper(["--activate-webhelper", "-x"],
                                extra_env=self.script("wait-client\nframe Hello there\nsleep 500\nexit\n"))
        self.assertTrue(h.wait_for(SHUTDOWN[1], timeout=30), h.stderr())
        link_ended = time.monotonic()
        # the listeners stay a while for the page's last polls
        self.assertTrue(accepts(PORTS[0]), "listener gone right after the game link")
        self.assertEqual(h.wait(30), 0, h.stderr())
        self.assertGreaterEqual(time.monotonic() - link_ended, 2.0)
        self.assertFalse(accepts(PORTS[0]), "listener still there after the end")
        err = h.stderr()
        self.assertLinesInOrder(err, [ACTIVE + TARGETED + CHECKING, launching(" -x"),
                                      "wWinMain: Waiting for child to shutdown\n",
                                      "wWinMain: DONE! Child process died\n"] + SHUTDOWN)
        self.assertTrue(err.endswith(SHUTDOWN[-1]), err)
        self.assertNotIn("timed out", err)

    def test_game_closes_its_pipe_and_stays(self):
        h = self.s.start_helper(["-x"], extra_env=self.script("wait-client\nsleep 300\nclose\n"))
        self.assertEqual(h.wait(30), 0, h.stderr())
        err = h.stderr()
        self.assertLinesInOrder(err, [PASSIVE + TARGETED + CHECKING, launching("-x"),
                                      "wWinMain: Waiting for child to shutdown\n",
                                      "wWinMain: DONE! Gantry shutdown event signaled\n"] + SHUTDOWN)
        self.assertTrue(err.endswith(SHUTDOWN[-1]), err)
        # the helper never stops the game
        self.assertEqual(len(self.s.game_pids()), 1)

    def test_test_mode_waits_for_a_game_started_by_other_means(self):
        h = self.s.start_helper(["--activate-webhelper"], {"TEST_MODE": "1"})
        self.assertTrue(h.wait_for(TARGETED), h.stderr())
        time.sleep(2)
        self.assertTrue(h.running())
        self.assertEqual(self.s.game_starts(), [])
        self.s.start_game(extra_env=self.script("wait-client\nsleep 300\nexit\n"))
        self.assertEqual(h.wait(30), 0, h.stderr())
        err = h.stderr()
        self.assertNotIn(CHECKING, err)
        self.assertLinesInOrder(err, [ACTIVE + TARGETED, "wWinMain: Waiting for child to shutdown\n",
                                      "wWinMain: DONE! Child process died\n"] + SHUTDOWN)


if __name__ == "__main__":
    unittest.main()
