#pragma once
// Random bytes from the operating system: two calls never repeat the way a clock-seeded
// generator does when called twice within one tick.

#include <cstddef>
#include <string>

namespace dorvex {

std::string SystemRandomBytes(std::size_t count);
// A uniformly distributed double in [0, 1).
double SystemRandomUnit();

}  // namespace dorvex
