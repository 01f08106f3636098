"""The Windows program: what the file is, and what it does on Wine.

Wine is a real Win32 implementation, but it makes neither symbolic links nor
junctions (its CreateSymbolicLinkW reports success and makes nothing). So the
runs below check that the message and the status agree with what stands on
disk, rather than expecting a link or a failure; they hold on a Wine that does
make links too.

Usage: wine_test.py SAVELINK_EXE RELEASE_ZIP
"""
import glob
import os
import re
import shutil
import struct
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile
import zlib

from wine_prefix import WINE, Prefix

EXE = None
ZIP = None
OBJDUMP = "x86_64-w64-mingw32-objdump"
FIXED = "saves fixed!!!!!!!!!!!!!!!!!!!\n"
# Both are "known DLLs": Windows never looks for them beside the program.
IMPORTS = {"kernel32.dll", "msvcrt.dll"}


def objdump(*arguments):
    return subprocess.run([OBJDUMP, *arguments, EXE], check=True, capture_output=True, text=True).stdout


def resource(type_id, name_id):
    """The bytes of a resource, read from the PE file's resource directory."""
    with open(EXE, "rb") as f:
        image = f.read()
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    resource_rva = struct.unpack_from("<I", image, optional + 112 + 2 * 8)[0]  # PE32+ directory 2

    def file_offset(rva):
        for i in range(sections):
            size, address, _, raw = struct.unpack_from("<IIII", image, optional + optional_size + 40 * i + 8)
            if address <= rva < address + size:
                return raw + rva - address
        raise ValueError("RVA outside every section")

    root = file_offset(resource_rva)

    def entry(directory, wanted):
        named, numbered = struct.unpack_from("<HH", image, directory + 12)
        for i in range(named + numbered):
            name, offset = struct.unpack_from("<II", image, directory + 16 + 8 * i)
            if wanted is None or name == wanted:
                return offset
        return None

    offset = entry(root, type_id)
    if offset is None or not offset & 0x80000000:
        return None
    offset = entry(root + (offset & 0x7FFFFFFF), name_id)
    if offset is None or not offset & 0x80000000:
        return None
    offset = entry(root + (offset & 0x7FFFFFFF), None)  # any language
    data_rva, size = struct.unpack_from("<II", image, root + offset)
    start = file_offset(data_rva)
    return image[start:start + size]


def decode_dib(image, size):
    """The BGRA pixels of a 32-bit icon bitmap, after checking its layout."""
    header, width, height, planes, bits = struct.unpack_from("<IiiHH", image, 0)
    assert (header, width, height, planes, bits) == (40, size, 2 * size, 1, 32), (header, width, height, bits)
    mask = ((size + 31) // 32) * 4 * size
    assert len(image) == 40 + 4 * size * size + mask, len(image)
    return image[40:40 + 4 * size * size]


def decode_png(image, size):
    """The RGBA pixels of a PNG icon, unfiltered (filter 0 or 1 to 4)."""
    position, chunks = 8, {}
    while position < len(image):
        length, kind = struct.unpack_from(">I4s", image, position)
        data = image[position + 8:position + 8 + length]
        assert zlib.crc32(kind + data) == struct.unpack_from(">I", image, position + 8 + length)[0], kind
        chunks.setdefault(kind, b"")
        chunks[kind] += data
        position += 12 + length
    width, height, depth, colour = struct.unpack_from(">IIBB", chunks[b"IHDR"])
    assert (width, height, depth, colour) == (size, size, 8, 6)
    raw = zlib.decompress(chunks[b"IDAT"])
    stride = 4 * size
    assert len(raw) == size * (1 + stride)
    pixels = bytearray()
    previous = bytearray(stride)
    for row in range(size):
        kind = raw[row * (1 + stride)]
        line = bytearray(raw[row * (1 + stride) + 1:(row + 1) * (1 + stride)])
        for i in range(stride):
            left = line[i - 4] if i >= 4 else 0
            up = previous[i]
            corner = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                best = min((abs(p - left), 0, left), (abs(p - up), 1, up), (abs(p - corner), 2, corner))[2]
                line[i] = (line[i] + best) & 0xFF
            else:
                assert kind == 0, kind
        pixels += line
        previous = line
    return bytes(pixels)


class TheFile(unittest.TestCase):
    def test_imports_only_kernel32_and_msvcrt(self):
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", objdump("-p"))}
        self.assertEqual(dlls, IMPORTS)

    def test_address_space_protections_stay_on(self):
        with open(EXE, "rb") as f:
            image = f.read()
        pe = struct.unpack_from("<I", image, 0x3C)[0]
        magic, = struct.unpack_from("<H", image, pe + 24)
        self.assertEqual(magic, 0x20B, "not PE32+")
        characteristics, = struct.unpack_from("<H", image, pe + 24 + 70)
        for flag, name in ((0x20, "HIGH_ENTROPY_VA"), (0x40, "DYNAMIC_BASE"), (0x100, "NX_COMPAT")):
            self.assertTrue(characteristics & flag, name)

    def test_manifest_runs_as_invoker_on_windows_10_and_11(self):
        data = resource(24, 1)
        self.assertIsNotNone(data, "no manifest resource (type 24, id 1)")
        root = ElementTree.fromstring(data)
        levels = [e for e in root.iter() if e.tag.endswith("requestedExecutionLevel")]
        self.assertEqual(len(levels), 1)
        self.assertEqual(levels[0].get("level"), "asInvoker")
        self.assertEqual(levels[0].get("uiAccess"), "false")
        systems = [e.get("Id") for e in root.iter() if e.tag.endswith("supportedOS")]
        self.assertIn("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", systems)

    def test_version_resource_names_the_product(self):
        data = resource(16, 1)
        self.assertIsNotNone(data, "no version resource")
        text = data.decode("utf-16-le", errors="replace")
        for key in ("FileDescription", "ProductName", "FileVersion", "ProductVersion"):
            self.assertIn(key, text)
        self.assertIn("savelink", text)

    def test_icon_has_every_size_and_each_image_decodes(self):
        group = resource(14, 1)  # RT_GROUP_ICON: the first icon group
        self.assertIsNotNone(group, "no icon group")
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual((reserved, kind), (0, 1))
        sizes = []
        for i in range(count):
            width, height, _, _, _, bits, length, image_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            size = width or 256
            self.assertEqual((width or 256, height or 256, bits), (size, size, 32))
            image = resource(3, image_id)  # RT_ICON
            self.assertIsNotNone(image, "icon image %d missing" % image_id)
            self.assertEqual(len(image), length)
            pixels = decode_png(image, size) if image.startswith(b"\x89PNG\r\n\x1a\n") else decode_dib(image, size)
            alphas = {pixels[i] for i in range(3, len(pixels), 4)}
            self.assertTrue(0 in alphas and 255 in alphas, "size %d: no shape against a clear ground" % size)
            sizes.append(size)
        self.assertEqual(sorted(sizes), [16, 24, 32, 48, 256])

    def test_stripped_and_small(self):
        self.assertNotIn(".debug", objdump("-h"))
        self.assertLessEqual(os.path.getsize(EXE), 64 * 1024)

    def test_release_zip_holds_the_program_and_a_readme(self):
        with zipfile.ZipFile(ZIP) as archive:
            self.assertEqual(sorted(archive.namelist()), ["README.txt", "savelink.exe"])
            with open(EXE, "rb") as f:
                self.assertEqual(archive.read("savelink.exe"), f.read())
            readme = archive.read("README.txt").decode("ascii")
        self.assertIn("no administrator", readme)
        self.assertIn(FIXED.strip(), readme)


class OnWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = Prefix()
        cls.prefix = cls.wine.path
        cls.env = cls.wine.env
        roaming = [p for p in glob.glob(os.path.join(cls.prefix, "drive_c/users/*/AppData/Roaming"))
                   if "/users/Public/" not in p]
        assert len(roaming) == 1, roaming
        milestone = os.path.join(roaming[0], "Milestone")
        cls.milestone = milestone
        cls.link = os.path.join(milestone, "Corvandelhurst Rally EV", "Saves")
        cls.target = os.path.join(milestone, "Corvandelhurst Rally EVO", "Saves")

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()

    def setUp(self):
        shutil.rmtree(self.milestone, ignore_errors=True)

    def run_savelink(self, *arguments, env=None):
        result = subprocess.run([WINE, EXE, *arguments], env=env or self.env, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=300)
        return (result.returncode, result.stdout.decode("utf-8").replace("\r\n", "\n"),
                result.stderr.decode("utf-8").replace("\r\n", "\n"))

    def write(self, path, text):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)

    def read(self, path):
        with open(path) as f:
            return f.read()

    def assertHonest(self, status, out, err):
        """The message and the status say what stands on disk."""
        linked = os.path.islink(self.link) and os.path.samefile(self.link, self.target)
        self.assertIn("Press any key to continue", out, "the pause prompt")
        if linked:
            self.assertEqual(status, 0, err)
            self.assertTrue(out.startswith(FIXED), out)
            self.assertEqual(err, "")
        else:
            self.assertEqual(status, 1, out)
            self.assertNotIn("saves fixed", out)
            self.assertTrue(err.startswith("savelink: "), err)
        return linked

    def test_first_run_makes_both_trees_and_keeps_the_save(self):
        save = os.path.join(self.target, "slot1.sav")
        self.write(save, "progress")

        status, out, err = self.run_savelink()

        linked = self.assertHonest(status, out, err)
        self.assertEqual(self.read(save), "progress")
        self.assertTrue(os.path.isdir(os.path.dirname(self.link)))
        if not linked:
            # Nothing half-done: the empty folder stands at the link path again.
            self.assertTrue(os.path.isdir(self.link) and not os.path.islink(self.link))
            self.assertEqual(os.listdir(self.link), [])
            self.assertIn(self.link_as_windows_sees_it(), err)

    def test_saves_at_the_link_path_are_left_untouched(self):
        save = os.path.join(self.link, "slot1.sav")
        self.write(save, "progress")

        status, out, err = self.run_savelink()

        self.assertHonest(status, out, err)
        self.assertEqual(status, 1)
        self.assertIn("holds files", err)
        self.assertEqual(self.read(save), "progress")
        self.assertTrue(os.path.isdir(self.target))

    def test_arguments_change_nothing(self):
        plain = self.run_savelink()
        shutil.rmtree(self.milestone)
        with_arguments = self.run_savelink("/?", "--force", "C:\\elsewhere")
        self.assertEqual(with_arguments, plain)
        self.assertHonest(*with_arguments)
        # From an empty roaming folder, both trees are made.
        self.assertTrue(os.path.isdir(self.target))
        self.assertTrue(os.path.isdir(self.link))

    def test_second_run_with_a_link_standing_reports_fixed_and_removes_nothing(self):
        # Wine makes no links, but shows a Unix link as the folder it leads
        # to: both names then open one folder, as after a first run on Windows.
        save = os.path.join(self.target, "slot1.sav")
        self.write(save, "progress")
        os.makedirs(os.path.dirname(self.link))
        os.symlink(self.target, self.link)

        status, out, err = self.run_savelink()

        self.assertEqual((status, err), (0, ""))
        self.assertTrue(out.startswith(FIXED), out)
        self.assertTrue(os.path.islink(self.link))
        self.assertEqual(os.readlink(self.link), self.target)
        self.assertEqual(self.read(save), "progress")

    def test_without_shell32_nothing_is_changed_and_the_cause_is_named(self):
        # An empty override disables the DLL: LoadLibraryExW fails as it
        # would on a Windows whose shell32 is missing or blocked. The pause
        # cannot show: Wine's cmd.exe needs shell32 too.
        env = dict(self.env, WINEDLLOVERRIDES=self.env["WINEDLLOVERRIDES"] + ";shell32=")
        status, out, err = self.run_savelink(env=env)
        self.assertEqual(status, 1)
        self.assertNotIn("saves fixed", out)
        self.assertTrue(err.startswith("savelink: the Windows shell (shell32.dll in System32) could not be "
                                       "loaded ("), err)
        self.assertTrue(err.endswith(" nothing was changed.\n"), err)
        self.assertFalse(os.path.exists(self.milestone))

    def link_as_windows_sees_it(self):
        return "\\Milestone\\Corvandelhurst Rally EV\\Saves"


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    ZIP = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
