"""The goals, the hostile names and the small helpers every part of the comparison shares."""

import os
import sys

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REPO = os.path.dirname(os.path.dirname(HERE))


ALL_FIVE = [
    "--exact-filename",
    "--exact-filesize",
    "--similar-filename",
    "--exact-tag",
    "--similar-tag",
]

GOAL_FIVE_RATIO = 1.5
GOAL_WARM_RATIO = 1.0
GOAL_EMPTY_RATIO = 1.15
GOAL_SCAN_RATIO = 1.3
GOAL_DUPEGURU_SPEEDUP = 300.0
GOAL_GROWTH = 11.0
GOAL_PEAK_MB = 400.0
GOAL_AUDIO_JDUPES_RATIO = 1.2
GOAL_HOSTILE_SIZES_RATIO = 1.5
GOAL_HOSTILE_MB = 150.0
GOAL_HOSTILE_S = 5.0
GOAL_COLD_RATIO = 1.0

# Dense similar groups: (key, description, folders, names per folder, name of the k-th file).
CASE_WORDS = "Crimson River Falls Beneath Silent Northern Mountains Where Ancient Wolves Sleep"


def case_variant(k):
    """The k-th spelling of one 11-word name: letter case from the bits of k."""
    letters = [c for c in CASE_WORDS]
    bit = 0
    for i, c in enumerate(letters):
        if c.isalpha():
            letters[i] = c.upper() if (k >> bit) & 1 else c.lower()
            bit = (bit + 1) % 15
    return "".join(letters) + ".mp3"


def chapter(k):
    return f"Tolstoy Leo - War Peace Unabridged Audiobook Read By Narrator Chapter {k + 1:05d}.mp3"


HOSTILE = [
    ("case", "20,000 names differing only in letter case, 11 words, in 20 folders", 20, 1000,
     case_variant),
    ("audiobook", "10,000 audiobook chapters of 12 words differing in one word", 20, 500,
     chapter),
]
GOAL_CACHED_RATIO = 1.2
# On a share that answers every request after 2 ms: time against the one-threaded C loop, and
# requests ("round trips") per catalogued file.
GOAL_SHARE_DELAY_MS = 2.0
GOAL_SHARE_FIVE_RATIO = 0.4
GOAL_SHARE_FIVE_TRIPS = 4.5
GOAL_SHARE_WARM_RATIO = 0.12
GOAL_SHARE_WARM_TRIPS = 1.2
SIX = ALL_FIVE + ["--exact-audio"]


def load_average():
    return round(os.getloadavg()[0], 2)


def log(*parts):
    print(*parts, file=sys.stderr, flush=True)


def parse_sizes(text):
    """'10k,100k,1M' or '10000,100000' into numbers."""
    sizes = []
    for part in (text or "").split(","):
        part = part.strip().replace("_", "")
        if not part:
            continue
        scale = {"k": 1_000, "K": 1_000, "m": 1_000_000, "M": 1_000_000}.get(part[-1], 1)
        sizes.append(int(part[:-1] if scale != 1 else part) * scale)
    return sizes


def fmt_s(s):
    return f"{s:.3f} s" if s < 100 else f"{s:.0f} s"
