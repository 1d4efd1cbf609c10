"""The tools the comparison runs and the synthetic libraries it times them on."""

import os
import random
import shutil
import subprocess

from comparelib.common import REPO


class Tools:
    def __init__(self, build):
        self.build = build
        self.cli = os.path.join(build, "src", "cli", "tunesift-cli")
        self.make_library = os.path.join(build, "bench", "corpus", "make_library")
        self.readloop = os.path.join(build, "bench", "endtoend", "readloop")
        self.oracle_check = os.path.join(build, "bench", "endtoend", "oracle_check")
        self.latencyfs = os.path.join(build, "bench", "endtoend", "latencyfs")

    def ensure_built(self):
        targets = ["tunesift-cli", "make_library", "readloop"]
        if subprocess.run(["pkg-config", "--exists", "fuse3"]).returncode == 0:
            targets.append("latencyfs")
        if os.path.exists(os.path.join(REPO, "tests", "search", "oracle.cpp")):
            targets.append("oracle_check")
        if not os.path.exists(os.path.join(self.build, "build.ninja")):
            subprocess.run(
                [
                    "cmake", "-S", REPO, "-B", self.build, "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release", "-DTUNESIFT_BUILD_GUI=OFF",
                    "-DTUNESIFT_BUILD_TESTS=OFF",
                ],
                check=True, stdout=subprocess.DEVNULL,
            )
        subprocess.run(["cmake", "--build", self.build, "-j2", "--target", *targets], check=True,
                       stdout=subprocess.DEVNULL)

    def cli_supports(self, option):
        out = subprocess.run([self.cli, "--help"], capture_output=True, text=True)
        return option in out.stdout + out.stderr


def library(tools, data, n, seed):
    path = os.path.join(data, f"lib-{n}-s{seed}")
    subprocess.run([tools.make_library, "--seed", str(seed), str(n), path], check=True,
                   stdout=subprocess.DEVNULL)
    return path


def size_library(data, n, aligned, seed):
    """n empty sparse .mp3 files of distinct sizes: all multiples of 1 MiB, or at random."""
    kind = "mib" if aligned else "random"
    path = os.path.join(data, f"sizes-{kind}-{n}-s{seed}")
    done = os.path.join(path, ".complete")
    if os.path.exists(done):
        return path
    shutil.rmtree(path, ignore_errors=True)
    rng = random.Random(seed)
    # Distinct random sizes over the same range as the aligned ones.
    sizes = ([(k + 1) << 20 for k in range(n)] if aligned
             else rng.sample(range(1 << 20, (n + 1) << 20), n))
    for k, size in enumerate(sizes):
        folder = os.path.join(path, f"{k // 1000:04d}")
        if k % 1000 == 0:
            os.makedirs(folder)
        with open(os.path.join(folder, f"{k:06d}.mp3"), "wb") as f:
            f.truncate(size)
    open(done, "w").close()
    return path


def hostile_library(data, key, folders, per_folder, name_of):
    """Empty MP3 files with the names of one dense group (made once)."""
    path = os.path.join(data, f"hostile-{key}")
    done = os.path.join(path, ".complete")
    if not os.path.exists(done):
        shutil.rmtree(path, ignore_errors=True)
        for f in range(folders):
            folder = os.path.join(path, f"folder {f:02d}")
            os.makedirs(folder)
            for k in range(per_folder):
                open(os.path.join(folder, name_of(f * per_folder + k)), "w").close()
        open(done, "w").close()
    return path
