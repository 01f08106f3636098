"""Signs savelink.exe with Authenticode for a release, when a certificate is
given, and writes what is shipped into a folder of its own.

    SAVELINK_SIGN_PFX            a PKCS#12 file with the certificate and key
    SAVELINK_SIGN_PASSWORD       its password
    SAVELINK_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server (optional)

Without the first two it says in one line that the release is unsigned and
leaves the release as it is. With them, the zip CPack is about to copy out
(STAGED_ZIP) holds the signed program instead, and OUTPUT_DIR/release gets
what is shipped: the signed savelink.exe, the zip, and SHA256SUMS, whose
last line gives the unsigned program's hash under a name no download has,
for comparing a rebuild. OUTPUT_DIR/SHA256SUMS, which names the unsigned
build, is removed.

On any failure nothing is shipped: the staged zip and any earlier one are
removed, so CPack stops; the reason is printed on one line; the status is 1.

Usage: sign_release.py UNSIGNED_EXE STAGED_ZIP OUTPUT_DIR SOURCE_DATE_EPOCH
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

PRODUCT = "savelink"
UNSIGNED_NAME = "savelink.exe (unsigned build, for comparing with a rebuild; not a download)"


class SigningError(Exception):
    pass


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def run(command, failure, env=None):
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True, env=env)
    if result.returncode != 0:
        detail = (result.stderr or result.stdout).strip().splitlines()
        raise SigningError(failure + (": " + detail[-1] if detail else ""))
    return result.stdout


def certificate(pfx, password, scratch):
    """The certificate in the PKCS#12 file, checked to open and be in date."""
    if not os.path.isfile(pfx):
        raise SigningError("the certificate file %s does not exist" % pfx)
    if not os.access(pfx, os.R_OK):
        raise SigningError("the certificate file %s cannot be read" % pfx)
    env = dict(os.environ, SAVELINK_PFX_PASSWORD=password)
    pem = os.path.join(scratch, "certificate.pem")
    result = subprocess.run(["openssl", "pkcs12", "-in", pfx, "-nokeys", "-clcerts", "-passin",
                             "env:SAVELINK_PFX_PASSWORD", "-out", pem], stdin=subprocess.DEVNULL,
                            capture_output=True, text=True, env=env)
    if result.returncode != 0:
        if "mac verify failure" in result.stderr.lower() or "invalid password" in result.stderr.lower():
            raise SigningError("the password does not open the certificate file %s" % pfx)
        raise SigningError("the certificate file %s is not a PKCS#12 file that opens with this password" % pfx)
    if subprocess.run(["openssl", "x509", "-in", pem, "-noout", "-checkend", "0"],
                      capture_output=True).returncode != 0:
        end = run(["openssl", "x509", "-in", pem, "-noout", "-enddate"], "the certificate cannot be read")
        raise SigningError("the certificate in %s has expired (%s)" % (pfx, end.strip()))
    return pem


def sign(unsigned, signed, pfx, password, timestamp_url, scratch):
    password_file = os.path.join(scratch, "password")
    with open(os.open(password_file, os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
        f.write(password)
    command = ["osslsigncode", "sign", "-pkcs12", pfx, "-readpass", password_file, "-n", PRODUCT,
               "-h", "sha256", "-in", unsigned, "-out", signed]
    if timestamp_url:
        command += ["-ts", timestamp_url]
    failure = "osslsigncode could not sign %s" % unsigned
    if timestamp_url:
        failure += " with a time stamp from %s" % timestamp_url
    run(command, failure)
    # The promise of a release: without its signature it is the build anyone
    # can repeat.
    stripped = os.path.join(scratch, "stripped.exe")
    run(["osslsigncode", "remove-signature", "-in", signed, "-out", stripped],
        "the signature cannot be removed again")
    with open(stripped, "rb") as a, open(unsigned, "rb") as b:
        if a.read() != b.read():
            raise SigningError("without its signature the signed program differs from the unsigned build")


def main():
    unsigned, staged_zip, output, epoch = sys.argv[1:5]
    pfx = os.environ.get("SAVELINK_SIGN_PFX", "")
    password = os.environ.get("SAVELINK_SIGN_PASSWORD", "")
    timestamp_url = os.environ.get("SAVELINK_SIGN_TIMESTAMP_URL", "")
    if not pfx and not password:
        shutil.rmtree(os.path.join(output, "release"), ignore_errors=True)
        print("savelink release: unsigned (set SAVELINK_SIGN_PFX and SAVELINK_SIGN_PASSWORD to sign it)")
        return 0

    zip_name = os.path.basename(staged_zip)
    release = os.path.join(output, "release")
    # What an earlier release step left names the unsigned build.
    shutil.rmtree(release, ignore_errors=True)
    for stale in (os.path.join(output, zip_name), os.path.join(output, "SHA256SUMS")):
        if os.path.exists(stale):
            os.remove(stale)
    scratch = tempfile.mkdtemp(prefix="savelink-sign-")
    try:
        if not pfx or not password:
            raise SigningError("signing needs both SAVELINK_SIGN_PFX and SAVELINK_SIGN_PASSWORD")
        certificate(pfx, password, scratch)
        os.makedirs(release)
        signed = os.path.join(release, "savelink.exe")
        sign(unsigned, signed, pfx, password, timestamp_url, scratch)
        normalize = os.path.join(os.path.dirname(os.path.abspath(__file__)), "normalize_zip.py")
        run([sys.executable, normalize, staged_zip, epoch, "savelink.exe=" + signed, staged_zip],
            "the zip with the signed program cannot be made")
        shipped_zip = os.path.join(release, zip_name)
        shutil.copyfile(staged_zip, shipped_zip)
        with open(os.path.join(release, "SHA256SUMS"), "w") as f:
            f.write("%s  %s\n" % (sha256(shipped_zip), zip_name))
            f.write("%s  %s\n" % (sha256(signed), "savelink.exe"))
            f.write("%s  %s\n" % (sha256(unsigned), UNSIGNED_NAME))
        print("savelink release: signed; the files to ship are in %s" % release)
        return 0
    except (SigningError, OSError) as error:
        # Never a zip whose program is unsigned after signing was asked for.
        shutil.rmtree(release, ignore_errors=True)
        if os.path.exists(staged_zip):
            os.remove(staged_zip)
        print("savelink release: not signed, and no release made: %s" % error, file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
