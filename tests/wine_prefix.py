"""A fresh WINEPREFIX for one test's runs on Wine, booted before the first
run (so that what a run prints is the program's own) and removed with
Wine's server gone (it saves the prefix as it ends), whatever happened."""
import os
import shutil
import subprocess
import tempfile

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"


class Prefix:
    def __init__(self, parent=None, overrides="", **extra):
        self.path = tempfile.mkdtemp(prefix="savelink-wine-", dir=parent)
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": os.environ.get("HOME", "/root"),
            "WINEPREFIX": self.path,
            "WINEDEBUG": "-all",
            # No Mono or Gecko installers.
            "WINEDLLOVERRIDES": "mscoree,mshtml=" + (";" + overrides if overrides else ""),
            **extra,
        }
        try:
            subprocess.run([WINE, "wineboot", "-i"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=True)
        except BaseException:
            self.close()
            raise

    def run(self, arguments, **extra):
        """Runs a Windows program with no input, its output captured."""
        return subprocess.run([WINE, *arguments], env=dict(self.env, **extra), stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=300)

    def close(self):
        for command in ([WINE, "wineboot", "-k"], [WINESERVER, "-w"]):
            subprocess.run(command, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)
        shutil.rmtree(self.path, ignore_errors=True)
