#pragma once
// Wording shared by the readers of TOML files (mod.toml, the server configuration). Include only
// from .cpp files that already use toml++.

#include <span>
#include <string>
#include <string_view>

#include <toml++/toml.h>

namespace ostrel_core::toml_text {

// "a string", "an integer", "a table", ...; "nothing" for an empty node.
std::string_view type_phrase(const toml::node& node);
// "`a`, `b`, `c`": keys as an author reads them in an error.
std::string backticked(std::span<const std::string_view> keys);

}  // namespace ostrel_core::toml_text
