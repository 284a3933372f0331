#pragma once
// Portable, seedable randomness: the same seed gives the same numbers on every platform and
// standard library (the std distributions are implementation-defined, so none is used).
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string_view>

namespace blockgen {

constexpr uint64_t mix64(uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

constexpr uint64_t hash_combine(uint64_t a, uint64_t b) { return mix64(a ^ mix64(b)); }

constexpr uint64_t hash_name(std::string_view s) {
  uint64_t h = 1469598103934665603ULL;
  for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return h;
}

// Uniform in [0, 1) from the top 53 bits.
constexpr double unit_from_bits(uint64_t x) { return static_cast<double>(x >> 11) * 0x1.0p-53; }

// A sequential stream; one stream per purpose (poses, tie points, noise ...) so that changing
// one count does not shift the numbers of another.
class Rng {
 public:
  Rng(uint64_t seed, std::string_view purpose) : state_(hash_combine(seed, hash_name(purpose))) {}
  uint64_t next() {
    state_ += 0x9e3779b97f4a7c15ULL;
    return mix64(state_);
  }
  double uniform() { return unit_from_bits(next()); }
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  // Standard normal by the Box-Muller transform.
  double gaussian() {
    const double u1 = 1.0 - uniform();
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
  }
  double gaussian(double sigma) { return sigma * gaussian(); }

 private:
  uint64_t state_;
};

}  // namespace blockgen
