#!/usr/bin/env python3
"""Times lumo against find on a synthetic tree; run through bench/run.sh.

Prints one figure per line: wall times (median of the runs, the commands of a group run
alternately), their ratios, the same with a cold cache where the caches can be dropped (with the
reads the disk served, where the kernel counts them for the tree's device), system calls per
entry (strace -c) and peak memory (/usr/bin/time -v). bfs and fdfind are timed beside find
where they are installed.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

FIND_PRINTF = "%p\t%TY/%Tm/%Td %TH:%TM:%TS\t%s\n"
STAT_CALLS = ("stat", "lstat", "fstat", "newfstatat", "fstatat64", "statx")
READ_CALLS = ("read", "pread64", "readv", "preadv", "preadv2")


def out(name, value):
    print(f"{name}: {value}", flush=True)


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def make_tree(command, path):
    """Runs the tree writer `command` for `path` unless a finished tree is there."""
    stamp = path + ".stamp"
    if os.path.exists(stamp):
        with open(stamp) as f:
            line = f.read().strip()
    else:
        shutil.rmtree(path, ignore_errors=True)
        line = subprocess.run(command, check=True, stdout=subprocess.PIPE,
                              text=True).stdout.strip()
        with open(stamp, "w") as f:
            f.write(line + "\n")
    fields = line.split()
    return {fields[i]: int(fields[i + 1]) for i in range(0, len(fields), 2)}


DROP_CACHES = "/proc/sys/vm/drop_caches"


def can_drop_caches():
    return os.access(DROP_CACHES, os.W_OK)


def drop_caches():
    os.sync()
    with open(DROP_CACHES, "w") as f:
        f.write("3\n")


def disk_stat_path(tree):
    """The statistics file of the block device holding `tree`, where the kernel shows one."""
    device = os.stat(tree).st_dev
    path = f"/sys/dev/block/{os.major(device)}:{os.minor(device)}/stat"
    return path if os.major(device) != 0 and os.path.exists(path) else None


def disk_reads(stat_path):
    """Reads the device has completed since it started."""
    with open(stat_path) as f:
        return int(f.read().split()[0])


def wall(argv, stdout=subprocess.DEVNULL):
    start = time.perf_counter()
    subprocess.run(argv, stdout=stdout, stderr=subprocess.DEVNULL, check=False)
    return time.perf_counter() - start


def alternate(commands, runs, cold=False, stat_path=None):
    """Runs each command once per round, in turn; returns the median wall time of each and,
    where `stat_path` names the device's statistics, the median of the reads it served for
    each. Cold: the caches are dropped before every run."""
    times = [[] for _ in commands]
    reads = [[] for _ in commands]
    for _ in range(runs):
        for i, argv in enumerate(commands):
            if cold:
                drop_caches()
            before = disk_reads(stat_path) if stat_path else 0
            times[i].append(wall(argv))
            if stat_path:
                reads[i].append(disk_reads(stat_path) - before)
    return ([statistics.median(t) for t in times],
            [statistics.median(r) for r in reads] if stat_path else None)


def others(full_listing, tree):
    """bfs and fdfind where installed, doing what find does in the group: (name, argv)."""
    found = []
    if shutil.which("bfs"):
        found.append(("bfs", ["bfs", tree, "-printf", FIND_PRINTF] if full_listing
                      else ["bfs", tree, "-iname", "*.dll"]))
    if shutil.which("fdfind"):
        # fd prints names alone: it has no format for dates and sizes.
        found.append(("fdfind", ["fdfind", "-u", ".", tree] if full_listing
                      else ["fdfind", "-u", "-i", "-g", "*.dll", tree]))
    return found


def timed_group(name, lumo_argv, find_argv, full_listing, tree, runs, target, cold=False):
    """Times lumo, find, and bfs and fdfind where installed; prints each and lumo's ratios."""
    extra = others(full_listing, tree)
    # On a cold disk, how many reads each needed, and how fast the disk served lumo's.
    stat_path = disk_stat_path(tree) if cold else None
    medians, reads = alternate([lumo_argv, find_argv] + [argv for _, argv in extra], runs, cold,
                               stat_path)
    out(f"{name}.lumo", seconds(medians[0]))
    out(f"{name}.find", seconds(medians[1]))
    if reads:
        out(f"{name}.lumo_disk_reads", f"{reads[0]:.0f} ({reads[0] / medians[0]:.0f} a second)")
        out(f"{name}.find_disk_reads", f"{reads[1]:.0f} ({reads[1] / medians[1]:.0f} a second)")
    for (tool, _), median in zip(extra, medians[2:]):
        out(f"{name}.{tool}", seconds(median))
    ratio(f"{name}.ratio", medians[0], medians[1], target)
    for (tool, _), median in zip(extra, medians[2:]):
        ratio(f"{name}.ratio_to_{tool}", medians[0], median)
    return medians[0], medians[1]


def seconds(value):
    return f"{value:.4f} s"


def ratio(name, numerator, denominator, target=None):
    text = f"{numerator / denominator:.3f}"
    if target is not None:
        verdict = "met" if numerator / denominator <= target else "MISSED"
        text += f" (target <= {target}, {verdict})"
    out(name, text)


def strace_counts(argv, workdir):
    """System calls of one run, by name, from strace -c -f."""
    log = os.path.join(workdir, "strace.txt")
    subprocess.run(["strace", "-c", "-f", "-o", log] + argv, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)
    counts = {}
    with open(log) as f:
        for line in f:
            fields = line.split()
            # % time, seconds, usecs/call, calls, [errors,] syscall
            if len(fields) >= 5 and re.fullmatch(r"[0-9.]+", fields[0]) and fields[-1] != "total":
                counts[fields[-1]] = int(fields[3])
    return counts


def max_rss_kib(argv, workdir):
    log = os.path.join(workdir, "time.txt")
    subprocess.run(["/usr/bin/time", "-v", "-o", log] + argv, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)
    with open(log) as f:
        for line in f:
            if "Maximum resident set size" in line:
                return int(line.rsplit(":", 1)[1])
    return -1


def count_lines(argv, prefix=b""):
    """Lines of a command's output, or only those that begin with `prefix`."""
    result = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False)
    return sum(1 for line in result.stdout.split(b"\n") if line and line.startswith(prefix))


def report_syscalls(name, counts, entries, directories, matched, images):
    total = sum(counts.values())
    stats = sum(counts.get(c, 0) for c in STAT_CALLS)
    reads = sum(counts.get(c, 0) for c in READ_CALLS)
    out(f"{name}.calls_per_entry", f"{total / entries:.3f} ({total} calls, {entries} entries)")
    out(f"{name}.stat_calls", f"{stats} ({directories} directories, {matched} matches)")
    out(f"{name}.stat_calls_beyond_one_per_directory_and_match",
        f"{stats - directories - matched}")
    out(f"{name}.opens", f"{counts.get('openat', 0) + counts.get('open', 0)}")
    out(f"{name}.reads", f"{reads} ({images} PE images among the matches)")
    out(f"{name}.getdents64", f"{counts.get('getdents64', 0)}")
    out(f"{name}.writes", f"{counts.get('write', 0)}")
    busiest = sorted(counts.items(), key=lambda item: -item[1])
    out(f"{name}.by_call", " ".join(f"{k}={v}" for k, v in busiest))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--lumo", required=True, help="the lumo binary to time")
    parser.add_argument("--generator", required=True, help="the make_bench_tree binary")
    parser.add_argument("--quick", action="store_true",
                        help="a tree a fifth of the size, 3 runs")
    parser.add_argument("--runs", type=int, help="runs per command (default 7, quick 3)")
    parser.add_argument("--cold-runs", type=int,
                        help="runs per command with a cold cache (default 3; 0: none)")
    parser.add_argument("--keep", metavar="DIR",
                        help="write the trees into DIR and keep them; reuse what is there")
    args = parser.parse_args()

    runs = args.runs or (3 if args.quick else 7)
    cold_runs = 3 if args.cold_runs is None else args.cold_runs
    full_percent, small_percent = (20, 2) if args.quick else (100, 10)
    image_count = 500 if args.quick else 3000
    workdir = args.keep or tempfile.mkdtemp(prefix="lumo-bench-")
    os.makedirs(workdir, exist_ok=True)
    lumo = os.path.abspath(args.lumo)
    # Without TZ, glibc's localtime() looks at /etc/localtime on every call, which find does
    # once per %T directive; naming the same zone in TZ times what each program itself costs.
    if not os.environ.get("TZ"):
        os.environ["TZ"] = ":/etc/localtime"
    try:
        out("machine", f"{os.cpu_count()} cores, load {load()}, TZ={os.environ['TZ']}")
        out("lumo", lumo)
        full = os.path.join(workdir, f"tree{full_percent}")
        small = os.path.join(workdir, f"tree{small_percent}")
        started = time.perf_counter()
        images = os.path.join(workdir, f"images{image_count}")
        tree = make_tree([args.generator, full, str(full_percent)], full)
        small_tree = make_tree([args.generator, small, str(small_percent)], small)
        image_tree = make_tree([args.generator, "--images", images, str(image_count)], images)
        out("tree.generated_in", seconds(time.perf_counter() - started))
        for label, t in ((f"tree.{full_percent}pct", tree),
                         (f"tree.{small_percent}pct", small_tree), ("tree.images", image_tree)):
            out(label, f"{t['entries']} entries, {t['directories']} directories, "
                f"{t['files']} files, {t['images']} PE images, {t['bytes']} bytes")

        # Warm the cache: names, inodes, and the parts of files lumo reads.
        for _ in range(2):
            for root in (full, small, images):
                wall(["find", root, "-printf", FIND_PRINTF])
                wall([lumo, "-S", root, "*"])

        dlls = count_lines(["find", full, "-iname", "*.dll"])
        dll_images = count_lines([lumo, "-SN", full, "*.dll"], full.encode())
        out("selective.matches", f"{dlls} entries, {dll_images} of them with version strings")

        # a. selective
        timed_group("selective", [lumo, "-S", full, "*.dll"], ["find", full, "-iname", "*.dll"],
                    False, full, runs, 0.5)

        # b. full
        lumo_full, find_full = timed_group(
            "full", [lumo, "-S", full, "*"], ["find", full, "-printf", FIND_PRINTF], True, full,
            runs, 0.75)
        out("full.lumo_per_entry", f"{lumo_full / tree['entries'] * 1e6:.2f} us")
        out("full.find_per_entry", f"{find_full / tree['entries'] * 1e6:.2f} us")

        # The cost of a PE image, everything but the program's start included, on a tree of
        # images alone. These runs are short, so there are five times as many.
        empty = os.path.join(workdir, "empty")
        os.makedirs(empty, exist_ok=True)
        (lumo_images, lumo_none, lumo_start), _ = alternate(
            [[lumo, "-S", images, "*"], [lumo, "-S", images, "*.no-such-extension"],
             [lumo, empty, "*"]], runs * 5)
        out("image.lumo_all", seconds(lumo_images))
        out("image.lumo_walk_only", seconds(lumo_none))
        out("image.lumo_start_only", seconds(lumo_start))
        per_image = (lumo_images - lumo_start) / image_tree["images"]
        out("image.per_image", f"{per_image * 1e6:.2f} us (target <= 19 us: 1/100 of 1.9 ms)")

        # c. scale
        (lumo_small, lumo_large), _ = alternate(
            [[lumo, "-S", small, "*"], [lumo, "-S", full, "*"]], runs)
        out(f"scale.lumo_{small_percent}pct", seconds(lumo_small))
        out(f"scale.lumo_{full_percent}pct", seconds(lumo_large))
        ratio("scale.ratio", lumo_large, lumo_small, 11)

        # d. cold: every run after the caches were dropped, as on a freshly mounted disk.
        if cold_runs == 0:
            out("cold", "skipped (--cold-runs 0)")
        elif not can_drop_caches():
            out("cold", f"skipped: {DROP_CACHES} is not writable (dropping the caches needs root)")
        else:
            timed_group("cold.full", [lumo, "-S", full, "*"],
                        ["find", full, "-printf", FIND_PRINTF], True, full, cold_runs, 1.0,
                        cold=True)
            timed_group("cold.selective", [lumo, "-S", full, "*.dll"],
                        ["find", full, "-iname", "*.dll"], False, full, cold_runs, None,
                        cold=True)
            # Warm again for what follows.
            for _ in range(2):
                wall(["find", small, "-printf", FIND_PRINTF])
                wall([lumo, "-S", small, "*"])
                wall([lumo, "-S", full, "*"])

        # System calls, on the smaller tree.
        small_dirs = small_tree["directories"] + 1  # the root is walked too
        small_dlls = count_lines(["find", small, "-iname", "*.dll"])
        small_dll_images = count_lines([lumo, "-SN", small, "*.dll"], small.encode())
        counts = strace_counts([lumo, "-S", small, "*.dll"], workdir)
        report_syscalls("syscalls.selective", counts, small_tree["entries"], small_dirs,
                        small_dlls, small_dll_images)
        counts = strace_counts([lumo, "-S", small, "*"], workdir)
        report_syscalls("syscalls.full", counts, small_tree["entries"], small_dirs,
                        small_tree["entries"], small_tree["images"])
        counts = strace_counts(["find", small, "-printf", FIND_PRINTF], workdir)
        out("syscalls.find_full.calls_per_entry",
            f"{sum(counts.values()) / small_tree['entries']:.3f}")

        # Peak memory.
        rss_large = max_rss_kib([lumo, "-S", full, "*"], workdir)
        rss_small = max_rss_kib([lumo, "-S", small, "*"], workdir)
        out(f"memory.max_rss_{full_percent}pct", f"{rss_large} KiB (target <= 32768 KiB)")
        out(f"memory.max_rss_{small_percent}pct", f"{rss_small} KiB")
        out("memory.growth", f"{rss_large - rss_small} KiB (target <= 2048 KiB)")
        out("machine.load_at_end", load())
    finally:
        if not args.keep:
            shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
