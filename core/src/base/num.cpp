#include "base/num.hpp"

#include <charconv>
#include <cstdlib>
#include <string_view>

namespace ostrel_core::num {
namespace {

// Turns the shortest round-trip text ("1e+20", "1.5e-07", "-2.5") into plain positional form.
std::string expand_exponent(std::string_view s) {
  auto e = s.find('e');
  if (e == std::string_view::npos) return std::string(s);
  bool negative = !s.empty() && s.front() == '-';
  std::string_view mant = s.substr(negative ? 1 : 0, e - (negative ? 1 : 0));
  int exp = std::atoi(std::string(s.substr(e + 1)).c_str());
  std::string digits;
  int point = 0;  // digits before the decimal point in `mant`
  bool seen_point = false;
  for (char c : mant) {
    if (c == '.') {
      seen_point = true;
      continue;
    }
    digits.push_back(c);
    if (!seen_point) ++point;
  }
  point += exp;
  std::string out = negative ? "-" : "";
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else if (static_cast<std::size_t>(point) >= digits.size()) {
    out += digits;
    out.append(static_cast<std::size_t>(point) - digits.size(), '0');
  } else {
    out += digits.substr(0, static_cast<std::size_t>(point));
    out += '.';
    out += digits.substr(static_cast<std::size_t>(point));
  }
  return out;
}

template <class F>
std::string format_impl(F v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return expand_exponent(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

}  // namespace

std::string format_number(double v) { return format_impl(v); }
std::string format_number(float v) { return format_impl(v); }

}  // namespace ostrel_core::num
