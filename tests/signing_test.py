"""The release step, signed with a throwaway certificate and unsigned.

A self-signed certificate made here by openssl signs savelink.exe through
the release step (cpack) of a Windows build of its own. The signed program
must verify against that certificate, equal the unsigned build byte for
byte once its signature is removed, and be the one in the zip. Bad input
(a wrong password, a missing file, an expired certificate, a time-stamp
server that does not answer) must stop the step with a clear line and
leave no zip anywhere.

Usage: signing_test.py SOURCE_DIR
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

SOURCE = None
ZIP_NAME = None


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        global ZIP_NAME
        cls.work = tempfile.mkdtemp(prefix="savelink-signing-")
        cls.build = os.path.join(cls.work, "build")
        subprocess.run(["cmake", "-S", SOURCE, "-B", cls.build, "-G", "Ninja",
                        "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(SOURCE, "cmake", "mingw-w64-x86_64.cmake"),
                        "-DCMAKE_BUILD_TYPE=Release", "-DSAVELINK_TESTS=OFF"],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", cls.build], check=True, stdout=subprocess.DEVNULL)
        cls.exe = os.path.join(cls.build, "savelink.exe")
        with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
            version = [line for line in f if line.startswith("project(savelink VERSION ")][0].split()[2]
        ZIP_NAME = "savelink-%s-win64.zip" % version
        cls.certificates = os.path.join(cls.work, "certificates")
        os.mkdir(cls.certificates)
        cls.pfx = cls.certificate("good", days="2")
        cls.expired = cls.certificate("expired", days="-1")

    @classmethod
    def certificate(cls, name, days):
        key = os.path.join(cls.certificates, name + ".key")
        pem = os.path.join(cls.certificates, name + ".pem")
        request = os.path.join(cls.certificates, name + ".csr")
        pfx = os.path.join(cls.certificates, name + ".pfx")
        quiet = {"check": True, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
        subprocess.run(["openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                        "-subj", "/CN=savelink test signer", "-out", request], **quiet)
        subprocess.run(["openssl", "x509", "-req", "-in", request, "-signkey", key, "-days", days, "-out", pem,
                        "-extfile", "/dev/stdin"], input=b"extendedKeyUsage=codeSigning\n", check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", pem, "-out", pfx,
                        "-passout", "pass:right horse"], **quiet)
        return pfx

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def cpack(self, **variables):
        env = {k: v for k, v in os.environ.items() if not k.startswith("SAVELINK_SIGN_")}
        env.update(variables)
        return subprocess.run(["cpack"], cwd=self.build, env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=300)

    def zips(self):
        found = []
        for folder, _, names in os.walk(self.build):
            if "_CPack_Packages" in folder:
                continue
            found += [os.path.join(folder, n) for n in names if n.endswith(".zip")]
        return found

    def test_unsigned_release_says_so_and_ships_the_build(self):
        result = self.cpack()
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = [l for l in result.stdout.splitlines() if l.startswith("savelink release:")]
        self.assertEqual(len(lines), 1, result.stdout)
        self.assertIn("unsigned", lines[0])
        with zipfile.ZipFile(os.path.join(self.build, ZIP_NAME)) as archive:
            self.assertEqual(archive.read("savelink.exe"), read(self.exe))
        self.assertFalse(os.path.exists(os.path.join(self.build, "release")))

    def test_signed_release_verifies_and_is_the_build_without_its_signature(self):
        result = self.cpack(SAVELINK_SIGN_PFX=self.pfx, SAVELINK_SIGN_PASSWORD="right horse")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        release = os.path.join(self.build, "release")
        signed = os.path.join(release, "savelink.exe")
        self.assertNotEqual(read(signed), read(self.exe))

        verify = subprocess.run(["osslsigncode", "verify", "-in", signed, "-CAfile",
                                 os.path.join(self.certificates, "good.pem")], capture_output=True, text=True)
        self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
        self.assertIn("Text description: savelink\n", verify.stdout)  # the product name

        stripped = os.path.join(self.work, "stripped.exe")
        subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", stripped], check=True,
                       stdout=subprocess.DEVNULL)
        self.assertEqual(read(stripped), read(self.exe))

        for zip_path in (os.path.join(release, ZIP_NAME), os.path.join(self.build, ZIP_NAME)):
            with zipfile.ZipFile(zip_path) as archive:
                self.assertEqual(archive.read("savelink.exe"), read(signed), zip_path)

        with open(os.path.join(release, "SHA256SUMS")) as f:
            sums = f.read().splitlines()
        self.assertEqual(sums[:2], ["%s  %s" % (sha256(os.path.join(release, ZIP_NAME)), ZIP_NAME),
                                    "%s  savelink.exe" % sha256(signed)])
        self.assertTrue(sums[2].startswith(sha256(self.exe) + "  savelink.exe (unsigned build"), sums[2])
        self.assertIn("not a download", sums[2])
        self.assertFalse(os.path.exists(os.path.join(self.build, "SHA256SUMS")), "names the unsigned build")

    def test_bad_input_stops_the_release_with_a_clear_line_and_no_zip(self):
        cases = [
            ("wrong password", {"SAVELINK_SIGN_PFX": self.pfx, "SAVELINK_SIGN_PASSWORD": "wrong"},
             "the password does not open"),
            ("missing file", {"SAVELINK_SIGN_PFX": os.path.join(self.work, "none.pfx"),
                              "SAVELINK_SIGN_PASSWORD": "right horse"}, "does not exist"),
            ("expired certificate", {"SAVELINK_SIGN_PFX": self.expired, "SAVELINK_SIGN_PASSWORD": "right horse"},
             "has expired"),
            ("failing time-stamp server", {"SAVELINK_SIGN_PFX": self.pfx, "SAVELINK_SIGN_PASSWORD": "right horse",
                                           "SAVELINK_SIGN_TIMESTAMP_URL": "http://127.0.0.1:9/"},
             "with a time stamp from http://127.0.0.1:9/"),
        ]
        for name, variables, says in cases:
            with self.subTest(name):
                # A release from before must not survive as if it were this one.
                self.assertEqual(self.cpack().returncode, 0)
                result = self.cpack(**variables)
                self.assertNotEqual(result.returncode, 0, result.stdout)
                lines = [l for l in (result.stdout + result.stderr).splitlines()
                         if l.startswith("savelink release: not signed")]
                self.assertEqual(len(lines), 1, result.stdout + result.stderr)
                self.assertIn(says, lines[0])
                self.assertEqual(self.zips(), [])


if __name__ == "__main__":
    SOURCE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
