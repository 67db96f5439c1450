#!/usr/bin/env python3
"""The window against ombrik-cli: the same conversion of the same folder file, EML, MBOX and MSG.

Builds a benchmark folder file (the 100,000-message "small" corpus unless told otherwise), puts
it in the page cache, and runs, in interleaved rounds on a tmpfs, ombrik-cli and the window
(ombrik-bench-window: the real window and job; the time runs from pressing Convert to the
completion dialog) for each form. Prints the median seconds, the peak memory and the ratio of
the window to the command line. Without a display it runs itself again under xvfb-run.

  bench/run_window_benchmark.py --build build --work /dev/shm/ombrik-window [--rounds 5]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run_benchmarks import fresh_dir, run_measured  # noqa: E402


def run_window(program, form, out, dbx, home):
    """The window's own time from Convert to the summary, and the process's peak RSS."""
    report = "/dev/shm/ombrik-bench-window-report"
    result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report, program, form, out, dbx],
                            check=True, capture_output=True, text=True, env=dict(os.environ, HOME=home))
    with open(report) as f:
        max_rss = int(f.read().split()[-1])
    return float(result.stdout.split()[0]), max_rss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--work", default="/dev/shm/ombrik-window")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--corpus", default="small")
    parser.add_argument("--forms", default="eml,mbox,msg")
    parser.add_argument("--baseline-window", help="an earlier ombrik-bench-window, run as 'before'")
    args = parser.parse_args()
    if not os.environ.get("DISPLAY"):
        os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", sys.executable] + sys.argv)

    cli = os.path.join(args.build, "src/cli/ombrik-cli")
    window = os.path.join(args.build, "bench/ombrik-bench-window")
    make_dbx = os.path.join(args.build, "bench/ombrik-bench-make-dbx")
    source_dir = os.path.join(args.work, "src")
    out = os.path.join(args.work, "out")
    home = tempfile.mkdtemp(prefix="ombrik-window-home-")
    os.makedirs(os.path.join(home, ".config"))
    fresh_dir(source_dir)
    dbx = os.path.join(source_dir, "Bench.dbx")
    subprocess.run([make_dbx, args.corpus, dbx], check=True)
    with open(dbx, "rb") as f:  # into the page cache
        while f.read(1 << 24):
            pass

    variants = {}
    for form in args.forms.split(","):
        variants[f"ombrik-cli {form}"] = (
            lambda form=form: run_measured([cli, "--quiet", "--dest", out, "--format", form, dbx]))
        variants[f"window {form}"] = lambda form=form: run_window(window, form, out, dbx, home)
        if args.baseline_window:
            variants[f"window {form} (before)"] = (
                lambda form=form: run_window(args.baseline_window, form, out, dbx, home))

    times = {name: [] for name in variants}
    rss = {name: 0 for name in variants}
    for _ in range(args.rounds):
        for name, run in variants.items():
            fresh_dir(out)
            seconds, max_rss = run()[:2]
            times[name].append(seconds)
            rss[name] = max(rss[name], max_rss)
    with open("/proc/loadavg") as f:
        load = f.read().split()[0]
    print(f"\n### {os.path.getsize(dbx) / 1e6:.0f} MB folder file; median of {args.rounds} interleaved rounds, "
          f"load {load} at the end\n")
    print("| variant | median s | min s | max s | peak RSS MiB |")
    print("|---|---:|---:|---:|---:|")
    for name, t in times.items():
        print(f"| {name} | {statistics.median(t):.3f} | {min(t):.3f} | {max(t):.3f} | {rss[name] / 1024:.1f} |")
    print()
    med = {name: statistics.median(t) for name, t in times.items()}
    for form in args.forms.split(","):
        line = f"- {form}: the window takes {med['window ' + form] / med['ombrik-cli ' + form]:.2f}x ombrik-cli's time"
        if args.baseline_window:
            line += f" (before: {med['window ' + form + ' (before)'] / med['ombrik-cli ' + form]:.2f}x)"
        print(line)
    shutil.rmtree(out, ignore_errors=True)
    shutil.rmtree(source_dir, ignore_errors=True)
    shutil.rmtree(home, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
