"""The game link of the real helper against the demo game: frames become events, and
the game going away (closed pipe, or bytes that are no frame) ends the link and the
helper. Runs the passive mode, which needs no HTTP listener."""
import os
import re
import unittest

from harness import BlackBoxTest, PIPE_NAME, GAME_EXE

PIPE_PATH = "\\\\.\\pipe\\" + PIPE_NAME


class GameLinkTest(BlackBoxTest):
    def run_with_script(self, script):
        path = os.path.join(self.s.dir, "script.txt")
        with open(path, "w") as f:
            f.write(script)
        rc, err = self.s.run_helper(["--level", "3"], extra_env={"TOVEL3_DEMO_SCRIPT": path}, timeout=90)
        starts = self.s.game_starts()
        self.assertEqual(len(starts), 1, err)
        return rc, err, starts[0]["pid"]

    def assertLinkLines(self, err, pid, middle):
        self.assertLinesInOrder(
            err,
            [f'GantryThread: Looking for game on pipe "{PIPE_PATH}"\n',
             f"GantryThread: Connected to pipe {PIPE_PATH}\n",
             f"GantryThread: Pid of {GAME_EXE} is {pid}\n",
             "PostEventToQueue: Posting event StateChanged\n"]
            + middle
            + ["PostEventToQueue: Posting event StateChanged\n",
               "GantryThread: Signaling Gantry shutdown event\n",
               "wWinMain: DONE! Gantry shutdown event signaled\n"])
        self.assertEqual(err.count("GantryThread: Connected to pipe"), 1)

    def check_game_going_away(self, ending):
        rc, err, pid = self.run_with_script(
            "sleep 500\nframe LobbyJoined alice  lobby_3\nframe ScoreChanged 1 0\n" + ending)
        self.assertEqual(rc, 0, err)
        self.assertLinkLines(err, pid, [
            "GenericGantryCommand::execute: LobbyJoined alice  lobby_3\n",
            "PostEventToQueue: Posting event LobbyJoined\n",
            "GenericGantryCommand::execute: ScoreChanged 1 0\n",
            "PostEventToQueue: Posting event ScoreChanged\n"])
        self.assertEqual(err.count("PostEventToQueue: Posting event StateChanged\n"), 2, err)

    def test_closed_pipe_ends_the_link_after_the_last_frames(self):
        self.check_game_going_away("close\n")

    def test_bytes_that_are_no_frame_end_the_link(self):
        self.check_game_going_away("raw 58 45 07 00 00 00 00\n")

    def test_a_flood_arrives_whole_and_in_order(self):
        rc, err, pid = self.run_with_script("wait-client\nflood 3000 Tick blue\nsleep 200\nclose\n")
        self.assertEqual(rc, 0, err)
        numbers = [int(n) for n in re.findall(r"GenericGantryCommand::execute: Tick (\d+) blue\n", err)]
        self.assertEqual(numbers, list(range(1, 3001)))
        self.assertLinkLines(err, pid, ["GenericGantryCommand::execute: Tick 3000 blue\n"])


if __name__ == "__main__":
    unittest.main()
