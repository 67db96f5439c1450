#!/usr/bin/env python3
"""MSG, RTF, HTML and PST export against the EML export of the same folder file.

Builds the 100,000-message benchmark folder ("small", or another corpus of
ombrik-bench-make-dbx), puts it in the page cache, then runs every variant in interleaved
rounds (A/B/C/..., A/B/C/...) on a tmpfs, each with one worker thread and with the default
(all cores), and prints the median wall time, the peak memory (max RSS) and the ratio to the
EML export of each.

  bench/run_pipeline_benchmarks.py --build build --work /dev/shm/ombrik-pipeline [--rounds 3]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run_benchmarks import fresh_dir, run_interleaved, run_measured  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--work", default="/dev/shm/ombrik-pipeline")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--corpus", default="small")
    parser.add_argument("--forms", default="eml,mbox,msg,rtf,html,pst")
    parser.add_argument("--baseline-cli", help="an earlier ombrik-cli, run as 'before' for each form")
    parser.add_argument("--thread-counts", default="1,0",
                        help="worker threads of the MSG, RTF, HTML and PST variants (0: all cores)")
    args = parser.parse_args()

    cli = os.path.join(args.build, "src/cli/ombrik-cli")
    make_dbx = os.path.join(args.build, "bench/ombrik-bench-make-dbx")
    source_dir = os.path.join(args.work, "src")
    out = os.path.join(args.work, "out")
    fresh_dir(source_dir)
    dbx = os.path.join(source_dir, "Bench.dbx")
    subprocess.run([make_dbx, args.corpus, dbx], check=True)
    with open(dbx, "rb") as f:  # into the page cache
        while f.read(1 << 24):
            pass

    def variant(form, threads, program=cli):
        argv = [program, "--quiet", "--dest", out, "--format", form]
        if threads:
            argv += ["--threads", str(threads)]
        if form == "pst":
            argv += ["--pst-mode", "new", "--pst-folder", out]
        return lambda: run_measured(argv + [dbx])

    variants = {}
    for form in args.forms.split(","):
        if args.baseline_cli:
            variants[f"{form}, before"] = variant(form, None, args.baseline_cli)
        if form in ("eml", "mbox"):
            variants[form] = variant(form, None)
            continue
        for threads in (int(n) for n in args.thread_counts.split(",")):
            name = f"{form}, all cores ({os.cpu_count()})" if threads == 0 else f"{form}, {threads} thread(s)"
            variants[name] = variant(form, threads or None)

    times, rss, cpu = run_interleaved(variants, args.rounds, out)

    med = {name: statistics.median(t) for name, t in times.items()}
    base = med.get("eml")
    print(f"\n### {args.corpus}: {os.path.getsize(dbx) / 1e6:.0f} MB folder file; "
          f"median of {args.rounds} interleaved rounds\n")
    print("| variant | median s | min s | max s | CPU s (user + sys) | peak RSS MiB | x EML |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for name in variants:
        t = times[name]
        ratio = f"{med[name] / base:.2f}" if base else ""
        print(f"| {name} | {med[name]:.2f} | {min(t):.2f} | {max(t):.2f} | "
              f"{statistics.median(cpu[name]):.2f} | {rss[name] / 1024:.1f} | {ratio} |")
    shutil.rmtree(out, ignore_errors=True)
    shutil.rmtree(source_dir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
