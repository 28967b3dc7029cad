#include "modload/semver.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ostrel_core::modload::semver {
namespace {

Version v(const char* text) {
  auto got = Version::parse(text);
  EXPECT_TRUE(got.has_value()) << text;
  return got.value_or(Version{});
}

TEST(SemverVersion, ParsesAndPrintsBack) {
  const char* kGood[] = {"0.0.0", "1.2.3", "10.20.30", "1.0.0-alpha", "1.0.0-alpha.1",
                         "1.0.0-0.3.7", "1.0.0-x.7.z.92", "1.0.0+20130313144700",
                         "1.0.0-beta+exp.sha.5114f85", "18446744073709551615.0.0", "1.0.0-a-b--c"};
  for (const char* text : kGood) {
    SCOPED_TRACE(text);
    auto got = Version::parse(text);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->to_string(), text);
  }
  auto full = v("1.2.3-rc.4+b");
  EXPECT_EQ(full.major, 1u);
  EXPECT_EQ(full.minor, 2u);
  EXPECT_EQ(full.patch, 3u);
  ASSERT_EQ(full.pre.size(), 2u);
  EXPECT_EQ(std::get<std::string>(full.pre[0]), "rc");
  EXPECT_EQ(std::get<std::uint64_t>(full.pre[1]), 4u);
  EXPECT_EQ(full.build, "b");
}

TEST(SemverVersion, RefusesWhatIsNotSemver) {
  const char* kBad[] = {"",      "1.0",   "1",        "1.0.0.0",   "01.0.0",  "1.01.0",  "1.0.00",
                        "v1.0.0", " 1.0.0", "1.0.0 ",  "1.0.0-",    "1.0.0+",  "1.0.0-a..b",
                        "1.0.0-01", "1.0.0-a_b", "1.-1.0", "a.b.c",  "1.0.0+a+b", "18446744073709551616.0.0",
                        "1..0",  "1.0.0-é"};
  for (const char* text : kBad) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(Version::parse(text).has_value());
  }
}

TEST(SemverVersion, OrdersByPrecedence) {
  // Ascending, from the semantic versioning rules' own example chain.
  const char* kChain[] = {"1.0.0-alpha", "1.0.0-alpha.1", "1.0.0-alpha.beta", "1.0.0-beta",
                          "1.0.0-beta.2", "1.0.0-beta.11", "1.0.0-rc.1", "1.0.0", "1.0.1",
                          "1.1.0", "2.0.0", "10.0.0"};
  for (std::size_t i = 0; i + 1 < std::size(kChain); ++i) {
    SCOPED_TRACE(kChain[i]);
    EXPECT_LT(v(kChain[i]), v(kChain[i + 1]));
    EXPECT_GT(v(kChain[i + 1]), v(kChain[i]));
  }
  EXPECT_EQ(v("1.0.0+a"), v("1.0.0+b"));
}

struct ReqCase {
  const char* req;
  const char* version;
  bool want;
};

TEST(SemverReq, MatchesComparatorsAndPreReleases) {
  constexpr ReqCase kCases[] = {
      {"*", "0.0.1", true},
      {"*", "3.0.0-beta", true},
      {">=0.2, <1", "0.2.0", true},
      {">=0.2, <1", "0.9.9", true},
      {">=0.2, <1", "1.0.0", false},
      {">=0.2, <1", "0.1.9", false},
      {"1.2.3", "1.9.0", true},  // no operator means caret
      {"1.2.3", "2.0.0", false},
      {"1.2.3", "1.2.2", false},
      {"^0.2.3", "0.2.9", true},
      {"^0.2.3", "0.3.0", false},
      {"^0.0.3", "0.0.3", true},
      {"^0.0.3", "0.0.4", false},
      {"^0.0", "0.0.7", true},
      {"^0.0", "0.1.0", false},
      {"^1", "1.99.0", true},
      {"~1.2.3", "1.2.9", true},
      {"~1.2.3", "1.3.0", false},
      {"~1.2", "1.2.0", true},
      {"~1", "1.5.0", true},
      {"=1.2.3", "1.2.4", false},
      {"=1.2", "1.2.9", true},
      {"=1", "1.9.9", true},
      {"=1", "2.0.0", false},
      {">1.2", "1.2.9", false},
      {">1.2", "1.3.0", true},
      {">1", "2.0.0", true},
      {"<=1.2", "1.2.9", true},
      {"<=1.2", "1.3.0", false},
      {"<1.2", "1.1.9", true},
      {"<1.2", "1.2.0", false},
      {"1.2.*", "1.2.5", true},
      {"1.2.*", "1.3.0", false},
      {"1.x", "1.7.0", true},
      {"=1.*", "2.0.0", false},
      {">= 1.0.0", "1.0.0", true},
      // Pre-releases only meet a comparator naming their own major.minor.patch.
      {">=1.0.0", "2.0.0-alpha", false},
      {">=1.0.0-alpha", "1.0.0-beta", true},
      {">=1.0.0-alpha", "1.0.1-beta", false},
      {"^1.0.0-beta.2", "1.0.0-beta.11", true},
      {"^1.0.0-beta.2", "1.0.0-beta.1", false},
      {"^1.0.0-beta", "1.0.0", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.req) + " vs " + c.version);
    auto req = VersionReq::parse(c.req);
    ASSERT_TRUE(req.has_value());
    EXPECT_EQ(req->matches(v(c.version)), c.want);
  }
}

TEST(SemverReq, RefusesMalformedRequirements) {
  const char* kBad[] = {"",   ",",     ">=0.2,",  ">=",     "=>1",     "1.2.3.4", ">=*",   ">1.*",
                        "1.*.3", "a",  "1.0-beta", "01",  "1 2",    ">=0.2 <1", "1.2.3-", "**"};
  for (const char* text : kBad) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(VersionReq::parse(text).has_value());
  }
}

}  // namespace
}  // namespace ostrel_core::modload::semver
