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

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"


def main():
    program = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="savelink-wine-run-")
    prefix = os.path.join(work, "prefix")
    folder = os.path.join(work, "scratch")
    env = {
        "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
        "HOME": os.environ.get("HOME", "/root"),
        "WINEPREFIX": prefix,
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",  # no Mono or Gecko installers
        "SAVELINK_TEST_FOLDER": "Z:" + folder.replace("/", "\\"),
    }
    try:
        os.makedirs(os.path.join(folder, "folder"))
        os.makedirs(os.path.join(folder, "other"))
        with open(os.path.join(folder, "file"), "w") as f:
            f.write("not a folder")
        os.symlink(os.path.join(folder, "folder"), os.path.join(folder, "unix-link"))
        result = subprocess.run([WINE, program, *sys.argv[2:]], env=env, stdin=subprocess.DEVNULL,
                                timeout=600)
        return result.returncode
    finally:
        # Wine's server saves the prefix as it ends; it must be gone first.
        for command in ([WINE, "wineboot", "-k"], [WINESERVER, "-w"]):
            subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
