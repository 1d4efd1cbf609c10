"""The table of figures and one line per goal."""


from comparelib.common import (
    GOAL_AUDIO_JDUPES_RATIO, GOAL_CACHED_RATIO, GOAL_COLD_RATIO, GOAL_DUPEGURU_SPEEDUP,
    GOAL_EMPTY_RATIO, GOAL_FIVE_RATIO, GOAL_GROWTH, GOAL_HOSTILE_MB, GOAL_HOSTILE_S,
    GOAL_HOSTILE_SIZES_RATIO, GOAL_PEAK_MB, GOAL_SCAN_RATIO, GOAL_WARM_RATIO, fmt_s,
)
from comparelib.share import latency_report


def report(results, has_catalogue_only):
    sizes = results["sizes"]
    cold = results.get("cold")
    lines = []
    header = f"{'figure':<34}{'files':>11}{'Tunesift':>12}{'peer':>12}{'ratio':>14}  peer"
    lines.append(header)
    lines.append("-" * len(header))

    def row(label, n, ours, peer, ratio, peer_name):
        lines.append(f"{label:<34}{n:>11,}{ours:>12}{peer:>12}{ratio:>14}  {peer_name}".rstrip())

    for key in sorted(sizes, key=int):
        n = int(key)
        e = sizes[key]
        t = e["times"]
        if "scan" in t:
            row("scan alone", n, fmt_s(t["scan"]["median_s"]), fmt_s(t["find"]["median_s"]),
                f"{t['scan']['median_s'] / t['find']['median_s']:.2f}x", "find -iname '*.mp3'")
        elif "find" in t:
            row("scan alone", n, "pending", fmt_s(t["find"]["median_s"]), "-",
                "find -iname '*.mp3' (no --catalogue-only yet)")
        for k, label in (("exact_tag", "Exact Tag"), ("similar_tag", "Similar Tag")):
            if k in t:
                row(label, n, fmt_s(t[k]["median_s"]), fmt_s(t["readloop"]["median_s"]),
                    f"{t[k]['median_s'] / t['readloop']['median_s']:.2f}x",
                    "C loop: walk + last 128 B")
        row("five criteria", n, fmt_s(t["five"]["median_s"]),
            fmt_s(t["readloop_head"]["median_s"]),
            f"{t['five']['median_s'] / t['readloop_head']['median_s']:.2f}x",
            "C loop: walk + first 4 KiB + last 128 B")
        row("  peak memory, five criteria", n, f"{t['five']['peak_kib'] / 1024:.0f} MiB",
            f"{t['readloop_head']['peak_kib'] / 1024:.0f} MiB", "-", "")
        if "five_warm" in t:
            row("five criteria, cache warm", n, fmt_s(t["five_warm"]["median_s"]),
                fmt_s(t["readloop_head"]["median_s"]),
                f"{t['five_warm']['median_s'] / t['readloop_head']['median_s']:.2f}x", "C loop")
            row("five criteria, empty cache", n, fmt_s(t["five_empty"]["median_s"]),
                fmt_s(t["five"]["median_s"]),
                f"{t['five_empty']['median_s'] / t['five']['median_s']:.2f}x",
                "five criteria --no-cache")
        if "similar_filename" in t:
            dg = e.get("dupeguru")
            if dg:
                row("Similar Filename", n, fmt_s(t["similar_filename"]["median_s"]),
                    fmt_s(dg["seconds"]),
                    f"{dg['seconds'] / t['similar_filename']['median_s']:.0f}x faster",
                    "dupeGuru engine, threshold 91")
                row("  peak memory, Similar Filename", n,
                    f"{t['similar_filename']['peak_kib'] / 1024:.0f} MiB",
                    f"{dg['peak_kib'] / 1024:.0f} MiB", "-", "")
            else:
                row("Similar Filename", n, fmt_s(t["similar_filename"]["median_s"]), "skipped",
                    "-", "dupeGuru engine")
    hostile = results.get("hostile_sizes")
    if hostile:
        t = hostile["times"]
        row("Exact Filesize, MiB multiples", hostile["files"], fmt_s(t["mib"]["median_s"]),
            fmt_s(t["random"]["median_s"]),
            f"{t['mib']['median_s'] / t['random']['median_s']:.2f}x", "the same, random sizes")
    for key, h in results.get("hostile", {}).items():
        t = h["times"]["similar_filename"]
        row(f"Similar Filename, dense ({key})", h["files"], fmt_s(t["median_s"]),
            f"{t['peak_kib'] / 1024:.0f} MiB", "-", "peak memory beside it")
    cold = results.get("cold")
    if cold:
        row("five criteria, cold cache", cold["files"], fmt_s(cold["five"]),
            fmt_s(cold["readloop_head"]), f"{cold['five'] / cold['readloop_head']:.2f}x",
            "C loop (one thread): walk + first 4 KiB + last 128 B")
    lines.append("")

    for key, h in results.get("hostile", {}).items():
        lines.append(f"dense group ({key}): {h['text']}: {h['rows']:,} rows, "
                     f"{h['rows_distinct']:,} distinct, of {h['files']:,} files")
    for key in sorted(sizes, key=int):
        e = sizes[key]
        n = int(key)
        if "catalogue" in e:
            cli = e.get("catalogue_cli")
            lines.append(f"{n:,} files: catalogue {e['catalogue']:,} by an independent walk"
                         + (f", {cli:,} by tunesift-cli" if cli is not None else ""))
        for k, label in (("similar_filename_check", "Similar Filename"),
                         ("similar_tag_check", "Similar Tag")):
            c = e.get(k)
            if c:
                lines.append(
                    f"{n:,} files: {label}: {c['pairs']:,} pairs pass the measure, "
                    f"{c['expected_files']:,} files in them; tunesift-cli wrote {c['rows']:,} rows "
                    f"({c['missing']} missing, {c['extra']} extra): "
                    + ("identical" if c["equal"] else "DIFFERENT"))
        dg = e.get("dupeguru")
        if dg:
            lines.append(
                f"{n:,} files: dupeGuru found {dg['pairs']:,} pairs, {dg['pairs_passing_our_measure']:,}"
                f" of them pass our measure; of our {dg['our_pairs']:,} pairs it found "
                f"{dg['our_pairs_found_by_dupeguru']:,}"
                + (" (its engine ran out of memory and stopped early)"
                   if dg.get("memory_overflow") else ""))
        tr = e.get("trace")
        if tr and tr.get("status") == "ok":
            parts = ", ".join(f"{r} rows: {v['files']:,} files, {v['min_opens']}-{v['max_opens']} opens"
                              for r, v in tr["by_rows"].items())
            lines.append(f"{n:,} files: opens per file in a five-criteria run by row count: {parts}")
    oracle = results.get("oracle", {})
    lines.append(f"literal walk check: {oracle.get('status')}")
    if oracle.get("output"):
        lines.extend("  " + l for l in oracle["output"].splitlines())
    lines.append("")

    # Goals
    def at(n):
        return sizes.get(str(n))

    goals = []
    e = at(100000)
    if e:
        t = e["times"]
        r = t["five"]["median_s"] / t["readloop_head"]["median_s"]
        goals.append((r <= GOAL_FIVE_RATIO,
                      f"five criteria over 100,000 files at most {GOAL_FIVE_RATIO:g}x the C loop "
                      f"(first 4 KiB + last 128 B): {r:.2f}x"))
    else:
        goals.append((None, f"five criteria over 100,000 files at most {GOAL_FIVE_RATIO:g}x the C "
                            "loop"))
    if e and "five_warm" in e["times"]:
        t = e["times"]
        r = t["five_warm"]["median_s"] / t["readloop_head"]["median_s"]
        goals.append((r <= GOAL_WARM_RATIO,
                      f"five criteria over 100,000 files, facts cache warm, at most "
                      f"{GOAL_WARM_RATIO:g}x the C loop: {r:.2f}x"))
        r = t["five_empty"]["median_s"] / t["five"]["median_s"]
        goals.append((r <= GOAL_EMPTY_RATIO,
                      f"five criteria over 100,000 files, first run with an empty cache, at most "
                      f"{GOAL_EMPTY_RATIO:g}x the run without it: {r:.2f}x"))
    if e and "scan" in e["times"]:
        t = e["times"]
        r = t["scan"]["median_s"] / t["find"]["median_s"]
        goals.append((r <= GOAL_SCAN_RATIO,
                      f"scan alone at most {GOAL_SCAN_RATIO:g}x find -iname '*.mp3' "
                      f"(100,000 files): {r:.2f}x"))
    else:
        goals.append((None, "scan alone at most 1.3x find -iname '*.mp3' (100,000 files)"))
    if e and e.get("dupeguru") and "similar_filename" in e["times"]:
        dg = e["dupeguru"]
        speedup = dg["seconds"] / e["times"]["similar_filename"]["median_s"]
        check = e.get("similar_filename_check")
        every = check["equal"] if check else None
        ok = speedup >= GOAL_DUPEGURU_SPEEDUP and every is True
        goals.append((ok, f"Similar Filename over 100,000 names at least "
                          f"{GOAL_DUPEGURU_SPEEDUP:g}x faster than dupeGuru and finding every "
                          f"passing pair: {speedup:.0f}x, every pair "
                          + ({True: "found", False: "NOT found", None: "not checked"}[every])))
    else:
        goals.append((None, "Similar Filename over 100,000 names at least 300x faster than "
                            "dupeGuru, finding every passing pair"))
    big, mid = at(1000000), at(100000)
    if big and mid:
        growth = big["times"]["five"]["median_s"] / mid["times"]["five"]["median_s"]
        # The goal's MB are read as decimal megabytes, the stricter reading.
        peak_mb = big["times"]["five"]["peak_kib"] * 1024 / 1e6
        peak_mib = big["times"]["five"]["peak_kib"] / 1024
        goals.append((growth <= GOAL_GROWTH and peak_mb <= GOAL_PEAK_MB,
                      f"five criteria on 1,000,000 files: t(1M)/t(100k) {growth:.1f} "
                      f"(at most {GOAL_GROWTH:g}), peak memory {peak_mb:.0f} MB = "
                      f"{peak_mib:.0f} MiB (at most {GOAL_PEAK_MB:g} MB)"))
        if "similar_filename" in big["times"] and "similar_filename" in mid["times"]:
            growth = (big["times"]["similar_filename"]["median_s"]
                      / mid["times"]["similar_filename"]["median_s"])
            peak_mb = big["times"]["similar_filename"]["peak_kib"] * 1024 / 1e6
            goals.append((growth <= GOAL_GROWTH and peak_mb <= GOAL_PEAK_MB,
                          f"Similar Filename on 1,000,000 files: t(1M)/t(100k) {growth:.1f} "
                          f"(at most {GOAL_GROWTH:g}), peak memory {peak_mb:.0f} MB"))
    else:
        goals.append((None, "five criteria and Similar Filename on 1,000,000 files: linear time "
                            "and peak memory at most 400 MB"))
    for key, h in results.get("hostile", {}).items():
        t = h["times"]["similar_filename"]
        peak_mb = t["peak_kib"] * 1024 / 1e6
        every = h["rows"] == h["files"] and h["rows_distinct"] == h["files"]
        goals.append((t["median_s"] < GOAL_HOSTILE_S and peak_mb < GOAL_HOSTILE_MB and every,
                      f"Similar Filename on a dense group ({h['text']}): "
                      f"{t['median_s']:.2f} s (under {GOAL_HOSTILE_S:g} s), peak memory "
                      f"{peak_mb:.0f} MB (under {GOAL_HOSTILE_MB:g} MB), every file in one row: "
                      + ("yes" if every else "NO")))
    if cold:
        r = cold["five"] / cold["readloop_head"]
        goals.append((r < GOAL_COLD_RATIO,
                      f"cold cache, five criteria over {cold['files']:,} files faster than the "
                      f"one-threaded C loop (reads on a few threads): {r:.2f}x"))
    else:
        goals.append((None, "cold cache: five criteria against the C loop (--cold, as root)"))
    def library_name(key):
        dense = key.startswith("dense ")
        return f"{int(key.split()[-1]):,} files" + (" (dense library)" if dense else "")

    for key, c in sorted(results.get("cached", {}).items(),
                         key=lambda kv: (kv[0].startswith("dense"), int(kv[0].split()[-1]))):
        t = c["times"]
        second = t["second"]["median_s"] / t["base"]["median_s"]
        first = t["first"]["median_s"] / t["base"]["median_s"]
        lines.append(f"{library_name(key)}, cold file contents: five criteria --no-cache "
                     f"{fmt_s(t['base']['median_s'])}, {' '.join(c['criteria'])} with an empty "
                     f"cache {fmt_s(t['first']['median_s'])} ({first:.2f}x), second run with the "
                     f"cache {fmt_s(t['second']['median_s'])} ({second:.2f}x); cache file "
                     f"{c['cache_bytes'] / 1e6:.1f} MB; rows "
                     + ("equal" if c["rows_equal"] else "DIFFER")
                     + (f"; load average {c['load'][0]} to {c['load'][1]}" if "load" in c else ""))
        goals.append((second <= GOAL_CACHED_RATIO and c["rows_equal"],
                      f"second run with the cache ({library_name(key)}, contents cold, "
                      f"{' '.join(c['criteria'])}) at most {GOAL_CACHED_RATIO:g}x the five "
                      f"criteria without it: {second:.2f}x"))
    if not results.get("cached"):
        goals.append((None, "second run with the cache at most 1.2x the five criteria without "
                            "it (needs root to drop the caches)"))
    traced = [s["trace"] for s in sizes.values() if s.get("trace", {}).get("status") == "ok"]
    if traced:
        tr = traced[0]
        goals.append((tr["analysed_once"],
                      "a file standing in several rows is opened no more often than one standing "
                      f"in one row ({tr['files_in_several_rows']:,} such files)"))
    else:
        goals.append((None, "a file in several rows is analysed once per run"))
    if oracle.get("status") in ("ok", "differs"):
        goals.append((oracle["equal"], "rows of the fast engine equal the literal walk's "
                                       "(2,000 files)"))
    else:
        goals.append((None, "rows of the fast engine equal the literal walk's (2,000 files): "
                            + str(oracle.get("status"))))

    if "latency" in results or not results.get("audio"):
        latency_report(results.get("latency"), lines, goals)

    for n, a in results.get("audio", {}).items():
        warm, cold = a["warm"], a.get("cold", {})
        lines.append(f"Exact Audio, dense library: {a['library']}")
        for key in ("exact_audio", "exact_audio_nocache", "jdupes", "rmlint"):
            if key not in warm:
                continue
            cold_text = f"{cold[key]:.2f} s" if key in cold else "not measured"
            found = a["retagged_found"].get(key, a["retagged_found"]["exact_audio"])
            lines.append(f"  {key:<19} warm {warm[key]['median_s']:.2f} s, cold {cold_text}, "
                         f"peak {warm[key]['peak_kib'] / 1024:.0f} MiB, retagged copies found "
                         f"{found} of {a['retagged_total']}")
        if "load" in a:
            lines.append(f"  load average {' / '.join(str(l) for l in a['load'])} "
                         "(start, after the warm rounds, after the cold rounds)")
        found = a["retagged_found"]["exact_audio"]
        goals.append((found == a["retagged_total"],
                      f"Exact Audio finds every retagged copy: {found} of {a['retagged_total']} "
                      f"(jdupes {a['retagged_found']['jdupes']}, rmlint "
                      f"{a['retagged_found']['rmlint']})"))
        if cold:
            ratio = cold["exact_audio"] / cold["jdupes"]
            goals.append((ratio <= GOAL_AUDIO_JDUPES_RATIO,
                          f"Exact Audio first run (empty facts cache, cold page cache) at most "
                          f"{GOAL_AUDIO_JDUPES_RATIO:g}x jdupes -r: {ratio:.2f}x "
                          f"(warm {warm['exact_audio']['median_s'] / warm['jdupes']['median_s']:.2f}x)"))
    for n, p in results.get("peak", {}).items():
        worst = max(p["first"]["peak_kib"], p["second"]["peak_kib"]) * 1024 / 1e6
        lines.append(f"{int(n):,} files, six criteria with the cache: first run "
                     f"{fmt_s(p['first']['s'])}, peak {p['first']['peak_kib'] * 1024 / 1e6:.0f} MB;"
                     f" second run {fmt_s(p['second']['s'])}, peak "
                     f"{p['second']['peak_kib'] * 1024 / 1e6:.0f} MB; load average "
                     f"{p['load'][0]} to {p['load'][1]}")
        goals.append((worst <= GOAL_PEAK_MB,
                      f"peak memory at {int(n):,} files with six criteria and the cache at most "
                      f"{GOAL_PEAK_MB:g} MB: {worst:.0f} MB"))
    if hostile:
        t = hostile["times"]
        r = t["mib"]["median_s"] / t["random"]["median_s"]
        goals.append((r <= GOAL_HOSTILE_SIZES_RATIO,
                      f"Exact Filesize over {hostile['files']:,} distinct sizes, all multiples of "
                      f"1 MiB, at most {GOAL_HOSTILE_SIZES_RATIO:g}x the same count of random "
                      f"sizes: {r:.2f}x"))
    else:
        goals.append((None, "Exact Filesize over distinct sizes, all multiples of 1 MiB, at most "
                            "1.5x random sizes"))

    print(f"Tunesift benchmark, {results['date']}, commit {results['commit']}, "
          f"{results['cpu']} x{results['cores']}, medians of {results['runs']} warm runs, "
          f"load average {results.get('load_start', '?')} at the start and "
          f"{results.get('load_end', '?')} at the end")
    print()
    print("\n".join(lines))
    for ok, text in goals:
        verdict = {True: "met", False: "NOT MET", None: "not measured"}[ok]
        print(f"goal {verdict}: {text}")
