"""Every starting state of the save folders, on a real file system.

For each combination of what stands at the link-side "Saves", at the target
"Saves" and at the publisher folder, the real program runs twice in a fresh
home. After each run every file that was there before is still there, with
the same bytes, at its own place; the status is 0 exactly when the fixed
message was printed and the link path opens the target folder; otherwise an
error stands on standard error.

Usage: starting_states.py SAVELINK
"""
import itertools
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

PROGRAM = None
FIXED = "saves fixed!!!!!!!!!!!!!!!!!!!\n"

LINK_SIDE = ["nothing", "empty folder", "folder with files", "link to the target",
             "link to a folder with files", "link to an empty folder", "dangling link", "link to a file", "file"]
TARGET_SIDE = ["nothing", "empty folder", "folder with files", "file", "link to the link side"]


class Home:
    def __init__(self, root):
        self.root = root
        self.home = os.path.join(root, "home")
        self.elsewhere = os.path.join(root, "elsewhere")
        self.milestone = os.path.join(self.home, ".config", "Milestone")
        self.link = os.path.join(self.milestone, "Corvandelhurst Rally EV", "Saves")
        self.target = os.path.join(self.milestone, "Corvandelhurst Rally EVO", "Saves")
        os.makedirs(os.path.join(self.home, ".config"))
        os.makedirs(self.elsewhere)

    def write(self, path, data):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def arrange(self, publisher, link_side, target_side):
        if publisher == "file":
            self.write(self.milestone, b"not a folder")
            return
        os.makedirs(os.path.dirname(self.link))
        os.makedirs(os.path.dirname(self.target))
        if link_side == "empty folder":
            os.mkdir(self.link)
        elif link_side == "folder with files":
            self.write(os.path.join(self.link, "ev1.sav"), b"EV progress \x00\xff")
        elif link_side == "link to the target":
            os.symlink(self.target, self.link)
        elif link_side == "link to a folder with files":
            self.write(os.path.join(self.elsewhere, "saves", "old.sav"), b"old progress")
            os.symlink(os.path.join(self.elsewhere, "saves"), self.link)
        elif link_side == "link to an empty folder":
            os.makedirs(os.path.join(self.elsewhere, "empty"))
            os.symlink(os.path.join(self.elsewhere, "empty"), self.link)
        elif link_side == "dangling link":
            os.symlink(os.path.join(self.elsewhere, "gone"), self.link)
        elif link_side == "link to a file":
            self.write(os.path.join(self.elsewhere, "notes.txt"), b"notes")
            os.symlink(os.path.join(self.elsewhere, "notes.txt"), self.link)
        elif link_side == "file":
            self.write(self.link, b"a file named Saves")

        if target_side == "empty folder":
            os.mkdir(self.target)
        elif target_side == "folder with files":
            self.write(os.path.join(self.target, "evo1.sav"), b"EVO progress")
        elif target_side == "file":
            self.write(self.target, b"a file named Saves")
        elif target_side == "link to the link side":
            os.symlink(self.link, self.target)

    def files(self):
        """Every regular file by its own path, links not followed."""
        found = {}
        for folder, _, names in os.walk(self.root):
            for name in names:
                path = os.path.join(folder, name)
                if stat.S_ISREG(os.lstat(path).st_mode):
                    with open(path, "rb") as f:
                        found[path] = f.read()
        return found

    def run(self, program, prefix=()):
        return subprocess.run([*prefix, program], env={"PATH": "/usr/bin:/bin", "HOME": self.home},
                              cwd=self.root, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=60)

    def link_opens_target(self):
        try:
            return os.path.isdir(self.target) and os.path.samefile(self.link, self.target)
        except OSError:
            return False


class StartingStates(unittest.TestCase):
    def check_runs(self, h, runs=2, prefix=(), program=None):
        before = h.files()
        results = []
        for run in range(runs):
            result = h.run(program or PROGRAM, prefix)
            where = "run %d: status %d, out %r, err %r" % (run + 1, result.returncode, result.stdout,
                                                          result.stderr)
            after = h.files()
            for path, data in before.items():
                self.assertEqual(after.get(path), data, "%s: %s lost or changed" % (where, path))
            fixed = result.returncode == 0
            self.assertEqual(fixed, result.stdout.startswith(FIXED) and h.link_opens_target(), where)
            if fixed:
                self.assertEqual(result.stderr, "", where)
            else:
                self.assertEqual(result.returncode, 1, where)
                self.assertNotIn("saves fixed", result.stdout, where)
                self.assertTrue(result.stderr.startswith("savelink: "), where)
                self.assertEqual(result.stderr.count("\n"), 1, where)
            self.assertIn("Press any key to continue", result.stdout, where)
            results.append(result)
        return results

    def test_every_combination(self):
        combinations = [("folder", link, target) for link, target in itertools.product(LINK_SIDE, TARGET_SIDE)]
        combinations.append(("file", "nothing", "nothing"))
        for publisher, link_side, target_side in combinations:
            with self.subTest(publisher=publisher, link=link_side, target=target_side):
                with tempfile.TemporaryDirectory(prefix="savelink-states-") as root:
                    h = Home(root)
                    h.arrange(publisher, link_side, target_side)
                    first, second = self.check_runs(h)
                    # Fixed stays fixed.
                    if first.returncode == 0:
                        self.assertEqual(second.returncode, 0)

    def test_the_plain_cases_end_as_expected(self):
        """Where the outcome is plain, it is the one a player expects."""
        expected = {
            ("nothing", "nothing"): 0, ("empty folder", "folder with files"): 0,
            ("link to the target", "empty folder"): 0, ("dangling link", "nothing"): 0,
            ("link to an empty folder", "nothing"): 0,
            # The player's link leads to saves: for the game they are there.
            ("link to a folder with files", "nothing"): 1,
            ("folder with files", "nothing"): 1, ("file", "nothing"): 1, ("link to a file", "nothing"): 1,
            ("nothing", "file"): 1,
        }
        for (link_side, target_side), status in expected.items():
            with self.subTest(link=link_side, target=target_side):
                with tempfile.TemporaryDirectory(prefix="savelink-states-") as root:
                    h = Home(root)
                    h.arrange("folder", link_side, target_side)
                    self.assertEqual(h.run(PROGRAM).returncode, status)

    def test_what_stands_in_the_way_is_named(self):
        cases = [
            ("file", "nothing", "{milestone} is not a folder, so the save folders below it could not be made"),
            ("folder", "link to a folder with files",
             "{link} is a link to {elsewhere}/saves, which holds files, so it was left as it is"),
        ]
        for publisher, link_side, says in cases:
            with self.subTest(publisher=publisher, link=link_side):
                with tempfile.TemporaryDirectory(prefix="savelink-states-") as root:
                    h = Home(root)
                    h.arrange(publisher, link_side, "nothing")
                    result = h.run(PROGRAM)
                    self.assertEqual(result.returncode, 1)
                    expected = says.format(milestone=h.milestone, link=h.link,
                                           elsewhere=os.path.realpath(h.elsewhere))
                    self.assertTrue(result.stderr.startswith("savelink: " + expected), result.stderr)
                    if link_side.startswith("link"):
                        self.assertTrue(os.path.islink(h.link))

    def test_a_roaming_folder_the_user_may_not_write_to(self):
        with tempfile.TemporaryDirectory(prefix="savelink-readonly-") as root:
            h = Home(root)
            config = os.path.join(h.home, ".config")
            if os.geteuid() == 0:
                # Root may write anywhere: run as nobody, with a copy of the
                # program that nobody can reach.
                program = os.path.join(root, "savelink")
                shutil.copy(PROGRAM, program)
                for path in (root, h.home, config):
                    os.chmod(path, 0o755)
                prefix = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
            else:
                program = PROGRAM
                os.chmod(config, 0o555)
                prefix = []
            try:
                (result,) = self.check_runs(h, runs=1, prefix=prefix, program=program)
            finally:
                os.chmod(config, 0o755)
            self.assertEqual(result.returncode, 1)
            self.assertEqual(os.listdir(config), [])


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
