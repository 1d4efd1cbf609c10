"""Tunesift's side of the benchmark checks, written independently of the C++ engine.

- catalogue(): the files a scan catalogues, in the scan's order (each folder's MP3 files in
  listing order, folders depth-first in pre-order, hidden entries and symbolic links left alone).
- read_tag_title(): the quick ID3v1 title read of the search.
- split_words() / word_similarity() / passes(): the word measure of the similar criteria.
- passing_pairs(): every pair (i < j) of texts that passes the similar criterion, found through an
  inverted word index instead of the all-pairs walk, so 100,000 names take seconds.

Letter case follows Unicode's simple per-code-point mapping, approximated with Python's full
mapping wherever that yields a single character (the libraries the benchmark makes hold ASCII and
a few Latin-1 letters, for which the two agree).
"""

import os
from bisect import bisect_right

STOP_WORDS = ("and", "of", "the")
THRESHOLD = 0.9


def _simple_lower(text):
    if text.isascii():
        return text.lower()
    return "".join(c.lower() if len(c.lower()) == 1 else c for c in text)


def _simple_upper(text):
    if text.isascii():
        return text.upper()
    return "".join(c.upper() if len(c.upper()) == 1 else c for c in text)


def catalogue(folders):
    """Full paths of the MP3 files the scans of the given folders catalogue, in order."""
    paths = []
    for folder in folders:
        top = folder[:-1] if folder.endswith("/") else folder
        _scan(top + "/", paths)
    return paths


def _is_listed_name(name):
    if name.startswith("."):
        return False
    try:
        name.encode("utf-8")
    except UnicodeEncodeError:  # not valid UTF-8 on disk: skipped with a message
        return False
    return True


def _scan(folder, paths):
    # The queue holds every folder first (pre-order); then each folder's files are listed.
    queue = [folder]
    _list_subfolders(folder, queue)
    for f in queue:
        try:
            with os.scandir(f) as it:
                for e in it:
                    if (
                        _is_listed_name(e.name)
                        and e.name.lower().endswith(".mp3")
                        and e.is_file(follow_symlinks=False)
                    ):
                        paths.append(f + e.name)
        except OSError:
            pass


def _list_subfolders(folder, queue):
    names = []
    try:
        with os.scandir(folder) as it:
            for e in it:
                if _is_listed_name(e.name) and e.is_dir(follow_symlinks=False):
                    names.append(e.name)
    except OSError:
        return
    for n in names:
        sub = folder + n + "/"
        queue.append(sub)
        _list_subfolders(sub, queue)


def read_tag_title(path):
    """The title of the file's ID3v1 tag, trailing spaces removed (NULs stay); '' for none."""
    try:
        with open(path, "rb") as f:
            f.seek(0, os.SEEK_END)
            size = f.tell()
            if size < 128:
                return ""
            f.seek(size - 128)
            tag = f.read(128)
    except OSError:
        return ""
    if tag[:3] != b"TAG":
        return ""
    return tag[3:33].decode("latin-1").rstrip(" ")


def split_words(text):
    parts = text.split(" ")
    words = []
    for w in parts[:-1]:
        w = _simple_lower(w)
        if w not in STOP_WORDS:
            words.append(w)
    words.append(parts[-1])  # the last word is kept as it is
    return words


def word_similarity(a, b):
    upper_b = {_simple_upper(w) for w in b}
    matched = sum(1 for w in a if _simple_upper(w) in upper_b)
    return matched / max(len(a), len(b))


def passes(first_text, second_text):
    """The similar criteria's pair test, first_text being the lower catalogue index."""
    if first_text == second_text:
        return False
    return word_similarity(split_words(first_text), split_words(second_text)) > THRESHOLD


def _least_matches(na):
    m = 0
    while m <= na and not m / na > THRESHOLD:
        m += 1
    return m


def passing_pairs(texts):
    """Every pair (i, j), i < j, of entries whose texts pass the similar criterion.

    Equal texts never pass, so the work is done on distinct texts: a text pair (T, U) passes when
    the measure with T first exceeds the threshold, and then every entry pair i < j with text(i) = T
    and text(j) = U passes.
    """
    entries = {}
    for k, t in enumerate(texts):
        entries.setdefault(t, []).append(k)
    distinct = list(entries)
    words = [split_words(t) for t in distinct]
    uppers = [[_simple_upper(w) for w in ws] for ws in words]
    upper_sets = [set(u) for u in uppers]
    index = {}
    for d, us in enumerate(upper_sets):
        for w in us:
            index.setdefault(w, []).append(d)

    pairs = []
    for d, ua in enumerate(uppers):
        na = len(ua)
        allowed_misses = na - _least_matches(na)
        probes = sorted(upper_sets[d], key=lambda w: len(index[w]))[: allowed_misses + 1]
        candidates = set()
        for w in probes:
            candidates.update(index[w])
        candidates.discard(d)
        for e in candidates:
            nb = len(uppers[e])
            ub = upper_sets[e]
            matched = sum(1 for w in ua if w in ub)
            if matched / max(na, nb) > THRESHOLD:
                first = entries[distinct[d]]
                second = entries[distinct[e]]
                for i in first:
                    # entries of the second text that stand after i
                    for j in second[bisect_right(second, i) :]:
                        pairs.append((i, j))
    pairs.sort()
    return pairs


def files_in_pairs(pairs):
    members = set()
    for i, j in pairs:
        members.add(i)
        members.add(j)
    return members
