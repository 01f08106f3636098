"""The Linux program on a real pseudo-terminal, as a player at a console.

The fixed message comes first, then the pause prompt; one key press, without
Enter, ends the run with status 0; the terminal's settings are as they were.

Usage: terminal_test.py SAVELINK
"""
import os
import pty
import select
import sys
import tempfile
import termios
import time
import unittest

PROGRAM = None
FIXED = b"saves fixed!!!!!!!!!!!!!!!!!!!"
PROMPT = b"Press any key to continue . . . "
TIMEOUT = 20


def read_until(fd, wanted, seen=b""):
    deadline = time.monotonic() + TIMEOUT
    while wanted not in seen:
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise AssertionError("timed out waiting for %r; saw %r" % (wanted, seen))
        ready, _, _ = select.select([fd], [], [], remaining)
        if ready:
            try:
                chunk = os.read(fd, 1024)
            except OSError:  # the other side closed
                chunk = b""
            if not chunk:
                raise AssertionError("output ended before %r; saw %r" % (wanted, seen))
            seen += chunk
    return seen


def read_to_end(fd):
    seen = b""
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.5)
        if ready:
            try:
                chunk = os.read(fd, 1024)
            except OSError:
                return seen
            if not chunk:
                return seen
            seen += chunk
    raise AssertionError("the run did not end; saw %r" % seen)


class OnATerminal(unittest.TestCase):
    def test_message_then_prompt_then_one_key_ends_the_run(self):
        with tempfile.TemporaryDirectory(prefix="savelink-tty-") as root:
            before = os.path.join(root, "before")
            after = os.path.join(root, "after")
            status_file = os.path.join(root, "status")
            # The shell shares the program's terminal, so it can read the
            # settings just before and just after the run.
            script = ('stty -g > "$1"; "$2"; echo $? > "$4"; stty -g > "$3"')
            pid, fd = pty.fork()
            if pid == 0:
                os.execve("/bin/sh", ["sh", "-c", script, "sh", before, PROGRAM, after, status_file],
                          {"PATH": "/usr/bin:/bin", "HOME": root, "TERM": "dumb"})
            try:
                seen = read_until(fd, PROMPT)
                self.assertIn(FIXED, seen)
                self.assertLess(seen.index(FIXED), seen.index(PROMPT))
                # Wait for the program to take the terminal out of line mode:
                # a key typed before then would wait for an Enter.
                deadline = time.monotonic() + TIMEOUT
                while termios.tcgetattr(fd)[3] & termios.ICANON:
                    self.assertLess(time.monotonic(), deadline, "the terminal stayed in line mode")
                    time.sleep(0.01)
                os.write(fd, b"x")
                rest = read_to_end(fd)
            finally:
                _, wait_status = os.waitpid(pid, 0)
                os.close(fd)
            self.assertEqual(os.waitstatus_to_exitcode(wait_status), 0)
            with open(status_file) as f:
                self.assertEqual(f.read().strip(), "0", "savelink's own status")
            self.assertNotIn(b"x", rest, "the key was echoed")
            with open(before) as f, open(after) as g:
                self.assertEqual(f.read(), g.read(), "the terminal's settings changed")


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
