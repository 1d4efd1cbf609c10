#!/usr/bin/python3
"""Runs dupeGuru's fuzzy filename matching headless on the names a Tunesift scan catalogues and
prints one JSON object: how long dupeGuru's engine took, its peak memory, the pairs it found, and
how many of them pass Tunesift's similar-filename measure.

dupeGuru is driven the way its filename scan drives it: words from the name without its
extension, engine.getmatches with the given minimum match percentage (word weighting and similar
words off, its defaults). Only the engine is timed, not the folder walk.

Usage: dupeguru_fuzzy.py [--threshold 91] [--exhaustive] FOLDER...
--exhaustive also finds every pair that passes Tunesift's measure and reports how many of them
dupeGuru found.
"""

import argparse
import json
import logging
import os
import resource
import sys
import time

DUPEGURU = "/usr/share/dupeguru"


class _NamedFile:
    __slots__ = ("name", "words", "index")

    def __init__(self, name, index):
        self.name = name
        self.index = index


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--threshold", type=int, default=91)
    parser.add_argument("--exhaustive", action="store_true")
    parser.add_argument("folders", nargs="+")
    args = parser.parse_args()

    sys.dont_write_bytecode = True  # keep the source tree free of compiled caches
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    sys.path.insert(0, DUPEGURU)
    import similarity
    from core import engine
    from hscommon.util import rem_file_ext

    # dupeGuru's engine swallows a MemoryError and returns the matches found so far, saying so
    # only in a log warning: catch that warning, so a cut-short run is never taken as complete.
    warnings = []

    class _Collect(logging.Handler):
        def emit(self, record):
            warnings.append(record.getMessage())

    logging.getLogger().addHandler(_Collect(logging.WARNING))

    paths = similarity.catalogue(args.folders)
    names = [p[p.rfind("/") + 1 :] for p in paths]
    files = [_NamedFile(n, k) for k, n in enumerate(names)]

    start = time.perf_counter()
    cpu_start = time.process_time()
    for f in files:
        f.words = engine.getwords(rem_file_ext(f.name))
    matches = engine.getmatches(files, min_match_percentage=args.threshold)
    seconds = time.perf_counter() - start
    cpu_seconds = time.process_time() - cpu_start
    peak_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss

    found = set()
    for m in matches:
        i, j = sorted((m.first.index, m.second.index))
        found.add((i, j))
    passing = sum(1 for i, j in found if similarity.passes(names[i], names[j]))
    result = {
        "files": len(names),
        "threshold": args.threshold,
        "seconds": seconds,
        "cpu_seconds": cpu_seconds,
        "peak_kib": peak_kib,
        "pairs": len(found),
        "pairs_passing_our_measure": passing,
        "memory_overflow": any("Memory Overflow" in w for w in warnings),
    }
    if args.exhaustive:
        ours = similarity.passing_pairs(names)
        result["our_pairs"] = len(ours)
        result["our_pairs_found_by_dupeguru"] = sum(1 for p in ours if p in found)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
