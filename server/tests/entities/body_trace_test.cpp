#include "support/body_trace.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace ostrel_server::test {
namespace {

// scripts/golden_physics.sh checks the same lines against four builds of the trace.
TEST(BodyTrace, EveryTickHashesToTheCheckedInValue) {
  std::ifstream in(std::string(OSTREL_SOURCE_DIR) + "/server/tests/entities/golden/body_trace.txt");
  ASSERT_TRUE(in) << "golden file missing";
  std::vector<std::string> want;
  for (std::string line; std::getline(in, line);) want.push_back(line);
  const std::vector<std::string> got = body_trace();
  ASSERT_EQ(got.size(), static_cast<std::size_t>(kTraceLines));
  ASSERT_EQ(want.size(), got.size());
  for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], want[i]) << "first difference at line " << i;
}

}  // namespace
}  // namespace ostrel_server::test
