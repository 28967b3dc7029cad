#include "base/assert.hpp"

#include <string_view>

#include <fmt/format.h>

#include "base/error.hpp"

namespace ostrel_core {

void assertion_failed(const char* condition, const char* file, int line) {
  // A build tree inside the source tree compiles "../core/...": name the file from the root.
  std::string_view path = file;
  while (path.starts_with("../")) path.remove_prefix(3);
  contract_stop("ostrel_core::assert", fmt::format("assertion failed: {} ({}:{})", condition, path, line));
}

}  // namespace ostrel_core
