"""Stop latency: Ctrl-C early and late in every phase of a run."""

import os
import re
import select
import shutil
import subprocess
import tempfile
import time

from comparelib.common import SIX, load_average, log


def work_phase(line):
    """The phase a work line names: "Scanning", or what is counted and in what ("Reading files",
    "Exact Audio files", "Exact Audio GB")."""
    m = re.match(r"(.*?):?\s*[\d,.]+ of [\d,.]+ (\w+)", line)
    return f"{m.group(1)} {m.group(2)}" if m else re.split(r"[:\d]", line, maxsplit=1)[0].strip()


def process_cpu(pid):
    """Seconds of processor time (user and system) a running process has had so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def work_fraction(line):
    """The share of its count a work line says is done, or None."""
    m = re.search(r"([\d,.]+) of ([\d,.]+) \w+", line)
    if not m:
        return None
    done, total = (float(x.replace(",", "")) for x in m.groups())
    return done / total if total else None


def watch_run(argv, env, target=None):
    """Runs argv (which asks for --progress) and follows its work lines. target: (phase number,
    fraction, seconds): Ctrl-C goes once the run is in that phase (counted from 0 in the order its
    work lines name them) and has done that share of the phase's count, or, where a line counts
    nothing, is that many seconds into it. Returns the phases ([name, first second, last line]),
    the seconds of the signal (None: not sent), of the end, the exit status, the last work line
    before the signal, and the processor seconds the run had from the signal to its end (a
    measure a loaded machine does not stretch as it does the wall time; in ticks of 10 ms)."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    fd = proc.stderr.fileno()
    phases, pending, sent, doing, cpu_at_signal = [], b"", None, "", 0.0
    while True:
        waiting = target is not None and sent is None
        ready, _, _ = select.select([fd], [], [], 0.005 if waiting else None)
        now = time.perf_counter() - start
        if ready:
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            *lines, pending = re.split(rb"[\r\n]", pending + chunk)
            for raw in lines:
                line = raw.decode(errors="replace").strip()
                if line and not line.startswith("tunesift-cli"):
                    phase = work_phase(line)
                    if not phases or phases[-1][0] != phase:
                        phases.append([phase, now, line])
                    phases[-1][2] = line
        if waiting and phases and len(phases) - 1 >= target[0]:
            name, begin, line = phases[target[0]]
            share = work_fraction(line)
            if len(phases) - 1 > target[0] or (
                    now - begin >= min(target[2], 0.2) and
                    (share >= target[1] if share is not None else now - begin >= target[2])):
                cpu_at_signal = process_cpu(proc.pid)
                sent = time.perf_counter() - start
                proc.send_signal(2)
                doing = phases[-1][2]
    proc.stderr.close()
    _, status, usage = os.wait4(proc.pid, 0)
    ended = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    cpu_after = (usage.ru_utime + usage.ru_stime - cpu_at_signal) if sent is not None else None
    return phases, sent, ended, proc.returncode, doing, cpu_after


def stop_targets(full, phases):
    """Where to stop, from the phases of a whole run: early in every phase (0.2 s in), and late in
    every phase of a second or more (at 90% of its count, or of its length where it counts
    nothing)."""
    targets = []
    ends = [p[1] for p in phases[1:]] + [full]
    for k, ((name, begin, line), end) in enumerate(zip(phases, ends)):
        counted = work_fraction(line) is not None
        targets.append((k, 0.0, 0.2))
        if end - begin >= 1.0:
            targets.append((k, 0.9 if counted else 1.0, 0.9 * (end - begin)))
    return targets


def stop_latency(tools, folder, criteria=None, modes=("no-cache", "empty cache")):
    """Ctrl-C in every phase of a run of the criteria (by default all six), early and late, as the
    run's work lines tell the phase: without the cache, and with an empty one (every file read and
    written to it). Per stop: the phase and its line when the signal went, the seconds from it to
    the end of the run, and the load average."""
    result = {}
    for mode in modes:
        with tempfile.TemporaryDirectory(prefix="tunesift-stop-") as home:
            env = dict(os.environ, XDG_CACHE_HOME=home)
            argv = [tools.cli, *(criteria or SIX), *(["--no-cache"] if mode == "no-cache" else []),
                    "--progress", folder]

            def empty():
                shutil.rmtree(os.path.join(home, "tunesift"), ignore_errors=True)

            # A whole run with the files in the page cache, as the stopped runs find them: its
            # phases and their lengths.
            empty()
            subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           check=True)
            empty()
            phases, _, full, _, _, _ = watch_run(argv, env)
            log(f"   {mode}: run of {full:.2f} s (load {load_average()}); phases: " +
                ", ".join(f"{k} {p[0]} at {p[1]:.1f} s" for k, p in enumerate(phases)))
            stops = []
            for target in stop_targets(full, phases):
                empty()
                _, sent, ended, status, doing, cpu = watch_run(argv, env, target)
                where = f"phase {target[0]}, {'late' if target[1] or target[2] > 0.2 else 'early'}"
                if sent is None or status == 0:
                    # exit 0: the run had ended before the signal came, and says nothing of a stop
                    log(f"   {mode}: {where}: the run ended first, after {ended:.2f} s")
                    stops.append({"target": target, "latency_s": None, "exit": status})
                    continue
                stops.append({"target": target, "at_s": round(sent, 3),
                              "latency_s": round(ended - sent, 3), "cpu_s": round(cpu, 3),
                              "exit": status, "doing": doing[:70], "load": load_average()})
                log(f"   {mode}: {where}: stop at {sent:6.2f} s -> ended after "
                    f"{ended - sent:.3f} s, {cpu:.2f} s CPU (exit {status}, load "
                    f"{load_average()}) {doing[:60]}")
            stopped = [st["latency_s"] for st in stops if st["latency_s"] is not None]
            result[mode] = {"full_s": round(full, 3), "phases": phases, "stops": stops,
                            "worst_s": max(stopped, default=None)}
            log(f"   {mode}: run of {full:.2f} s; worst stop latency {result[mode]['worst_s']} s"
                f" over {len(stopped)} stopped runs (goal 0.5 s)")
    return result
