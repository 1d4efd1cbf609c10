"""Timed runs, the checks of what is timed, and the cached and peak-memory runs."""

import os
import re
import shutil
import statistics
import subprocess
import tempfile
import time
from collections import Counter, defaultdict

import similarity
from comparelib.common import ALL_FIVE, SIX, load_average
from comparelib.libraries import library


def run_timed(argv, env=None):
    """Runs argv once under /usr/bin/time -v; returns (wall seconds, peak KiB)."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-v", "-o", report.name, *argv],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
        wall = time.perf_counter() - start
        if proc.returncode != 0:
            raise RuntimeError(f"{' '.join(argv)} failed ({proc.returncode}): "
                               f"{proc.stderr.decode(errors='replace')[-500:]}")
        text = report.read()
    peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1))
    return wall, peak


def measure(commands, runs, envs=None):
    """Warms up with one run of each command, then times them in interleaved rounds. envs gives,
    per key, a function called before each of its runs that returns the run's environment."""
    envs = envs or {}

    def once(key, argv):
        return run_timed(argv, envs[key]() if key in envs else None)

    for key, argv in commands.items():
        once(key, argv)
    samples = defaultdict(list)
    for r in range(runs):
        for key, argv in commands.items():
            samples[key].append(once(key, argv))
    return {
        key: {
            "median_s": statistics.median(w for w, _ in s),
            "min_s": min(w for w, _ in s),
            "max_s": max(w for w, _ in s),
            "peak_kib": max(p for _, p in s),
            "runs": len(s),
        }
        for key, s in samples.items()
    }



def measure_cached(tools, folder, runs):
    """The second run with the cache against the five criteria without it, both cold; and the
    first run with an empty cache against the same. Rows must be equal."""
    criteria = ALL_FIVE + (["--exact-audio"] if tools.cli_supports("--exact-audio") else [])
    base = [tools.cli, *ALL_FIVE, "--no-cache", folder]
    cached = [tools.cli, *criteria, folder]
    samples = defaultdict(list)
    load = [load_average()]
    with tempfile.TemporaryDirectory(prefix="tunesift-cache-") as home:
        env = dict(os.environ, XDG_CACHE_HOME=os.path.join(home, "filled"))
        empty = os.path.join(home, "empty")
        rows_base = subprocess.run([*base[:-1], "--format", "tsv", folder], check=True,
                                   capture_output=True).stdout
        filled = subprocess.run([*cached[:-1], "--format", "tsv", folder], check=True,
                                capture_output=True, env=env)
        again = subprocess.run([*cached[:-1], "--format", "tsv", folder], check=True,
                               capture_output=True, env=env)
        for r in range(runs):
            drop_caches()
            samples["base"].append(run_timed(base))
            drop_caches()
            samples["second"].append(run_timed(cached, env))
            shutil.rmtree(empty, ignore_errors=True)
            drop_caches()
            samples["first"].append(run_timed(cached, dict(os.environ, XDG_CACHE_HOME=empty)))
        cache_bytes = sum(os.path.getsize(os.path.join(d, f))
                          for d, _, fs in os.walk(os.path.join(home, "filled")) for f in fs)
    five_rows = lambda out: [l for l in out.splitlines()]  # noqa: E731
    same = (criteria != ALL_FIVE or five_rows(filled.stdout) == five_rows(rows_base)) and \
        filled.stdout == again.stdout and not filled.stderr and not again.stderr
    load.append(load_average())
    return {
        "criteria": criteria,
        "load": load,
        "rows_equal": same,
        "cache_bytes": cache_bytes,
        "times": {k: {"median_s": statistics.median(w for w, _ in s),
                      "peak_kib": max(p for _, p in s), "runs": len(s)}
                  for k, s in samples.items()},
    }


def cli_rows(tools, folder, options):
    out = subprocess.run([tools.cli, *options, "--format", "tsv", folder], check=True,
                         capture_output=True, text=True, errors="surrogateescape")
    return [line.split("\t") for line in out.stdout.splitlines() if line]


def check_similar(tools, folder, paths, texts, option):
    """Rows of one similar criterion against every passing pair found exhaustively."""
    start = time.perf_counter()
    pairs = similarity.passing_pairs(texts)
    expected = {paths[k] for k in similarity.files_in_pairs(pairs)}
    python_s = time.perf_counter() - start
    rows = cli_rows(tools, folder, [option])
    got = [r[0] for r in rows]
    return {
        "pairs": len(pairs),
        "expected_files": len(expected),
        "rows": len(got),
        "rows_distinct": len(set(got)),
        "missing": len(expected - set(got)),
        "extra": len(set(got) - expected),
        "equal": set(got) == expected and len(got) == len(set(got)),
        "python_s": python_s,
    }


def trace_opens(tools, folder):
    """Counts the opens of every catalogued file in one five-criteria run, by its row count."""
    if shutil.which("strace") is None:
        return {"status": "strace missing"}
    with tempfile.TemporaryDirectory() as tmp:
        trace = os.path.join(tmp, "trace")
        rows_file = os.path.join(tmp, "rows")
        with open(rows_file, "w") as out:
            # -y follows every returned descriptor with the absolute path it opened (so opens
            # relative to a folder descriptor and calls split across threads count alike), -xx
            # prints every path byte as \xNN and -s keeps long paths whole.
            subprocess.run(["strace", "-f", "-qq", "-y", "-xx", "-s", "65535", "-e",
                            "trace=openat,open", "-o", trace,
                            tools.cli, *ALL_FIVE, "--format", "tsv",
                            # a warm facts cache would spare the reads that are counted here
                            *(["--no-cache"] if tools.cli_supports("--no-cache") else []),
                            folder],
                           check=True, stdout=out, stderr=subprocess.DEVNULL)
        opens = Counter()
        pattern = re.compile(r"=\s+\d+<((?:\\x[0-9a-f]{2})+)>")
        with open(trace) as f:
            for line in f:
                m = pattern.search(line)
                if m:
                    raw = bytes.fromhex(m.group(1).replace("\\x", ""))
                    opens[raw.decode("utf-8", "surrogateescape")] += 1
        rows = Counter()
        with open(rows_file, errors="surrogateescape") as f:
            for line in f:
                rows[line.split("\t", 1)[0]] += 1
    by_rows = defaultdict(list)
    for path in similarity.catalogue([folder]):
        by_rows[rows.get(path, 0)].append(opens.get(os.path.realpath(path), 0))
    summary = {
        str(r): {"files": len(v), "min_opens": min(v), "max_opens": max(v)}
        for r, v in sorted(by_rows.items())
    }
    single = [o for r, v in by_rows.items() if r == 1 for o in v]
    several = [o for r, v in by_rows.items() if r >= 2 for o in v]
    once = bool(several) and bool(single) and max(several) <= max(single)
    # A file with a row was analysed, so it must show at least one open; if one shows none, the
    # trace missed opens and proves nothing.
    if min(single + several, default=0) < 1:
        return {"status": "incomplete trace: a file with rows shows no open", "by_rows": summary}
    return {"status": "ok", "by_rows": summary, "analysed_once": once,
            "files_in_several_rows": len(several)}


def run_oracle(tools, data, n, seed):
    if n <= 0:
        return {"status": "skipped (--oracle-size 0)"}
    if not os.path.exists(tools.oracle_check):
        return {"status": "pending: no literal-walk tool built (bench/endtoend/oracle_check)"}
    folder = library(tools, data, n, seed)
    proc = subprocess.run([tools.oracle_check, folder], capture_output=True, text=True)
    # 0: rows and host calls equal; 3: rows equal, host calls differ; otherwise rows differ.
    return {"status": "ok" if proc.returncode in (0, 3) else "differs", "files": n,
            "output": proc.stdout[-2000:], "equal": proc.returncode in (0, 3),
            "host_calls_equal": proc.returncode == 0}


def drop_caches():
    """Empties the page cache so that the next run reads from the disk; False without root."""
    subprocess.run(["sync"], check=True)
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
        return True
    except OSError:
        return False


def peak_with_cache(tools, folder):
    """Peak memory of all six criteria with the cache: the first run (empty cache), the second."""
    with tempfile.TemporaryDirectory(prefix="tunesift-cache-") as home:
        env = dict(os.environ, XDG_CACHE_HOME=home)
        load = [load_average()]
        first = run_timed([tools.cli, *SIX, folder], env)
        second = run_timed([tools.cli, *SIX, folder], env)
        load.append(load_average())
    return {"first": {"s": first[0], "peak_kib": first[1]},
            "second": {"s": second[0], "peak_kib": second[1]}, "load": load}
