#!/usr/bin/env python3
"""End-to-end benchmark of ombrik-cli against baselines and the peer extractor undbx.

Builds the benchmark folder files, then runs every variant in interleaved rounds (A/B/C/...,
A/B/C/..., so that drift of the machine hits all alike) on a tmpfs with the input in the page
cache, and prints the median wall time and the peak memory (max RSS) of each variant.

  bench/run_benchmarks.py --build build --work /dev/shm/ombrik-bench [--rounds 5] [--corpus small,large]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys


def run_measured(argv, cwd=None):
    """Runs argv under GNU time; returns (wall seconds, max RSS in KiB, user + system seconds)
    of that process alone.

    GNU time forks from a small process, so the peak memory is the program's own, not that of
    the Python interpreter the child was forked from."""
    report = "/dev/shm/ombrik-bench-time-report"
    subprocess.run(["/usr/bin/time", "-f", "%e %M %U %S", "-o", report] + argv, cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(report) as f:
        seconds, max_rss, user, system = f.read().split()[-4:]
    return float(seconds), int(max_rss), float(user) + float(system)


def fresh_dir(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


def count_files(path):
    return sum(len(files) for _, _, files in os.walk(path))


def run_interleaved(variants, rounds, out):
    """Runs every variant once per round, in turn, each into a fresh out; returns the seconds of
    each run, the peak RSS of each variant and the CPU seconds of each run. Interleaving spreads
    the machine's drift evenly."""
    times = {name: [] for name in variants}
    rss = {name: 0 for name in variants}
    cpu = {name: [] for name in variants}
    for _ in range(rounds):
        for name, run in variants.items():
            fresh_dir(out)
            seconds, max_rss, cpu_seconds = run()
            times[name].append(seconds)
            rss[name] = max(rss[name], max_rss)
            cpu[name].append(cpu_seconds)
    return times, rss, cpu


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--work", default="/dev/shm/ombrik-bench")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--corpus", default="small,large")
    parser.add_argument("--formats", default="eml,mbox")
    parser.add_argument("--recover", action="store_true",
                        help="also time each format with --recover (the scan for deleted messages)")
    parser.add_argument("--baseline-cli", help="an earlier ombrik-cli, run as 'before' beside each variant of ours")
    parser.add_argument("--no-peer", action="store_true", help="leave undbx out")
    args = parser.parse_args()

    cli = os.path.join(args.build, "src/cli/ombrik-cli")
    make_dbx = os.path.join(args.build, "bench/ombrik-bench-make-dbx")
    write_files = os.path.join(args.build, "bench/ombrik-bench-write-files")
    undbx = None if args.no_peer else shutil.which("undbx")
    os.makedirs(args.work, exist_ok=True)

    for corpus in args.corpus.split(","):
        source_dir = os.path.join(args.work, f"src-{corpus}")
        fresh_dir(source_dir)
        dbx = os.path.join(source_dir, "Bench.dbx")
        subprocess.run([make_dbx, corpus, dbx], check=True)
        size = os.path.getsize(dbx)
        with open(dbx, "rb") as f:  # into the page cache
            while f.read(1 << 24):
                pass
        out = os.path.join(args.work, "out")

        variants = {
            "cp (baseline)": lambda: run_measured(["cp", dbx, os.path.join(out, "copy.dbx")]),
            "write files (baseline)": lambda: run_measured([write_files, dbx + ".sizes", out]),
        }
        clis = [("ombrik-cli", cli)] + ([("before", args.baseline_cli)] if args.baseline_cli else [])
        for fmt in args.formats.split(","):
            for label, program in clis:
                variants[f"{label} {fmt}"] = (
                    lambda fmt=fmt, program=program: run_measured([program, "--quiet", "--dest", out, "--format", fmt, dbx]))
                if args.recover:
                    variants[f"{label} {fmt} --recover"] = (
                        lambda fmt=fmt, program=program: run_measured(
                            [program, "--quiet", "--recover", "--dest", out, "--format", fmt, dbx]))
        if undbx:
            variants["undbx (peer)"] = lambda: run_measured([undbx, "-v", "0", dbx, out])

        times, rss, cpu = run_interleaved(variants, args.rounds, out)
        fresh_dir(out)
        run_measured([cli, "--quiet", "--dest", out, "--format", "eml", dbx])
        written = count_files(out)

        print(f"\n### {corpus}: {size / 1e6:.0f} MB folder file, {written} messages; "
              f"median of {args.rounds} interleaved rounds\n")
        print("| variant | median s | min s | max s | CPU s (user + sys) | peak RSS MiB |")
        print("|---|---:|---:|---:|---:|---:|")
        for name in variants:
            t = times[name]
            print(f"| {name} | {statistics.median(t):.3f} | {min(t):.3f} | {max(t):.3f} | "
                  f"{statistics.median(cpu[name]):.2f} | {rss[name] / 1024:.1f} |")
        med = {name: statistics.median(t) for name, t in times.items()}
        print()
        for fmt in args.formats.split(","):
            name = f"ombrik-cli {fmt}"
            if args.baseline_cli:
                print(f"- {name}: {med[name] / med['before ' + fmt]:.2f}x the time before")
            print(f"- {name}: {med[name] / med['cp (baseline)']:.2f}x cp, "
                  f"{med[name] / med['write files (baseline)']:.2f}x the file-writing baseline"
                  + (f", undbx takes {med['undbx (peer)'] / med[name]:.2f}x as long" if undbx else ""))
            if args.recover:
                print(f"- {name} --recover: {med[name + ' --recover'] / med[name]:.2f}x the run without it")
        shutil.rmtree(out, ignore_errors=True)
        shutil.rmtree(source_dir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
