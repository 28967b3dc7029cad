#include "base/error.hpp"

#include <cerrno>

#include <gtest/gtest.h>

namespace ostrel_core {
namespace {

TEST(ErrorChain, ReportListsEverySourceInOrder) {
  TextError inner("could not open the file", make_source(IoError::from_errno(ENOENT)));
  TextError outer("could not read config file `a.toml`", make_source(inner));
  EXPECT_EQ(report(outer),
            "could not read config file `a.toml`\n"
            "  caused by: could not open the file\n"
            "  caused by: No such file or directory (os error 2)");
  auto chain = error_chain(outer);
  ASSERT_EQ(chain.size(), 3u);
  auto* io = source_as<TextError>(outer.source());
  ASSERT_NE(io, nullptr);
  EXPECT_EQ(io->message(), "could not open the file");
  EXPECT_EQ(source_as<IoError>(outer.source()), nullptr);
}

}  // namespace
}  // namespace ostrel_core
