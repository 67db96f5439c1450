#!/usr/bin/env python3
"""Checks the JSON Lines manifests given with Python's own json and hashlib, as a program
reading them would: every line parses, the header comes first, and every source and output
digest matches the file on disk. Prints one JSON object: the entries, how many of each outcome,
the distinct message digests written, and the first mismatch found (empty when none)."""
import hashlib
import json
import sys


def digest(path, cache):
    if path not in cache:
        with open(path, "rb") as f:
            cache[path] = hashlib.sha256(f.read()).hexdigest()
    return cache[path]


def main(paths):
    cache = {}
    result = {"entries": 0, "outcomes": {}, "written_digests": [], "headers": 0, "mismatch": ""}
    written = set()
    for path in paths:
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
        header = json.loads(lines[0])
        if header.get("manifest") != "ombrik" or "version" not in header or "options" not in header:
            result["mismatch"] = path + ": no header first"
        rows = header.get("messages", 0) + header.get("attachments", 0)
        if rows != len(lines) - 1:
            result["mismatch"] = path + ": header counts %s rows, %d lines" % (rows, len(lines) - 1)
        result["headers"] += 1
        for line in lines[1:]:
            entry = json.loads(line)
            result["entries"] += 1
            outcome = entry["outcome"]
            result["outcomes"][outcome] = result["outcomes"].get(outcome, 0) + 1
            if outcome == "written":
                written.add(entry["sha256"])
            if digest(entry["source"], cache) != entry["source_sha256"]:
                result["mismatch"] = "source digest of " + entry["source"]
            if digest(entry["output"], cache) != entry["output_sha256"]:
                result["mismatch"] = "output digest of " + entry["output"]
    result["written_digests"] = len(written)
    print(json.dumps(result, sort_keys=True))


if __name__ == "__main__":
    main(sys.argv[1:])
