#!/usr/bin/env python3
"""savelink's cost on Linux: system calls per run, and wall time beside the
one-line shell equivalent and a plain C program making the same calls.

Usage: bench/run.py [RUNS]   (builds what it needs under build-bench/)
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-bench")
RUNS = int(sys.argv[1]) if len(sys.argv) > 1 else 300
FILE_SYSTEM = {"mkdir", "mkdirat", "rmdir", "unlink", "unlinkat", "symlink", "symlinkat",
               "stat", "lstat", "newfstatat", "statx"}


def build():
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DSAVELINK_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD], check=True, stdout=subprocess.DEVNULL)
    plain = os.path.join(BUILD, "plain_calls")
    subprocess.run(["cc", "-O2", "-o", plain, os.path.join(ROOT, "bench", "plain_calls.c")], check=True)
    return os.path.join(BUILD, "savelink"), plain


def shell_command(home):
    link = home + "/.config/Milestone/Corvandelhurst Rally EV/Saves"
    target = home + "/.config/Milestone/Corvandelhurst Rally EVO/Saves"
    return ["sh", "-c", 'mkdir -p "$1" "$2" && rmdir "$1" && ln -sfn "$2" "$1" && echo "saves fixed"',
            "sh", link, target]


def strace_counts(command, home):
    with tempfile.NamedTemporaryFile("r") as out:
        subprocess.run(["strace", "-f", "-c", "-o", out.name, *command], env={"HOME": home, "PATH": "/usr/bin:/bin"},
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=False)
        counts = {}
        for line in out.read().splitlines():
            fields = line.split()
            if len(fields) >= 5 and re.match(r"^[\d.]+$", fields[0]) and fields[-1] != "total":
                calls = int(fields[3])
                errors = int(fields[4]) if len(fields) == 6 else 0
                counts[fields[-1]] = (calls, errors)
        return counts


def summarize(counts):
    fs_calls = sum(c for name, (c, _) in counts.items() if name in FILE_SYSTEM)
    fs_errors = sum(e for name, (_, e) in counts.items() if name in FILE_SYSTEM)
    total = sum(c for c, _ in counts.values())
    detail = ", ".join("%s %d" % (name, c) for name, (c, _) in sorted(counts.items()) if name in FILE_SYSTEM)
    return total, fs_calls, fs_errors, detail


def timed(command, home, fresh):
    samples = []
    milestone = os.path.join(home, ".config", "Milestone")
    env = {"HOME": home, "PATH": "/usr/bin:/bin"}
    for _ in range(RUNS):
        if fresh:
            shutil.rmtree(milestone, ignore_errors=True)
        start = time.perf_counter()
        subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=False)
        samples.append(time.perf_counter() - start)
    return statistics.median(samples)


def main():
    savelink, plain = build()
    print("savelink %s: %d bytes; needs %s" % (
        os.path.relpath(savelink, ROOT), os.path.getsize(savelink),
        ", ".join(re.findall(r"NEEDED\s+(\S+)", subprocess.run(["objdump", "-p", savelink], capture_output=True,
                                                               text=True).stdout))))
    print()
    print("System calls of one run (strace -f -c):")
    print("| run | program | all calls | file-system calls (failed) | the steps need | which |")
    print("|---|---|---|---|---|---|")
    for run, needed in (("first", "8: 6 mkdir, 1 rmdir, 1 symlink"), ("second", "0: the link stands")):
        for name, command in (("savelink", [savelink]), ("plain C", [plain])):
            with tempfile.TemporaryDirectory(prefix="savelink-bench-") as home:
                if run == "second":
                    subprocess.run([savelink], env={"HOME": home}, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, check=True)
                total, fs_calls, fs_errors, detail = summarize(strace_counts(command, home))
                print("| %s | %s | %d | %d (%d) | %s | %s |" % (run, name, total, fs_calls, fs_errors, needed, detail))
    print()
    print("Wall time, median of %d runs from an empty home each time:" % RUNS)
    with tempfile.TemporaryDirectory(prefix="savelink-bench-") as home:
        times = {
            "savelink": timed([savelink], home, True),
            "plain C": timed([plain], home, True),
            "shell one-liner": timed(shell_command(home), home, True),
        }
    for name, seconds in times.items():
        print("- %s: %.2f ms (%.2fx savelink)" % (name, seconds * 1000, seconds / times["savelink"]))


if __name__ == "__main__":
    main()
