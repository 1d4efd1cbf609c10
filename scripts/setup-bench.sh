#!/usr/bin/env bash
# Installs, from Debian's packages, what the benchmarks in bench/ need beyond scripts/setup.sh:
# the peer we compare against (dupeGuru, driven headless from the system Python), the timer that
# reports peak memory, the profilers and tracers the comparison uses, and for Similar Audio the
# fingerprinter's own tool (fpcalc, the baseline) and sox (the labelled corpus). Idempotent.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exec bash "$here/setup.sh" python3 dupeguru time strace valgrind linux-perf \
  libchromaprint-tools sox
