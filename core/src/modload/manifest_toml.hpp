#pragma once
// Reading mod.toml text into a ModManifest (no checks beyond keys and types).

#include <expected>
#include <string>
#include <string_view>

#include "modload/manifest.hpp"

namespace ostrel_core::modload::manifest {

// The error is the reader's sentence, with "line L, column C: " where a position is known.
std::expected<ModManifest, std::string> read_manifest_toml(std::string_view text,
                                                           std::string_view source_name);

}  // namespace ostrel_core::modload::manifest
