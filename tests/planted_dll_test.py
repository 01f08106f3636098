"""No DLL planted beside savelink.exe ever runs.

Windows looks for a DLL that is not a "known DLL" in the program's folder
first; a player's Downloads folder may hold anything. Wine prefers its own
builtin DLLs, so each run forces the search Windows does (native first) for
one name with WINEDLLOVERRIDES=<name>=n,b. The names are every DLL that a
traced run of savelink's own process loads (WINEDEBUG=+loaddll), less the
ones Wine cannot replace (ntdll, kernelbase, win32u) and the two imports
that are "known DLLs" (kernel32, msvcrt), plus every other DLL the program
imports. Windows never looks for a known DLL in the program's folder; Wine
does when told native first, and the program cannot start or runs the
planted copy, so those two say nothing about savelink. For each name alone, a small DLL of that name whose DllMain leaves
a marker file stands beside a copy of savelink.exe; no marker may appear,
and the run must reach its pause with an honest result.

Usage: planted_dll_test.py SAVELINK_EXE PLANTED_DLL_SOURCE
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from wine_prefix import Prefix

EXE = None
SOURCE = None
CC = "x86_64-w64-mingw32-gcc"
OBJDUMP = "x86_64-w64-mingw32-objdump"
FIXED = "saves fixed!!!!!!!!!!!!!!!!!!!"
LEFT_OUT = {"ntdll", "kernel32", "kernelbase", "msvcrt", "win32u"}
KNOWN_DLLS = {"kernel32", "msvcrt"}


def imported_dlls():
    dump = subprocess.run([OBJDUMP, "-p", EXE], check=True, capture_output=True, text=True).stdout
    return {name.lower()[:-4] for name in re.findall(r"DLL Name: (\S+)", dump)}


class PlantedDlls(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="savelink-planted-")
        cls.dll = os.path.join(cls.work, "planted.dll")
        subprocess.run([CC, "-shared", "-nostdlib", "-O2", "-Wl,-e,DllMain", "-o", cls.dll, SOURCE, "-lkernel32"],
                       check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def loaded_by_savelink(self):
        """The DLLs savelink's own process loads, from a traced run."""
        prefix = Prefix(parent=self.work)
        try:
            result = prefix.run([EXE], WINEDEBUG="+pid,+loaddll")
        finally:
            prefix.close()
        trace = result.stderr.decode("utf-8", "replace")
        loads = re.findall(r"^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L\"([^\"]+)\"", trace, re.M)
        own = [pid for pid, path in loads if path.lower().endswith("\\savelink.exe")]
        self.assertTrue(own, "the trace shows no savelink process")
        names = {re.split(r"[\\/]", path)[-1].lower() for pid, path in loads if pid == own[0]}
        return {name[:-4] for name in names if name.endswith(".dll")}

    def test_no_planted_dll_runs(self):
        names = sorted((self.loaded_by_savelink() - LEFT_OUT) | (imported_dlls() - KNOWN_DLLS))
        print("planted, one at a time: " + ", ".join(names))
        # What the first version imported directly must be among them.
        self.assertIn("shell32", names)
        for name in names:
            with self.subTest(dll=name):
                folder = tempfile.mkdtemp(prefix="downloads-", dir=self.work)
                program = os.path.join(folder, "savelink.exe")
                shutil.copy(EXE, program)
                shutil.copy(self.dll, os.path.join(folder, name + ".dll"))
                prefix = Prefix(parent=self.work, overrides=name + "=n,b")
                try:
                    result = prefix.run([program])
                finally:
                    prefix.close()
                out = result.stdout.decode("utf-8", "replace")
                err = result.stderr.decode("utf-8", "replace")
                markers = [f for f in os.listdir(folder) if f.endswith(".ran")]
                self.assertEqual(markers, [], "%s.dll beside the program was loaded" % name)
                self.assertIn("Press any key to continue", out, "no pause: %r %r" % (out, err))
                # Wine makes no links, so the honest end here is the error.
                if result.returncode == 0:
                    self.assertTrue(out.startswith(FIXED), out)
                else:
                    self.assertEqual(result.returncode, 1, err)
                    self.assertNotIn(FIXED, out)
                    self.assertTrue(err.startswith("savelink: "), err)


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    SOURCE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
