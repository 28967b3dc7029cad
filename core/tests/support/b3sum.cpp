#include "support/b3sum.hpp"

#include <cstdio>

namespace ostrel_core::test {

std::string b3sum(const std::filesystem::path& file) {
  const std::string cmd = "b3sum --no-names '" + file.string() + "'";
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    ::pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

}  // namespace ostrel_core::test
