"""The command line of the comparison and the order of its measurements."""

import argparse
import datetime
import json
import os
import re
import shutil
import statistics
import subprocess
import tempfile
from collections import defaultdict

import similarity
from comparelib.common import HERE, REPO, ALL_FIVE, HOSTILE, log, parse_sizes
from comparelib.libraries import Tools, hostile_library, library, size_library
from comparelib.timing import (
    check_similar, cli_rows, drop_caches, measure, measure_cached, peak_with_cache, run_oracle,
    run_timed, trace_opens,
)
from comparelib.audio import audio_comparison
from comparelib.share import latency_table
from comparelib.stop import stop_latency
from comparelib.report import report


def main(description):
    ap = argparse.ArgumentParser(description=description)
    ap.add_argument("--sizes", default="10k,100k",
                    help="library sizes for the side-by-side figures, e.g. 10k,100k")
    ap.add_argument("--five-sizes", default="1M",
                    help="further sizes at which only the five-criteria run is timed")
    ap.add_argument("--cache-sizes", default="100k",
                    help="sizes for the cached run (cold file contents; needs root)")
    ap.add_argument("--cache-dense", default="",
                    help="dense library sizes for the cached run with Exact Audio (needs root)")
    ap.add_argument("--stop-sizes", default="",
                    help="sizes at which Ctrl-C is sent early and late in every phase of a run")
    ap.add_argument("--stop-only", action="store_true", help="only the stop latencies")
    ap.add_argument("--stop-criteria", default="",
                    help="criteria of the stopped runs instead of all six, e.g. exact-audio")
    ap.add_argument("--stop-modes", default="no-cache,empty cache",
                    help="no-cache, empty cache, or both (comma-separated)")
    ap.add_argument("--peak-sizes", default="",
                    help="sizes at which the peak memory of six criteria with the cache is taken")
    ap.add_argument("--dupeguru-sizes", default="10k,100k",
                    help="sizes at which dupeGuru runs (minutes and GBs at 100,000)")
    ap.add_argument("--skip-dupeguru", action="store_true")
    ap.add_argument("--audio-sizes", default="5000",
                    help="dense library sizes for Exact Audio against jdupes and rmlint")
    ap.add_argument("--audio-only", action="store_true",
                    help="only the Exact Audio comparison")
    ap.add_argument("--latency-delays", default="0,0.5,2",
                    help="milliseconds per request of the network-share table (empty: skip it)")
    ap.add_argument("--latency-size", type=int, default=10_000,
                    help="files of the network-share table")
    ap.add_argument("--latency-runs", type=int, default=1,
                    help="timed runs per command and delay of the network-share table")
    ap.add_argument("--latency-timeout", type=float, default=1.0,
                    help="seconds the kernel keeps names and attributes of the share")
    ap.add_argument("--latency-only", action="store_true",
                    help="only the network-share table")
    ap.add_argument("--skip-checks", action="store_true",
                    help="skip the row checks of the similar criteria and the open trace")
    ap.add_argument("--runs", type=int, default=5, help="timed runs per command (median)")
    ap.add_argument("--runs-large", type=int, default=3, help="timed runs at 1,000,000 files")
    ap.add_argument("--oracle-size", type=int, default=2000,
                    help="files of the literal walk check (0 to skip it)")
    ap.add_argument("--hostile-files", type=int, default=100_000,
                    help="files of the hostile size case (0 to skip it)")
    ap.add_argument("--skip-hostile", action="store_true",
                    help="skip the libraries of dense similar groups")
    ap.add_argument("--cold", action="store_true",
                    help="also time the five criteria and the C loop with the page cache dropped "
                         "before each run, at the largest of --sizes (needs root)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--data", default="/work/benchdata")
    ap.add_argument("--build", default=os.path.join(REPO, "build", "bench"))
    ap.add_argument("--no-build", action="store_true")
    ap.add_argument("--json", help="write every figure to this file")
    args = ap.parse_args()

    tools = Tools(args.build)
    if not args.no_build:
        tools.ensure_built()
    os.makedirs(args.data, exist_ok=True)
    sizes = parse_sizes(args.sizes)
    five_only = [n for n in parse_sizes(args.five_sizes) if n not in sizes]
    dupeguru_sizes = [] if args.skip_dupeguru else parse_sizes(args.dupeguru_sizes)
    has_catalogue_only = tools.cli_supports("--catalogue-only")
    no_cache = ["--no-cache"] if tools.cli_supports("--no-cache") else []
    cache_sizes = parse_sizes(args.cache_sizes) if no_cache and os.geteuid() == 0 else []

    commit = subprocess.run(["git", "-C", REPO, "rev-parse", "--short", "HEAD"],
                            capture_output=True, text=True).stdout.strip()
    dirty = subprocess.run(["git", "-C", REPO, "status", "--porcelain", "--untracked-files=no"],
                           capture_output=True, text=True).stdout.strip() != ""
    results = {
        "date": datetime.datetime.now().isoformat(timespec="seconds"),
        "commit": commit + ("+changes" if dirty else ""),
        "cpu": next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo")
                     if l.startswith("model name")), "?"),
        "cores": os.cpu_count(),
        "runs": args.runs,
        "sizes": {},
        # The machine may be shared: the load average beside the figures tells how much.
        "load_start": round(os.getloadavg()[0], 1),
    }

    latency_delays = [float(d) for d in args.latency_delays.split(",") if d.strip()]
    if args.latency_only or args.stop_only:
        args.audio_sizes = ""
    for n in parse_sizes(args.audio_sizes):
        log(f"== Exact Audio, dense library of {n:,} files")
        results.setdefault("audio", {})[str(n)] = audio_comparison(tools, args.data, n,
                                                                   args.seed, args.runs)
    if args.audio_only or args.latency_only or args.stop_only:
        sizes, five_only, dupeguru_sizes = [], [], []
        args.skip_checks = True
        args.hostile_files = 0
        args.skip_hostile = True
        args.cold = False
        cache_sizes = []

    for n in sorted(set(sizes + five_only)):
        log(f"== {n:,} files")
        folder = library(tools, args.data, n, args.seed)
        runs = args.runs if n < 1_000_000 else args.runs_large
        commands = {}
        if n in sizes:
            commands["find"] = ["find", folder, "-iname", "*.mp3"]
            if has_catalogue_only:
                commands["scan"] = [tools.cli, "--catalogue-only", folder]
            commands["readloop"] = [tools.readloop, folder]
            commands["exact_tag"] = [tools.cli, "--exact-tag", *no_cache, folder]
            commands["similar_tag"] = [tools.cli, "--similar-tag", *no_cache, folder]
        commands["similar_filename"] = [tools.cli, "--similar-filename", *no_cache, folder]
        commands["readloop_head"] = [tools.readloop, "--head", folder]
        commands["five"] = [tools.cli, *ALL_FIVE, *no_cache, folder]
        envs = {}
        cache_home = tempfile.TemporaryDirectory(prefix="tunesift-cache-")
        if no_cache:
            # The facts cache beside it: warm (filled by the warm-up run), and empty before each
            # run (a first run).
            warm = dict(os.environ, XDG_CACHE_HOME=os.path.join(cache_home.name, "warm"))
            empty = os.path.join(cache_home.name, "empty")

            def empty_env():
                shutil.rmtree(empty, ignore_errors=True)
                return dict(os.environ, XDG_CACHE_HOME=empty)

            commands["five_warm"] = commands["five_empty"] = [tools.cli, *ALL_FIVE, folder]
            envs = {"five_warm": lambda: warm, "five_empty": empty_env}
        log(f"   timing {len(commands)} commands, {runs} runs each after a warm-up run")
        entry = {"times": measure(commands, runs, envs), "load": round(os.getloadavg()[0], 1)}
        cache_home.cleanup()

        if n in sizes and not args.skip_checks:
            paths = similarity.catalogue([folder])
            entry["catalogue"] = len(paths)
            if has_catalogue_only:
                out = subprocess.run([tools.cli, "--catalogue-only", folder], check=True,
                                     capture_output=True, text=True).stdout
                found = re.findall(r"\d+", out)
                entry["catalogue_cli"] = int(found[-1]) if found else None
            log("   checking the rows of Similar Filename and Similar Tag")
            names = [p[p.rfind("/") + 1 :] for p in paths]
            entry["similar_filename_check"] = check_similar(tools, folder, paths, names,
                                                            "--similar-filename")
            titles = [similarity.read_tag_title(p) for p in paths]
            entry["similar_tag_check"] = check_similar(tools, folder, paths, titles,
                                                       "--similar-tag")
            if n == min(sizes):
                log("   tracing the opens of a five-criteria run")
                entry["trace"] = trace_opens(tools, folder)

        if n in dupeguru_sizes:
            log("   running dupeGuru's fuzzy filename engine (slow above 10,000 files)")
            proc = subprocess.run(["/usr/bin/python3", os.path.join(HERE, "dupeguru_fuzzy.py"),
                                   "--exhaustive", folder], check=True, capture_output=True,
                                  text=True)
            entry["dupeguru"] = json.loads(proc.stdout)
        results["sizes"][str(n)] = entry

    if args.hostile_files:
        n = args.hostile_files
        log(f"== {n:,} distinct sizes, all multiples of 1 MiB, against random ones")
        commands = {kind: [tools.cli, "--exact-filesize", *no_cache,
                           size_library(args.data, n, kind == "mib", args.seed)]
                    for kind in ("mib", "random")}
        results["hostile_sizes"] = {"files": n, "times": measure(commands, args.runs)}

    if not args.skip_hostile:
        results["hostile"] = {}
        for key, text, folders, per_folder, name_of in HOSTILE:
            log(f"== dense group: {text}")
            folder = hostile_library(args.data, key, folders, per_folder, name_of)
            entry = {"text": text, "files": folders * per_folder,
                     "times": measure({"similar_filename": [tools.cli, "--similar-filename",
                                                            *no_cache, folder]}, args.runs)}
            rows = cli_rows(tools, folder, ["--similar-filename"])
            paths = [r[0] for r in rows]
            entry["rows"] = len(paths)
            entry["rows_distinct"] = len(set(paths))
            results["hostile"][key] = entry

    if args.cold and sizes:
        n = max(sizes)
        folder = library(tools, args.data, n, args.seed)
        log(f"== cold cache, {n:,} files")
        cold = defaultdict(list)
        for r in range(args.runs):
            for key, argv in (("five", [tools.cli, *ALL_FIVE, *no_cache, folder]),
                              ("readloop_head", [tools.readloop, "--head", folder])):
                drop_caches()
                cold[key].append(run_timed(argv)[0])
        results["cold"] = {"files": n, **{k: statistics.median(v) for k, v in cold.items()}}

    results["cached"] = {}
    for n in cache_sizes:
        log(f"== cached run, {n:,} files, caches dropped before each run")
        results["cached"][str(n)] = measure_cached(tools, library(tools, args.data, n, args.seed),
                                                   args.runs if n < 1_000_000 else args.runs_large)
    if no_cache and os.geteuid() == 0:
        for n in parse_sizes(args.cache_dense):
            log(f"== cached run, dense library of {n:,} files, caches dropped before each run")
            folder = os.path.join(args.data, f"dense-{n}-s{args.seed}")
            subprocess.run([tools.make_library, "--dense", "--seed", str(args.seed), str(n),
                            folder], check=True, capture_output=True)
            results["cached"][f"dense {n}"] = measure_cached(tools, folder, args.runs)
    results["stop"] = {}
    stop_criteria = ["--" + c.strip().lstrip("-") for c in args.stop_criteria.split(",")
                     if c.strip()]
    for n in parse_sizes(args.stop_sizes):
        log(f"== stop latency, {' '.join(stop_criteria) or 'six criteria'}, {n:,} files, Ctrl-C"
            f" early and late in every phase")
        results["stop"][str(n)] = stop_latency(
            tools, library(tools, args.data, n, args.seed), stop_criteria,
            [m.strip() for m in args.stop_modes.split(",") if m.strip()])
    if args.stop_only:
        print(json.dumps(results["stop"], indent=1))
        return
    results["peak"] = {}
    for n in parse_sizes(args.peak_sizes):
        log(f"== peak memory, six criteria with the cache, {n:,} files")
        results["peak"][str(n)] = peak_with_cache(tools, library(tools, args.data, n, args.seed))

    if latency_delays and not args.audio_only:
        n = args.latency_size
        log(f"== network share, {n:,} files, {args.latency_delays} ms per request")
        results["latency"] = latency_table(tools, library(tools, args.data, n, args.seed),
                                           latency_delays, args.latency_runs,
                                           args.latency_timeout)

    if not args.audio_only and not args.latency_only:
        log("== literal walk check")
        results["oracle"] = run_oracle(tools, args.data, args.oracle_size, args.seed)

    results["load_end"] = round(os.getloadavg()[0], 1)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    report(results, has_catalogue_only)
