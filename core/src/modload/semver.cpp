#include "modload/semver.hpp"

#include <charconv>

#include "base/text.hpp"

namespace ostrel_core::modload::semver {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_ident_char(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
}

std::string_view trim(std::string_view s) { return text::trim_bytes(s, " \t\n\r"); }

// Digits only, no leading zero (but "0"), fits in 64 bits.
std::optional<std::uint64_t> parse_number(std::string_view s) {
  if (s.empty() || (s.size() > 1 && s[0] == '0')) return std::nullopt;
  for (char c : s)
    if (!is_digit(c)) return std::nullopt;
  std::uint64_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
  return v;
}

// Calls `f` on each dot-separated part; false when `f` refuses one.
template <class F>
bool each_part(std::string_view s, F&& f) {
  while (true) {
    auto dot = s.find('.');
    if (!f(s.substr(0, dot))) return false;
    if (dot == std::string_view::npos) return true;
    s.remove_prefix(dot + 1);
  }
}

bool valid_build(std::string_view s) {
  return each_part(s, [](std::string_view part) {
    if (part.empty()) return false;
    for (char c : part)
      if (!is_ident_char(c)) return false;
    return true;
  });
}

std::optional<std::vector<Identifier>> parse_pre(std::string_view s) {
  std::vector<Identifier> out;
  bool ok = each_part(s, [&](std::string_view part) {
    if (part.empty()) return false;
    bool numeric = true;
    for (char c : part) {
      if (!is_ident_char(c)) return false;
      numeric = numeric && is_digit(c);
    }
    if (!numeric) {
      out.emplace_back(std::string(part));
      return true;
    }
    auto n = parse_number(part);
    if (!n) return false;
    out.emplace_back(*n);
    return true;
  });
  if (!ok) return std::nullopt;
  return out;
}

// Splits "core-pre+build"; false when the pre-release or build part is malformed.
bool split_tail(std::string_view& s, std::vector<Identifier>& pre, std::string* build) {
  if (auto plus = s.find('+'); plus != std::string_view::npos) {
    std::string_view b = s.substr(plus + 1);
    if (!valid_build(b)) return false;
    if (build) *build = std::string(b);
    s = s.substr(0, plus);
  }
  if (auto dash = s.find('-'); dash != std::string_view::npos) {
    auto p = parse_pre(s.substr(dash + 1));
    if (!p) return false;
    pre = std::move(*p);
    s = s.substr(0, dash);
  }
  return true;
}

// Numeric identifiers sort below texts; a shorter list that is a prefix sorts first.
std::strong_ordering compare_pre(const std::vector<Identifier>& a, const std::vector<Identifier>& b) {
  if (a.empty() || b.empty()) return a.empty() <=> b.empty();  // a release outranks a pre-release
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i].index() != b[i].index()) return a[i].index() <=> b[i].index();
    if (auto c = a[i] <=> b[i]; c != 0) return c;
  }
  return a.size() <=> b.size();
}

bool is_wildcard(std::string_view s) { return s == "*" || s == "x" || s == "X"; }

std::optional<Comparator> parse_comparator(std::string_view s) {
  Comparator c;
  struct Prefix {
    std::string_view text;
    Op op;
  };
  // Two-character operators first.
  static constexpr Prefix kOps[] = {{">=", Op::GreaterEq}, {"<=", Op::LessEq}, {"=", Op::Exact},
                                    {">", Op::Greater},    {"<", Op::Less},     {"~", Op::Tilde},
                                    {"^", Op::Caret}};
  bool explicit_op = false;
  for (const auto& p : kOps) {
    if (s.starts_with(p.text)) {
      c.op = p.op;
      s = trim(s.substr(p.text.size()));
      explicit_op = true;
      break;
    }
  }
  if (s.empty()) return std::nullopt;
  if (!split_tail(s, c.pre, nullptr)) return std::nullopt;

  std::vector<std::string_view> parts;
  each_part(s, [&](std::string_view part) {
    parts.push_back(part);
    return true;
  });
  if (parts.size() > 3) return std::nullopt;
  auto major = parse_number(parts[0]);
  if (!major) return std::nullopt;
  c.major = *major;
  bool wildcard = false;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (is_wildcard(parts[i])) {
      wildcard = true;
      continue;
    }
    if (wildcard) return std::nullopt;  // "1.*.3"
    auto n = parse_number(parts[i]);
    if (!n) return std::nullopt;
    (i == 1 ? c.minor : c.patch) = *n;
  }
  if (!c.pre.empty() && !c.patch) return std::nullopt;
  if (wildcard) {
    if (explicit_op && c.op != Op::Exact) return std::nullopt;
    c.op = Op::Wildcard;
  }
  return c;
}

bool matches_exact(const Comparator& c, const Version& v) {
  if (v.major != c.major) return false;
  if (c.minor && v.minor != *c.minor) return false;
  if (c.patch && v.patch != *c.patch) return false;
  return !c.patch || compare_pre(v.pre, c.pre) == 0;
}

bool matches_greater(const Comparator& c, const Version& v) {
  if (v.major != c.major) return v.major > c.major;
  if (!c.minor) return false;
  if (v.minor != *c.minor) return v.minor > *c.minor;
  if (!c.patch) return false;
  if (v.patch != *c.patch) return v.patch > *c.patch;
  return compare_pre(v.pre, c.pre) > 0;
}

bool matches_less(const Comparator& c, const Version& v) {
  if (v.major != c.major) return v.major < c.major;
  if (!c.minor) return false;
  if (v.minor != *c.minor) return v.minor < *c.minor;
  if (!c.patch) return false;
  if (v.patch != *c.patch) return v.patch < *c.patch;
  return compare_pre(v.pre, c.pre) < 0;
}

bool matches_tilde(const Comparator& c, const Version& v) {
  if (v.major != c.major) return false;
  if (c.minor && v.minor != *c.minor) return false;
  if (c.patch && v.patch != *c.patch) return v.patch > *c.patch;
  return !c.patch || compare_pre(v.pre, c.pre) >= 0;
}

bool matches_caret(const Comparator& c, const Version& v) {
  if (v.major != c.major) return false;
  if (!c.minor) return true;
  const std::uint64_t minor = *c.minor;
  if (!c.patch) return c.major > 0 ? v.minor >= minor : v.minor == minor;
  const std::uint64_t patch = *c.patch;
  if (c.major > 0) {
    if (v.minor != minor) return v.minor > minor;
    if (v.patch != patch) return v.patch > patch;
  } else if (minor > 0) {
    if (v.minor != minor) return false;
    if (v.patch != patch) return v.patch > patch;
  } else if (v.minor != minor || v.patch != patch) {
    return false;
  }
  return compare_pre(v.pre, c.pre) >= 0;
}

}  // namespace

std::optional<Version> Version::parse(std::string_view text) {
  Version v;
  if (!split_tail(text, v.pre, &v.build)) return std::nullopt;
  std::vector<std::uint64_t> core;
  bool ok = each_part(text, [&](std::string_view part) {
    auto n = parse_number(part);
    if (!n) return false;
    core.push_back(*n);
    return core.size() <= 3;
  });
  if (!ok || core.size() != 3) return std::nullopt;
  v.major = core[0];
  v.minor = core[1];
  v.patch = core[2];
  return v;
}

std::string Version::to_string() const {
  std::string out = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
  for (std::size_t i = 0; i < pre.size(); ++i) {
    out += i == 0 ? '-' : '.';
    if (const auto* n = std::get_if<std::uint64_t>(&pre[i]))
      out += std::to_string(*n);
    else
      out += std::get<std::string>(pre[i]);
  }
  if (!build.empty()) out += "+" + build;
  return out;
}

std::strong_ordering operator<=>(const Version& a, const Version& b) {
  if (auto c = a.major <=> b.major; c != 0) return c;
  if (auto c = a.minor <=> b.minor; c != 0) return c;
  if (auto c = a.patch <=> b.patch; c != 0) return c;
  return compare_pre(a.pre, b.pre);
}

bool operator==(const Version& a, const Version& b) { return (a <=> b) == 0; }

bool Comparator::matches(const Version& v) const {
  switch (op) {
    case Op::Exact:
    case Op::Wildcard:
      return matches_exact(*this, v);
    case Op::Greater:
      return matches_greater(*this, v);
    case Op::GreaterEq:
      return matches_exact(*this, v) || matches_greater(*this, v);
    case Op::Less:
      return matches_less(*this, v);
    case Op::LessEq:
      return matches_exact(*this, v) || matches_less(*this, v);
    case Op::Tilde:
      return matches_tilde(*this, v);
    case Op::Caret:
      return matches_caret(*this, v);
  }
  return false;
}

std::optional<VersionReq> VersionReq::parse(std::string_view text) {
  text = trim(text);
  VersionReq req;
  if (text == "*") return req;
  for (;;) {
    auto comma = text.find(',');
    auto c = parse_comparator(trim(text.substr(0, comma)));
    if (!c) return std::nullopt;
    req.comparators.push_back(std::move(*c));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return req;
}

bool VersionReq::matches(const Version& v) const {
  for (const auto& c : comparators)
    if (!c.matches(v)) return false;
  if (v.pre.empty() || comparators.empty()) return true;
  // A pre-release is only met by a comparator that names its own major.minor.patch.
  for (const auto& c : comparators) {
    if (c.major == v.major && c.minor == v.minor && c.patch == v.patch && !c.pre.empty()) return true;
  }
  return false;
}

}  // namespace ostrel_core::modload::semver
