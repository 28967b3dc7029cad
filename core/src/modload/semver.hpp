#pragma once
// Semantic versions and version requirements, as mod manifests use them.
//
// Versions follow Semantic Versioning 2.0.0 strictly: "1.2.3", "1.0.0-beta.2", "1.0.0+build.5";
// no leading zeros in numbers, no "v" prefix, no blanks.
//
// A requirement is "*" or comparators separated by commas: ">=0.2, <1". A comparator is an
// optional operator (=, >, >=, <, <=, ~, ^; none means ^) followed by a version whose minor and
// patch may be left out or written as a wildcard (*, x, X):
//   ^1.2.3  >=1.2.3, <2.0.0        ~1.2.3  >=1.2.3, <1.3.0       1.2.*  >=1.2.0, <1.3.0
//   ^0.2.3  >=0.2.3, <0.3.0        ~1.2    >=1.2.0, <1.3.0       >1.2   >=1.3.0
//   ^0.0.3  =0.0.3                 =1      >=1.0.0, <2.0.0       <=1.2  <1.3.0
// A version with a pre-release part meets a requirement only when some comparator names the same
// major.minor.patch with a pre-release of its own (so ">=1.0.0" is not met by 2.0.0-alpha); the
// requirement "*" alone is met by every version.

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ostrel_core::modload::semver {

// One dot-separated pre-release identifier: a number (no leading zero) or a text.
using Identifier = std::variant<std::uint64_t, std::string>;

struct Version {
  std::uint64_t major = 0;
  std::uint64_t minor = 0;
  std::uint64_t patch = 0;
  std::vector<Identifier> pre;  // empty: a release
  std::string build;            // build metadata, without "+"; ignored by comparisons

  // None when `text` is not a semantic version.
  static std::optional<Version> parse(std::string_view text);
  // "1.2.3", "1.0.0-beta.2+exp.sha".
  std::string to_string() const;
};

// Precedence order: build metadata does not count, so 1.0.0+a == 1.0.0+b.
std::strong_ordering operator<=>(const Version& a, const Version& b);
bool operator==(const Version& a, const Version& b);

enum class Op : std::uint8_t { Exact, Greater, GreaterEq, Less, LessEq, Tilde, Caret, Wildcard };

struct Comparator {
  Op op = Op::Caret;
  std::uint64_t major = 0;
  std::optional<std::uint64_t> minor;  // none: left out or a wildcard
  std::optional<std::uint64_t> patch;  // none: left out or a wildcard; set only with minor
  std::vector<Identifier> pre;         // only with a patch

  bool matches(const Version& v) const;
};

struct VersionReq {
  std::vector<Comparator> comparators;  // empty: "*", met by every version

  // None when `text` is not a requirement.
  static std::optional<VersionReq> parse(std::string_view text);
  bool matches(const Version& v) const;
};

}  // namespace ostrel_core::modload::semver
