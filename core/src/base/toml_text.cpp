#include "base/toml_text.hpp"

#include <fmt/format.h>

namespace ostrel_core::toml_text {

std::string_view type_phrase(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "an array";
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a float";
    case toml::node_type::boolean: return "a boolean";
    case toml::node_type::date: return "a date";
    case toml::node_type::time: return "a time";
    case toml::node_type::date_time: return "a date-time";
    case toml::node_type::none: break;
  }
  return "nothing";
}

std::string backticked(std::span<const std::string_view> keys) {
  std::string out;
  for (auto k : keys) {
    if (!out.empty()) out += ", ";
    out += fmt::format("`{}`", k);
  }
  return out;
}

}  // namespace ostrel_core::toml_text
