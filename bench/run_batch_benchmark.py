#!/usr/bin/env python3
"""Many small stores: GNU parallel running one ombrik-cli per store against one ombrik-cli
given every store, into fresh destinations, interleaved and repeated; prints messages per second
of each with the load average beside every figure.

usage: run_batch_benchmark.py BUILD_DIR [STORES] [MESSAGES_PER_STORE] [REPEATS]"""
import os
import subprocess
import sys
import tempfile
import time


def run(command):
    start = time.monotonic()
    subprocess.run(command, shell=True, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - start


def main():
    build = os.path.abspath(sys.argv[1])
    stores = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    per_store = int(sys.argv[3]) if len(sys.argv) > 3 else 10
    repeats = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    cli = os.path.join(build, "src/cli/ombrik-cli")
    make = os.path.join(build, "bench/ombrik-bench-make-stores")
    with tempfile.TemporaryDirectory() as work:
        root = os.path.join(work, "disk")
        subprocess.run([make, root, str(stores), str(per_store)], check=True)
        listing = subprocess.run([cli, "--find-stores", root, "--print0"], check=True, capture_output=True).stdout
        paths = [p.decode() for p in listing.split(b"\0") if p]
        messages = stores * per_store
        one = cli + " --quiet --dest {dest} " + " ".join("--add-store '%s'" % p for p in paths)
        batch = (cli + " --find-stores " + root + " --print0 | parallel -0 -j2 " + cli +
                 " --quiet --dest {dest} --add-store {{}}")
        print("%d stores of %d messages (%d messages), EML" % (stores, per_store, messages))
        for i in range(repeats):
            for name, command in (("parallel -j2", batch), ("one process", one)):
                dest = os.path.join(work, "out-%s-%d" % (name.split()[0], i))
                seconds = run(command.format(dest=dest))
                load = os.getloadavg()[0]
                print("%-13s %6.2f s  %8.0f messages/s  (load %.2f)" % (name, seconds, messages / seconds, load))
                sys.stdout.flush()


if __name__ == "__main__":
    main()
