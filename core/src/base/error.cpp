#include "base/error.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fmt/format.h>

#include "base/log.hpp"

namespace ostrel_core {

IoError IoError::from_errno(int err) {
  return IoError(fmt::format("{} (os error {})", std::strerror(err), err),
                 std::error_code(err, std::generic_category()));
}

IoError IoError::from_code(std::error_code code) {
  if (code.category() == std::generic_category() || code.category() == std::system_category()) {
    return from_errno(code.value());
  }
  return IoError(code.message(), code);
}

void contract_stop(std::string_view target, const std::string& message) {
  OSTREL_ERROR(target, message);
  std::fflush(stdout);
  fmt::print(stderr, "{}: {}\n", target, message);
  std::abort();
}

std::vector<std::string> error_chain(const ErrorSource& e) {
  std::vector<std::string> out{e.message()};
  for (const ErrorSource* s = e.source(); s != nullptr; s = s->source()) out.push_back(s->message());
  return out;
}

}  // namespace ostrel_core
