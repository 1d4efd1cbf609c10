"""Exact Audio against the whole-file duplicate finders on a dense library."""

import os
import shutil
import statistics
import subprocess
import tempfile
from collections import defaultdict

from comparelib.common import load_average
from comparelib.timing import cli_rows, drop_caches, measure, run_timed


def audio_comparison(tools, data, n, seed, runs):
    """Exact Audio alone against jdupes and rmlint on one dense library."""
    folder = os.path.join(data, f"dense-{n}-s{seed}")
    made = subprocess.run([tools.make_library, "--dense", "--seed", str(seed), str(n), folder],
                          check=True, capture_output=True, text=True).stdout
    work = tempfile.mkdtemp(prefix="tunesift-audio-")
    rmlint_out = os.path.join(work, "rmlint.fdupes")
    # The first run: with an empty cache (it writes what it read), and without one.
    empty_cache = os.path.join(work, "cache")
    commands = {
        "exact_audio": ["sh", "-c", 'rm -rf "$1"; XDG_CACHE_HOME="$1" exec "$0" --exact-audio "$2"',
                        tools.cli, empty_cache, folder],
        "exact_audio_nocache": [tools.cli, "--exact-audio",
                                *(["--no-cache"] if tools.cli_supports("--no-cache") else []),
                                folder],
        "jdupes": ["jdupes", "-r", "-q", folder],
        "rmlint": ["rmlint", "-T", "df", "-o", f"fdupes:{rmlint_out}", folder],
    }
    entry = {"library": made.strip(), "load": [load_average()],
             "warm": measure(commands, runs)}
    entry["load"].append(load_average())
    cold = defaultdict(list)
    entry["cold_measured"] = drop_caches()
    if entry["cold_measured"]:
        for r in range(runs):
            for key, argv in commands.items():
                drop_caches()
                cold[key].append(run_timed(argv)[0])
        entry["cold"] = {key: statistics.median(v) for key, v in cold.items()}
        entry["load"].append(load_average())
    # Which files each one lists: retagged copies carry "(retagged)" in their names.
    listed = {
        "exact_audio": [r[0] for r in cli_rows(tools, folder, ["--exact-audio", "--no-cache"])],
        "jdupes": subprocess.run(commands["jdupes"], check=True, capture_output=True,
                                 text=True).stdout.splitlines(),
    }
    subprocess.run(commands["rmlint"], check=True, capture_output=True, cwd=work)
    listed["rmlint"] = open(rmlint_out).read().splitlines()
    entry["retagged_total"] = sum("(retagged)" in f for _, _, fs in os.walk(folder) for f in fs)
    entry["retagged_found"] = {k: sum("(retagged)" in line for line in v)
                               for k, v in listed.items()}
    shutil.rmtree(work, ignore_errors=True)
    return entry
