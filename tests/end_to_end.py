"""Runs the real savelink program as a user would, in a temporary home."""
import os
import subprocess
import sys
import tempfile
import unittest

PROGRAM = None
FIXED = "saves fixed!!!!!!!!!!!!!!!!!!!\n"
PROMPT = "Press any key to continue . . . \n"


class Home:
    """A fresh home folder, with the paths savelink works on beneath it."""

    def __init__(self, root):
        self.root = root
        self.home = os.path.join(root, "home")
        os.mkdir(self.home)
        roaming = os.path.join(self.home, ".config")
        self.link = os.path.join(roaming, "Milestone", "Corvandelhurst Rally EV", "Saves")
        self.target = os.path.join(roaming, "Milestone", "Corvandelhurst Rally EVO", "Saves")

    def run(self, *arguments, env=None):
        if env is None:
            env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home}
        return subprocess.run([PROGRAM, *arguments], env=env, cwd=self.root,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=30)

    def write(self, path, text):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)


def read(path):
    with open(path) as f:
        return f.read()


class EndToEnd(unittest.TestCase):
    def setUp(self):
        self.temporary = tempfile.TemporaryDirectory(prefix="savelink-e2e-")
        self.h = Home(self.temporary.name)

    def tearDown(self):
        self.temporary.cleanup()

    def assertLinked(self):
        self.assertTrue(os.path.islink(self.h.link))
        self.assertEqual(os.readlink(self.h.link), self.h.target)
        self.assertTrue(os.path.isdir(self.h.target) and not os.path.islink(self.h.target))
        self.assertTrue(os.path.samefile(self.h.link, self.h.target))

    def assertFixed(self, result):
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, FIXED + PROMPT)
        self.assertEqual(result.stderr, "")
        self.assertLinked()

    def assertRefused(self, result):
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, PROMPT, "the pause runs, the fixed message does not")
        self.assertTrue(result.stderr.startswith("savelink: "), result.stderr)
        self.assertEqual(result.stderr.count("\n"), 1)

    def test_first_run_then_second_run_end_in_the_same_state(self):
        self.assertFixed(self.h.run())
        self.assertFixed(self.h.run())
        product = os.path.dirname(self.h.link)
        self.assertEqual(os.listdir(product), ["Saves"])

    def test_saves_in_the_target_stay_and_show_through_the_link(self):
        self.h.write(os.path.join(self.h.target, "slot1.sav"), "progress")
        self.assertFixed(self.h.run())
        self.assertEqual(read(os.path.join(self.h.link, "slot1.sav")), "progress")

    def test_saves_at_the_link_path_are_left_untouched(self):
        save = os.path.join(self.h.link, "slot1.sav")
        self.h.write(save, "progress")
        for _ in range(2):
            result = self.h.run()
            self.assertRefused(result)
            self.assertIn(self.h.link + " holds files", result.stderr)
            self.assertEqual(read(save), "progress")
            self.assertFalse(os.path.islink(self.h.link))
        self.assertTrue(os.path.isdir(self.h.target))

    def test_arguments_change_nothing(self):
        self.assertFixed(self.h.run("--help", "/?", "-n"))

    def test_without_a_home_nothing_is_made_anywhere(self):
        result = self.h.run(env={"PATH": os.environ.get("PATH", "/usr/bin:/bin")})
        self.assertRefused(result)
        self.assertIn("roaming application-data folder could not be found", result.stderr)
        self.assertEqual(sorted(os.listdir(self.h.root)), ["home"])
        self.assertEqual(os.listdir(self.h.home), [])

    def test_a_home_too_long_for_the_paths_changes_nothing(self):
        # A folder path may have 247 units; the longer save path adds 41 to
        # the roaming folder, so 206 units fit and 207 do not.
        for length, fits in ((206, True), (207, False)):
            base = os.path.join(self.h.root, "b%d" % length)
            config = base + "/" + "c" * (length - len(base) - 1)
            os.makedirs(config)
            env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "XDG_CONFIG_HOME": config}
            result = self.h.run(env=env)
            if fits:
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(os.listdir(config), ["Milestone"])
            else:
                self.assertRefused(result)
                self.assertIn("nothing was changed", result.stderr)
                self.assertEqual(os.listdir(config), [])

    def test_a_file_at_the_link_path_is_left_untouched(self):
        self.h.write(self.h.link, "not a folder")
        result = self.h.run()
        self.assertRefused(result)
        self.assertIn("is not a folder", result.stderr)
        self.assertEqual(read(self.h.link), "not a folder")

    def test_non_ascii_paths_are_shown_as_they_are(self):
        home = os.path.join(self.h.root, "Zo\u00eb")
        os.mkdir(home)
        self.h.write(os.path.join(home, ".config", "Milestone", "Corvandelhurst Rally EV", "Saves", "s"), "x")
        result = self.h.run(env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home})
        self.assertRefused(result)
        self.assertIn("Zo\u00eb/.config", result.stderr)


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
