#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace tunesift::bench {

// splitmix64: tiny, fast and identical on every platform, so a seed names one library and every
// benchmark run measures the same catalogue.
class Rng
{
public:
    explicit Rng(std::uint64_t seed) : m_state(seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    std::uint64_t below(std::uint64_t n) { return next() % n; }
    int between(int lo, int hi) { return lo + static_cast<int>(below(hi - lo + 1)); }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    bool chance(double p) { return unit() < p; }
    // Skewed towards the front: a few words and titles are common, most are rare.
    std::size_t skewed(std::size_t n, double power)
    {
        return std::min(n - 1, static_cast<std::size_t>(std::pow(unit(), power) * n));
    }

private:
    std::uint64_t m_state;
};

} // namespace tunesift::bench
