"""Runs a Windows test program on Wine, in a fresh WINEPREFIX of its own and
with a scratch folder for it, both removed afterwards whatever happened.

The scratch folder, given to the program as SAVELINK_TEST_FOLDER (a Windows
path on Wine's Z: drive), holds "folder", "other", "file" and "unix-link", a
symbolic link made from the Linux side to "folder".

Usage: run_on_wine.py PROGRAM [ARGUMENT...]
"""
import os
import shutil
import subprocess
import sys
import tempfile

from wine_prefix import WINE, Prefix


def main():
    program = os.path.abspath(sys.argv[1])
    folder = tempfile.mkdtemp(prefix="savelink-wine-scratch-")
    prefix = None
    try:
        os.makedirs(os.path.join(folder, "folder"))
        os.makedirs(os.path.join(folder, "other"))
        with open(os.path.join(folder, "file"), "w") as f:
            f.write("not a folder")
        os.symlink(os.path.join(folder, "folder"), os.path.join(folder, "unix-link"))
        prefix = Prefix(SAVELINK_TEST_FOLDER="Z:" + folder.replace("/", "\\"))
        # The program's output goes straight to ctest's log.
        result = subprocess.run([WINE, program, *sys.argv[2:]], env=prefix.env, stdin=subprocess.DEVNULL,
                                timeout=600)
        return result.returncode
    finally:
        if prefix is not None:
            prefix.close()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
