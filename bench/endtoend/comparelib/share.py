"""The network-share table: runs through a slow FUSE file system that counts requests."""

import os
import shutil
import statistics
import subprocess
import tempfile
import time
from collections import defaultdict

import similarity
from comparelib.common import (
    ALL_FIVE, GOAL_SHARE_DELAY_MS, GOAL_SHARE_FIVE_RATIO, GOAL_SHARE_FIVE_TRIPS,
    GOAL_SHARE_WARM_RATIO, GOAL_SHARE_WARM_TRIPS, fmt_s, load_average, log,
)
from comparelib.timing import run_timed


# The words of latencyfs's control file: magic, delay in ns, then one counter per request kind.
LATENCY_MAGIC = 0x3173666379746c61
LATENCY_KINDS = ["lookup", "getattr", "opendir", "readdir", "releasedir", "open", "read", "flush",
                 "release", "statfs", "readlink", "other", "forget"]
# The close of a file is one round trip, its flush (see latencyfs.c); forgets are never answered.
LATENCY_TRIPS = [k for k in LATENCY_KINDS if k not in ("forget", "release")]


class LatencyShare:
    """A library mounted through latencyfs; the delay can be changed while it is mounted."""

    def __init__(self, tools, source, timeout_s):
        self.dir = tempfile.mkdtemp(prefix="tunesift-share-")
        self.control = os.path.join(self.dir, "control")
        self.mount = os.path.join(self.dir, "mnt")
        self.timeout_s = timeout_s
        os.mkdir(self.mount)
        self.proc = subprocess.Popen([tools.latencyfs, "--timeout", str(timeout_s), self.control,
                                      source, self.mount], stderr=subprocess.PIPE)
        deadline = time.time() + 10
        while time.time() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError("latencyfs: " + self.proc.stderr.read().decode(errors="replace"))
            if os.path.exists(self.control) and self._words()[0] == LATENCY_MAGIC:
                return
            time.sleep(0.05)
        self.close()
        raise RuntimeError("latencyfs did not mount")

    def _words(self):
        import struct
        with open(self.control, "rb") as f:
            data = f.read()
        return list(struct.unpack(f"<{len(data) // 8}Q", data)) if len(data) >= 16 else [0, 0]

    def _write(self, index, values):
        import struct
        with open(self.control, "r+b") as f:
            f.seek(8 * index)
            f.write(struct.pack(f"<{len(values)}Q", *values))

    def set_delay(self, ms):
        self._write(1, [int(round(ms * 1e6))])

    def settle(self):
        """Waits until the kernel has let go of what it kept of names and attributes."""
        time.sleep(self.timeout_s + 0.3)

    def reset(self):
        self._write(2, [0] * len(LATENCY_KINDS))

    def counts(self):
        return dict(zip(LATENCY_KINDS, self._words()[2:]))

    def close(self):
        subprocess.run(["fusermount3", "-u", self.mount], stderr=subprocess.DEVNULL)
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def latency_missing(tools):
    if not os.path.exists("/dev/fuse"):
        return "no /dev/fuse on this machine"
    if shutil.which("fusermount3") is None:
        return "fusermount3 missing (Debian package fuse3)"
    if not os.path.exists(tools.latencyfs):
        return "latencyfs not built (Debian package libfuse3-dev)"
    return None


def latency_table(tools, folder, delays, runs, timeout_s):
    """The C loop, find and tunesift-cli through a share that waits on every request."""
    missing = latency_missing(tools)
    if missing:
        return {"status": f"skipped: {missing}"}
    share = LatencyShare(tools, folder, timeout_s)
    cache_home = tempfile.mkdtemp(prefix="tunesift-share-cache-")
    env = dict(os.environ, XDG_CACHE_HOME=cache_home)
    mnt = share.mount
    commands = {
        "readloop_head": ([tools.readloop, "--head", mnt], None),
        "find": (["find", mnt, "-iname", "*.mp3"], None),
        "five": ([tools.cli, *ALL_FIVE, "--no-cache", mnt], None),
        "five_warm": ([tools.cli, *ALL_FIVE, mnt], env),
        "scan": ([tools.cli, "--catalogue-only", mnt], None),
    }
    entry = {"status": "ok", "timeout_s": timeout_s, "delays": {}, "load": [load_average()]}
    try:
        share.set_delay(0)
        # The cache is filled through the mount itself: it knows files by device and inode.
        base = subprocess.run([tools.cli, *ALL_FIVE, "--no-cache", "--format", "tsv", mnt],
                              check=True, capture_output=True).stdout
        subprocess.run([tools.cli, *ALL_FIVE, mnt], check=True, capture_output=True, env=env)
        warm = subprocess.run([tools.cli, *ALL_FIVE, "--format", "tsv", mnt], check=True,
                              capture_output=True, env=env).stdout
        direct = subprocess.run([tools.cli, *ALL_FIVE, "--no-cache", "--format", "tsv", folder],
                                check=True, capture_output=True).stdout
        entry["rows_equal"] = base == warm and base.replace(mnt.encode(), folder.encode()) == direct
        entry["files"] = len(similarity.catalogue([folder]))
        for ms in delays:
            log(f"   {ms:g} ms per request")
            share.set_delay(ms)
            samples = defaultdict(list)
            counts = {}
            for r in range(runs):
                for key, (argv, e) in commands.items():
                    share.settle()
                    share.reset()
                    samples[key].append(run_timed(argv, e)[0])
                    counts[key] = share.counts()
            entry["delays"][str(ms)] = {
                key: {"median_s": statistics.median(v), "counts": counts[key]}
                for key, v in samples.items()
            }
        entry["load"].append(load_average())
    finally:
        share.close()
        shutil.rmtree(cache_home, ignore_errors=True)
    return entry


def latency_report(lat, lines, goals):
    goal_text = (f"at {GOAL_SHARE_DELAY_MS:g} ms per request: five criteria --no-cache at most "
                 f"{GOAL_SHARE_FIVE_RATIO:g}x the C loop and {GOAL_SHARE_FIVE_TRIPS:g} round trips "
                 f"per file; with a warm cache at most {GOAL_SHARE_WARM_RATIO:g}x and "
                 f"{GOAL_SHARE_WARM_TRIPS:g}")
    if not lat or lat.get("status") != "ok":
        lines.append(f"network share: {lat.get('status') if lat else 'not run'}")
        goals.append((None, goal_text))
        return
    n = lat["files"]
    delays = sorted(lat["delays"], key=float)
    labels = {
        "readloop_head": "C loop (walk + first 4 KiB + last 128 B)",
        "find": "find -iname '*.mp3'",
        "five": "tunesift-cli --no-cache, five criteria",
        "five_warm": "the same, facts cache warm",
        "scan": "tunesift-cli --catalogue-only",
    }
    lines.append(f"network share (latencyfs, names and attributes kept {lat['timeout_s']:g} s), "
                 f"{n:,} files; time, ratio to the C loop, round trips per file; load average "
                 f"{' to '.join(str(l) for l in lat['load'])}; rows through the share equal: "
                 + ("yes" if lat.get("rows_equal") else "NO"))
    head = f"  {'':<42}" + "".join(f"{d + ' ms':>24}" for d in delays)
    lines.append(head)
    for key, label in labels.items():
        cells = []
        for d in delays:
            e = lat["delays"][d][key]
            loop = lat["delays"][d]["readloop_head"]["median_s"]
            trips = sum(e["counts"][k] for k in LATENCY_TRIPS)
            cells.append(f"{fmt_s(e['median_s'])} {e['median_s'] / loop:.2f}x "
                         f"{trips / n:.2f}/f")
        lines.append(f"  {label:<42}" + "".join(f"{c:>24}" for c in cells))
    last = delays[-1]
    lines.append(f"  round trips by kind at {last} ms:")
    for key, label in labels.items():
        c = lat["delays"][last][key]["counts"]
        lines.append(f"    {key:<14}" + ", ".join(f"{k} {c[k]:,}" for k in LATENCY_KINDS if c[k]))
    goal = lat["delays"].get(str(GOAL_SHARE_DELAY_MS)) or next(
        (v for d, v in lat["delays"].items() if float(d) == GOAL_SHARE_DELAY_MS), None)
    if not goal:
        goals.append((None, goal_text))
        return
    loop = goal["readloop_head"]["median_s"]

    def trips(key):
        return sum(goal[key]["counts"][k] for k in LATENCY_TRIPS) / n

    five_r, warm_r = goal["five"]["median_s"] / loop, goal["five_warm"]["median_s"] / loop
    goals.append((five_r <= GOAL_SHARE_FIVE_RATIO and trips("five") <= GOAL_SHARE_FIVE_TRIPS,
                  f"share at {GOAL_SHARE_DELAY_MS:g} ms, five criteria --no-cache at most "
                  f"{GOAL_SHARE_FIVE_RATIO:g}x the C loop and {GOAL_SHARE_FIVE_TRIPS:g} round "
                  f"trips per file: {five_r:.2f}x, {trips('five'):.2f}"))
    goals.append((warm_r <= GOAL_SHARE_WARM_RATIO and trips("five_warm") <= GOAL_SHARE_WARM_TRIPS,
                  f"share at {GOAL_SHARE_DELAY_MS:g} ms, warm facts cache at most "
                  f"{GOAL_SHARE_WARM_RATIO:g}x the C loop and {GOAL_SHARE_WARM_TRIPS:g} round "
                  f"trips per file: {warm_r:.2f}x, {trips('five_warm'):.2f}"))
