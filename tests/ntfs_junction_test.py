"""The junction data savelink builds, set on a real NTFS volume through
ntfs-3g, an implementation of NTFS reparse points that nobody here wrote.

ntfs-3g refuses reparse data whose lengths disagree (EINVAL), and follows a
junction only if its substitute name is a well-formed "\\??\\X:\\..." path.
For the drive letter it needs a symbolic link ".NTFS-3G/X:" at the volume's
root that leads to the mount point. A save placed in the target must then be
read through the junction.

Needs root, /dev/fuse, mkntfs and ntfs-3g; without them it says so and is
skipped (exit 77), except under CI=true, where it fails.

Usage: ntfs_junction_test.py JUNCTION_DATA_TOOL
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TOOL = None
SKIP = 77


def missing_requirement():
    if os.geteuid() != 0:
        return "not root"
    if not os.path.exists("/dev/fuse"):
        return "no /dev/fuse"
    for program in ("mkntfs", "ntfs-3g"):
        if shutil.which(program) is None and not os.path.exists("/usr/sbin/" + program) \
                and not os.path.exists("/sbin/" + program):
            return "no " + program
    return None


def program(name):
    for folder in ("/usr/sbin", "/sbin", "/usr/bin", "/bin"):
        if os.path.exists(os.path.join(folder, name)):
            return os.path.join(folder, name)
    return name


class Volume:
    """A small NTFS image mounted through FUSE; unmounted and removed on exit."""

    def __enter__(self):
        self.work = tempfile.mkdtemp(prefix="savelink-ntfs-")
        self.image = os.path.join(self.work, "volume.img")
        self.mount_point = os.path.join(self.work, "mnt")
        os.mkdir(self.mount_point)
        self.mounted = False
        try:
            with open(self.image, "wb") as f:
                f.truncate(8 * 1024 * 1024)
            subprocess.run([program("mkntfs"), "-F", "-Q", "-q", self.image], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
            self.mount()
            # Where ntfs-3g finds drive C: when it follows an absolute junction.
            os.mkdir(self.path(".NTFS-3G"))
            os.symlink(self.mount_point, self.path(".NTFS-3G", "C:"))
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def mount(self):
        subprocess.run([program("ntfs-3g"), self.image, self.mount_point], check=True, timeout=60)
        self.mounted = True

    def unmount(self):
        if self.mounted:
            subprocess.run(["umount", self.mount_point], check=True, timeout=60)
            self.mounted = False

    def remount(self):
        # The kernel keeps the plain folder it saw before the reparse data
        # was set; only a fresh mount shows the junction.
        self.unmount()
        self.mount()

    def path(self, *names):
        return os.path.join(self.mount_point, *names)

    def __exit__(self, *_):
        try:
            self.unmount()
        except (subprocess.SubprocessError, OSError):
            subprocess.run(["umount", "-l", self.mount_point], timeout=60)
        shutil.rmtree(self.work, ignore_errors=True)
        return False


def junction_data(target):
    return subprocess.run([TOOL, target], check=True, capture_output=True, timeout=30).stdout


class JunctionOnNtfs(unittest.TestCase):
    def test_a_save_in_the_target_reads_through_the_junction(self):
        folders = ["Saves", "Zo\u00eb \U0001F3CE\\Saves"]
        with Volume() as volume:
            for number, folder in enumerate(folders):
                target = "C:\\" + folder
                names = folder.split("\\")
                os.makedirs(volume.path(*names))
                with open(volume.path(*names, "slot1.sav"), "w") as f:
                    f.write("progress %d" % number)
                junction = volume.path("junction%d" % number)
                os.mkdir(junction)
                data = junction_data(target)
                # EINVAL here means ntfs-3g found the lengths wrong.
                os.setxattr(junction, "system.ntfs_reparse_data", data)
                self.assertEqual(os.getxattr(junction, "system.ntfs_reparse_data"), data)

            volume.remount()

            for number, folder in enumerate(folders):
                junction = volume.path("junction%d" % number)
                with self.subTest(target=folder):
                    self.assertTrue(os.path.islink(junction), "ntfs-3g does not see a junction")
                    with open(os.path.join(junction, "slot1.sav")) as f:
                        self.assertEqual(f.read(), "progress %d" % number)
                    self.assertTrue(os.path.samefile(junction, volume.path(*folder.split("\\"))))

    def test_ntfs_3g_refuses_data_whose_length_is_wrong(self):
        """The check above means something: a data length 2 bytes too large is refused."""
        with Volume() as volume:
            os.mkdir(volume.path("junction"))
            data = bytearray(junction_data("C:\\Saves"))
            data[4] += 2
            with self.assertRaises(OSError):
                os.setxattr(volume.path("junction"), "system.ntfs_reparse_data", bytes(data))


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    reason = missing_requirement()
    if reason is not None:
        print("ntfs junction test skipped: %s" % reason)
        sys.exit(1 if os.environ.get("CI") == "true" else SKIP)
    unittest.main(verbosity=2)
