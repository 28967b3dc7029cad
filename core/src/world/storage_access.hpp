#pragma once
// The script side's way to mods' key-value storage (installed into the script engine). The
// calling mod's id comes with every call, so a mod reaches only its own keys.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "world/storage.hpp"

namespace ostrel_core::storage {

class Access {
 public:
  virtual ~Access() = default;
  virtual std::optional<Value> get(std::string_view mod_id, std::string_view key) = 0;
  // None deletes the key.
  virtual void set(std::string_view mod_id, std::string_view key, std::optional<Value> value) = 0;
  // The mod's keys that begin with `prefix` (bytewise), ascending.
  virtual std::vector<std::string> keys(std::string_view mod_id, std::string_view prefix) = 0;
};

}  // namespace ostrel_core::storage
