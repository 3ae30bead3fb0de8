#!/usr/bin/python3
"""End-to-end benchmark of the merge, with the real executable.

For 10,000 / 100,000 / 1,000,000 input rows (the largest as 20 files of 50,000 rows that merge
into 90,000 records) it measures the merge's wall time and peak memory, and two floors: the
time `cat` takes to copy the same inputs into one file, and the time to read the inputs and
write (and flush) as many bytes as the run wrote, with no merging at all. It prints a table and
appends the figures, one JSON object per size, to a results file for comparison between commits.

    /usr/bin/python3 bench/run_bench.py [--bin build-release/bin] [--repeat 3]
                                        [--results bench-results.jsonl] [--sizes 10000,100000]

Build in Release first: cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release
                        cmake --build build-release -j
"""
import argparse
import datetime
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time

# rows -> (files, merged records)
SHAPES = {
    10_000: (1, 900),
    100_000: (2, 9_000),
    1_000_000: (20, 90_000),
}


def measure_child(command, cwd):
    """Runs `command` through a fresh Python child so that its peak memory is its own."""
    probe = (
        "import resource, subprocess, sys, time\n"
        "start = time.perf_counter()\n"
        "r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)\n"
        "seconds = time.perf_counter() - start\n"
        "if r.returncode: sys.stderr.buffer.write(r.stderr); sys.exit(r.returncode)\n"
        "print(seconds, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024)\n"
    )
    completed = subprocess.run([sys.executable, "-c", probe, *command], cwd=cwd,
                               capture_output=True, text=True)
    if completed.returncode != 0:
        sys.exit(f"{command[0]} failed ({completed.returncode}): {completed.stderr[-2000:]}")
    seconds, peak = completed.stdout.split()
    return float(seconds), int(peak)


def io_floor(work, names, install):
    """Seconds to read the inputs and write as many bytes as the run wrote, flushed to disk as
    the run flushes them: what a merge costs before any merging. `cat` copies inside the
    kernel, without bringing the bytes into a program at all."""
    outputs = [os.path.join(install, n) for n in ("Zuvrex5.LOG", "ZuvrLOG.TXT", "sorted.DBF",
                                                  "template.dbf")]
    outputs.append(os.path.join(work, names[0]))  # the delivered report
    sizes = [os.path.getsize(p) for p in outputs]
    # The bytes to write exist beforehand: making them is the merge's work, not the floor's.
    payload = memoryview(b"x" * max(sizes))
    start = time.perf_counter()
    for name in names:
        with open(os.path.join(work, name), "rb") as f:
            f.read()
    for i, size in enumerate(sizes):
        with open(os.path.join(work, f"io-floor-{i}"), "wb") as f:
            f.write(payload[:size])
            f.flush()
            os.fsync(f.fileno())
    return time.perf_counter() - start


def git_commit():
    try:
        return subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True,
                              text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def bench_size(rows, bin_dir, repeat, scratch):
    files, records = SHAPES[rows]
    inputs_dir = os.path.join(scratch, f"inputs-{rows}")
    os.makedirs(inputs_dir)
    subprocess.run([os.path.join(bin_dir, "gen_reports"), "--rows", str(rows), "--files",
                    str(files), "--records", str(records), "--seed", "7", "--out", inputs_dir],
                   check=True)
    names = sorted(n for n in os.listdir(inputs_dir) if n.endswith(".DBF"))
    input_bytes = sum(os.path.getsize(os.path.join(inputs_dir, n)) for n in names)

    merge_times, floor_times, io_times, peaks = [], [], [], []
    for attempt in range(repeat):
        install = os.path.join(scratch, f"install-{rows}-{attempt}")
        os.makedirs(install)
        for name in ("Zuvrex5", "template.dbf", "sorted.DBF"):
            shutil.copy2(os.path.join(bin_dir, name), install)
        work = os.path.join(scratch, f"work-{rows}-{attempt}")
        shutil.copytree(inputs_dir, work)

        seconds, peak = measure_child([os.path.join(install, "Zuvrex5"), *names, "4"], work)
        merge_times.append(seconds)
        peaks.append(peak)

        io_times.append(io_floor(work, names, install))

        floor_start = time.perf_counter()
        with open(os.path.join(work, "all.cat"), "wb") as out:
            subprocess.run(["cat", *names], cwd=work, stdout=out, check=True)
        floor_times.append(time.perf_counter() - floor_start)
        shutil.rmtree(install)
        shutil.rmtree(work)

    merge = sorted(merge_times)[len(merge_times) // 2]
    floor = sorted(floor_times)[len(floor_times) // 2]
    io = sorted(io_times)[len(io_times) // 2]
    return {
        "rows": rows,
        "files": files,
        "records": records,
        "input_mb": round(input_bytes / 1e6, 2),
        "merge_s": round(merge, 4),
        "cat_floor_s": round(floor, 4),
        "ratio_to_floor": round(merge / floor, 2) if floor > 0 else None,
        "io_floor_s": round(io, 4),
        "ratio_to_io_floor": round(merge / io, 2) if io > 0 else None,
        "peak_mb": round(max(peaks) / 1e6, 1),
        "peak_to_input": round(max(peaks) / input_bytes, 2),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bin", default="build-release/bin",
                        help="directory with Zuvrex5, its tables and gen_reports")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--results", default="bench-results.jsonl")
    parser.add_argument("--sizes", default="10000,100000,1000000")
    args = parser.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    for size in sizes:
        if size not in SHAPES:
            sys.exit(f"unknown size {size}; known: {sorted(SHAPES)}")

    stamp = datetime.datetime.now().isoformat(timespec="seconds")
    commit = git_commit()
    results = []
    with tempfile.TemporaryDirectory(prefix="zuvrex-bench-") as scratch:
        for rows in sizes:
            results.append(bench_size(rows, os.path.abspath(args.bin), args.repeat, scratch))

    print(f"commit {commit}, {stamp}, median of {args.repeat}")
    print(f"{'rows':>9} {'files':>5} {'records':>7} {'input MB':>8} {'merge s':>8} "
          f"{'cat s':>7} {'ratio':>6} {'io s':>7} {'ratio':>6} {'peak MB':>8} {'peak/in':>7}")
    for r in results:
        print(f"{r['rows']:>9} {r['files']:>5} {r['records']:>7} {r['input_mb']:>8} "
              f"{r['merge_s']:>8.3f} {r['cat_floor_s']:>7.3f} {r['ratio_to_floor']:>6} "
              f"{r['io_floor_s']:>7.3f} {r['ratio_to_io_floor']:>6} "
              f"{r['peak_mb']:>8} {r['peak_to_input']:>7}")
    print("cat s: the inputs copied with cat into one file (inside the kernel); io s: the inputs "
          "read and the run's output bytes written and flushed, without merging")
    by_rows = {r["rows"]: r for r in results}
    if 100_000 in by_rows and 1_000_000 in by_rows:
        growth = by_rows[1_000_000]["merge_s"] / by_rows[100_000]["merge_s"]
        n_log_n = 10 * math.log(1e6) / math.log(1e5)
        print(f"growth 100,000 -> 1,000,000 rows: x{growth:.1f} (n log n would be x{n_log_n:.1f})")

    with open(args.results, "a", encoding="utf-8") as out:
        for r in results:
            out.write(json.dumps({"commit": commit, "time": stamp, **r}) + "\n")
    print(f"figures appended to {args.results}")


if __name__ == "__main__":
    main()
