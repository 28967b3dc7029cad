#pragma once
// What the player hub is built from: the login tables, the rule tables and the fixed values,
// handed over once by start-up.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "building/dig/drops.hpp"
#include "building/dig/hardness.hpp"
#include "building/inventory/slots.hpp"
#include "hub/records.hpp"
#include "identity/identity.hpp"
#include "modload/content.hpp"
#include "persist/idmap.hpp"
#include "presentation/atmosphere.hpp"
#include "proto/records/content.hpp"
#include "script/read/records.hpp"
#include "session/registry.hpp"
#include "session/session.hpp"
#include "sim/control.hpp"
#include "sky/skies.hpp"

namespace ostrel_server::transport::endpoint {

using Tool = ostrel_core::script::records::Tool;

// The tables a client receives after login, built once at start.
using LoginTables = ostrel_core::session::ContentTables;

// Everything the hub is built from; queues and per-player maps start empty.
struct HubInit {
  ostrel_core::session::registry::IdentityRegistry identities;
  LoginTables tables;
  ostrel_core::persist::idmap::MaterialMap material_map =
      ostrel_core::persist::idmap::MaterialMap::identity_map();
  ostrel_core::content::ContentIndex content;
  ostrel_core::identity::Allowlist allowlist;
  std::set<PlayerUuid> operators;
  sim::Control control = sim::make_control();
  std::array<std::uint8_t, 32> cert_fingerprint{};
  std::uint64_t world_seed = 0;
  std::uint64_t mod_set_hash = 0;  // first 8 bytes, little-endian, of the mod-set hash
  std::uint32_t max_players = 16;
  std::uint8_t view_distance_cap = 8;
  std::uint8_t vertical_view_distance_cap = 12;
  std::uint32_t day_length = 0;   // ticks a day; 0 holds the clock
  skies::SkyBook skies;           // the registered skies
  std::uint64_t time_of_day = 0;  // the first time of day
  // Materials written only as their own shape: material -> its 27-bit occupancy.
  std::map<MaterialId, std::uint32_t> whole_materials;

  // Inventories and digging.
  std::vector<ostrel_core::inventory::slots::ViewDef> views;  // the views of every new inventory
  std::optional<std::size_t> main_slots;                      // "player:main" slots a mod fixed; 28 without
  std::uint32_t slot_grain = 1;                               // units a split moves of loose material
  std::set<MaterialId> item_materials;                        // the registered items that are materials
  std::map<std::string, Tool> tools;                          // by tool id
  std::optional<std::string> default_tool;                    // used when a player holds none
  ostrel_core::script::records::ToolSpeeds tool_speeds;       // tool id -> material -> speed
  std::map<MaterialId, ostrel_core::dig::drops::DropList> drops;  // a block's registered drops
  std::map<std::string, MaterialId, std::less<>> block_ids;       // every material by name
  ostrel_core::dig::hardness::Table resistances;
  std::set<MaterialId> placing_materials;   // drawn as billboards (the placing step reads it)
  std::set<MaterialId> placing_exceptions;  // whole materials that do not sweep (the same)
};

}  // namespace ostrel_server::transport::endpoint
