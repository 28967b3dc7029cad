// The `server` program.
#include <cstdio>

#include "log.hpp"

int main(int, char**) {
  ostrel_core::log::install(ostrel_core::log::options_from_env());
  std::puts("server 0.4.2");
  return 0;
}
