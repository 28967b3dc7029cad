#pragma once
// The dialog service scripts reach through the dialog slot: show or update a dialog for one
// player, close it, replace the player's hover lines. The server implements it.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "presentation/ui/tree.hpp"

namespace ostrel_core::ui::host {

// (material id, line), in ascending material order; runtime ids until the service sends them.
using HoverLines = std::vector<std::pair<std::uint16_t, std::string>>;

struct ShowRequest {
  std::string player;  // as the mod wrote it, not yet parsed
  std::string form;    // qualified with the opening mod's id
  tree::Tree tree;     // read and checked in full
  bool update = false; // UpdateDialog rather than ShowDialog
  bool compact = false;
  std::string mod;     // the mod that opened it, which its events go to
};

class Access {
 public:
  virtual ~Access() = default;
  // Whether the dialog went out to the player's queue.
  virtual bool show(const ShowRequest& request) = 0;
  // Whether the dialog was recorded open.
  virtual bool close(std::string_view player, std::string_view form) = 0;
  // Whether the lines went out.
  virtual bool set_hover(std::string_view player, HoverLines lines) = 0;
};

}  // namespace ostrel_core::ui::host
