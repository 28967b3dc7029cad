#include "base/assert.hpp"

#include <fmt/format.h>

#include "base/error.hpp"

namespace ostrel_core {

void assertion_failed(const char* condition, const char* file, int line) {
  contract_stop("ostrel_core::assert", fmt::format("assertion failed: {} ({}:{})", condition, file, line));
}

}  // namespace ostrel_core
