"""Checks of the benchmark's own copy of the word measure and of its exhaustive pair finder, which
bench/endtoend/compare uses to judge the engine's similar criteria. Run: python3 bench/endtoend/similarity_test.py
"""

import os
import random
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # keep the source tree free of compiled caches
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import similarity  # noqa: E402


def brute_force(texts):
    words = [similarity.split_words(t) for t in texts]
    return [
        (i, j)
        for i in range(len(texts))
        for j in range(i + 1, len(texts))
        if texts[i] != texts[j] and similarity.word_similarity(words[i], words[j]) > 0.9
    ]


class MeasureTest(unittest.TestCase):
    def test_split_words(self):
        self.assertEqual(similarity.split_words("The Long and Winding Road.mp3"),
                         ["long", "winding", "Road.mp3"])
        self.assertEqual(similarity.split_words("of the and"), ["and"])
        self.assertEqual(similarity.split_words("a  b"), ["a", "", "b"])
        self.assertEqual(similarity.split_words(""), [""])
        self.assertEqual(similarity.split_words("Song of THE"), ["song", "THE"])

    def test_pairs(self):
        cases = [
            ("Hey Jude.mp3", "hey jude.mp3", True),
            ("The Long and Winding Road.mp3", "Long Winding Road.mp3", True),
            ("Red Blue Gold.mp3", "Blue Red Gold.mp3", True),
            ("Jude Hey.mp3", "Hey Jude.mp3", False),
            ("a b c d e f g h i j.mp3", "a b c d e f g h i z.mp3", False),  # 9 of 10
            ("a b c d e f g h i j k.mp3", "a b c d e f g h i j z.mp3", True),  # 10 of 11
            ("x x", "x y", True),
            ("x y", "x x", False),  # the measure is not symmetric
            ("Hey Jude\0\0", "Hey Jude", False),
            ("a  b", "a  b ", False),
            ("same.mp3", "same.mp3", False),  # equal texts never pass
        ]
        for first, second, expected in cases:
            with self.subTest(first=first, second=second):
                self.assertEqual(similarity.passes(first, second), expected)

    def test_passing_pairs_equals_all_pairs_walk(self):
        rng = random.Random(5)
        vocabulary = ["Hey", "hey", "Jude", "the", "The", "and", "of", "x", "Road", "road.mp3",
                      "Jude.mp3", "", "b", "Be", "-", "01", "\u00c4rger", "\u00e4rger"]
        for _ in range(20):
            texts = []
            for _ in range(rng.randint(2, 60)):
                if texts and rng.random() < 0.2:
                    texts.append(rng.choice(texts))
                else:
                    texts.append(" ".join(rng.choice(vocabulary)
                                          for _ in range(rng.randint(1, 12))))
            self.assertEqual(similarity.passing_pairs(texts), brute_force(texts))


class CatalogueTest(unittest.TestCase):
    def test_order_and_filters(self):
        with tempfile.TemporaryDirectory() as root:
            def touch(rel, data=b""):
                path = os.path.join(root, rel)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(data)

            for folder in ("P", "P/Q", "P/Q/R", "P/S", "P/.hidden"):
                os.makedirs(os.path.join(root, folder), exist_ok=True)
            touch("P/a.mp3")
            touch("P/b.MP3")
            touch("P/c.txt")
            touch("P/.d.mp3")
            touch("P/Q/R/r.mp3")
            touch("P/S/s.mp3")
            touch("P/.hidden/h.mp3")
            os.symlink(os.path.join(root, "P/a.mp3"), os.path.join(root, "P/S/link.mp3"))
            paths = similarity.catalogue([os.path.join(root, "P")])
            names = [p[len(root) + 1:] for p in paths]
            # Siblings stand in the listing's order, whatever it is; below them, pre-order.
            self.assertEqual(sorted(names[:2]), ["P/a.mp3", "P/b.MP3"])
            below = {"Q": ["P/Q/R/r.mp3"], "S": ["P/S/s.mp3"]}
            siblings = [e for e in os.listdir(os.path.join(root, "P")) if e in below]
            self.assertEqual(names[2:], [n for folder in siblings for n in below[folder]])

    def test_read_tag_title(self):
        with tempfile.TemporaryDirectory() as root:
            path = os.path.join(root, "t.mp3")
            tag = b"TAG" + b"Hey Jude".ljust(30, b" ") + bytes(95)
            with open(path, "wb") as f:
                f.write(b"\xff\xfb\x90\x44" + bytes(200) + tag)
            self.assertEqual(similarity.read_tag_title(path), "Hey Jude")
            with open(path, "wb") as f:
                f.write(b"\xff\xfb\x90\x44" + bytes(200) + b"TAG" + b"Ab".ljust(30, b"\0")
                        + bytes(95))
            self.assertEqual(similarity.read_tag_title(path), "Ab" + "\0" * 28)
            with open(path, "wb") as f:
                f.write(bytes(100))
            self.assertEqual(similarity.read_tag_title(path), "")


if __name__ == "__main__":
    unittest.main()
