"""Rewrites a zip so that it holds nothing of when, where or by whom it was
made: entries in name order, each dated with the given time, fixed
permissions, no extra fields (CPack's zip writer stores the files' access and
change times, which no build can hold still).

Usage: normalize_zip.py ZIP SOURCE_DATE_EPOCH [NAME=FILE OUTPUT]

With NAME=FILE and OUTPUT, the entry NAME holds FILE's bytes instead, and
the result is written to OUTPUT, leaving ZIP as it is.
"""
import sys
import time
import zipfile


def main():
    path, epoch = sys.argv[1], int(sys.argv[2])
    replacement, output = (sys.argv[3].split("=", 1), sys.argv[4]) if len(sys.argv) > 4 else (None, path)
    # The zip format counts from 1980.
    date_time = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(path) as original:
        entries = [(info.filename, original.read(info)) for info in original.infolist()]
    if replacement is not None:
        name, source = replacement
        if name not in [entry for entry, _ in entries]:
            sys.exit("normalize_zip.py: %s holds no %s" % (path, name))
        with open(source, "rb") as f:
            data = f.read()
        entries = [(entry, data if entry == name else content) for entry, content in entries]
    with zipfile.ZipFile(output, "w") as normalized:
        for name, data in sorted(entries):
            info = zipfile.ZipInfo(name, date_time)
            info.create_system = 3  # Unix, so the permissions below are read
            mode = 0o755 if name.endswith(".exe") or name.endswith("/") else 0o644
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            normalized.writestr(info, data, compresslevel=9)


if __name__ == "__main__":
    main()
