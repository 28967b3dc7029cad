// The body trace as a program of its own, so that one small target can be built by several
// compilers at several optimisation levels and compared (scripts/golden_physics.sh).

#include <cstdio>

#include "support/body_trace.hpp"

int main() {
  for (const auto& line : ostrel_server::test::body_trace()) std::printf("%s\n", line.c_str());
  return 0;
}
