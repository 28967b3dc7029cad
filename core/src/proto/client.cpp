#include "proto/client.hpp"

#include <bit>
#include <cmath>

#include <fmt/format.h>

#include "presentation/ui/limits.hpp"
#include "proto/codec.hpp"

namespace ostrel_core::proto {
namespace {

OSTREL_PROTO_NAMES(kClientNames, OSTREL_CLIENT_MESSAGES);
static_assert(std::size(kClientNames) == kClientMessages);

// Field limits, in bytes of UTF-8 or in items.
constexpr std::size_t kDisplayNameMax = 32;
constexpr std::size_t kContentRequestMax = 1024;
constexpr std::size_t kChatMax = 512;
constexpr std::size_t kToolMax = 32;
constexpr std::size_t kPlaceDetailMax = 256;
constexpr std::size_t kIdMax = 128;         // action, setting, dialog form, widget and view names
constexpr std::size_t kDialogTextMax = 512;

using Check = std::expected<void, ProtocolError>;

Check too_long(std::string_view field, std::size_t found, std::size_t limit) {
  return std::unexpected(ProtocolError::field_too_long(field, found, limit));
}

Check limit(std::string_view field, const std::string& text, std::size_t max) {
  if (text.size() > max) return too_long(field, text.size(), max);
  return {};
}

Check cell_count(std::string_view field, const std::vector<std::uint16_t>& cells) {
  if (!cells.empty() && cells.size() != kCellsPerBlock) return too_long(field, cells.size(), kCellsPerBlock);
  return {};
}

Check check(const client::Hello& m) {
  if (m.display_name.empty() || m.display_name.size() > kDisplayNameMax) {
    return too_long("display_name", m.display_name.size(), kDisplayNameMax);
  }
  return {};
}
Check check(const client::ContentRequest& m) {
  if (m.hashes.size() > kContentRequestMax) return too_long("content_request", m.hashes.size(), kContentRequestMax);
  return {};
}
Check check(const client::PlayerInput& m) {
  bool finite = std::isfinite(m.walk[0]) && std::isfinite(m.walk[1]) && std::isfinite(m.walk[2]) &&
                std::isfinite(m.yaw) && std::isfinite(m.pitch);
  if (!finite) return too_long("player_input", 0, 0);
  return {};
}
Check check(const client::BlockDelta& m) {
  if (const auto* p = std::get_if<edit::Partial>(&m.edit); p && (p->mask & ~kFullMask) != 0) {
    return too_long("occupancy", static_cast<std::size_t>(std::popcount(p->mask)), kCellsPerBlock);
  }
  return {};
}
Check check(const client::Chat& m) { return limit("chat", m.text, kChatMax); }
Check check(const client::SelectTool& m) {
  if (m.tool) return limit("tool", *m.tool, kToolMax);
  return {};
}
Check check(const client::Place& m) {
  if (m.detail) {
    if (auto r = limit("place_detail", *m.detail, kPlaceDetailMax); !r) return r;
  }
  return cell_count("place_cells", m.cells);
}
Check check(const client::Action& m) { return limit("action_id", m.id, kIdMax); }
Check check(const client::SetSetting& m) { return limit("setting_id", m.id, kIdMax); }
Check check(const client::DialogEvent& m) { return check_dialog_event(m); }
template <class T>
Check check(const T&) {
  return {};
}

Check check_event(const dialog_event::Pressed& e) { return limit("widget_name", e.name, kIdMax); }
Check check_event(const dialog_event::Toggled& e) { return limit("widget_name", e.name, kIdMax); }
Check check_event(const dialog_event::Slid& e) { return limit("widget_name", e.name, kIdMax); }
Check check_event(const dialog_event::Chose& e) { return limit("widget_name", e.name, kIdMax); }
Check check_event(const dialog_event::Submitted& e) {
  if (auto r = limit("widget_name", e.name, kIdMax); !r) return r;
  return limit("dialog_text", e.text, kDialogTextMax);
}
Check check_event(const dialog_event::Clicked& e) { return limit("view", e.view, kIdMax); }
Check check_event(const dialog_event::Chiselled& e) {
  if (auto r = limit("widget_name", e.name, kIdMax); !r) return r;
  if (e.shape > kFullMask) return too_long("chiselled_shape", e.shape, kFullMask);
  if (auto r = cell_count("chiselled_cells", e.cells); !r) return r;
  if (auto r = ui::limits::check_editor_cells(e.shape, e.cells); !r) {
    return std::unexpected(ProtocolError::invalid(fmt::format("chiselled `{}`: {}", e.name, r.error().message())));
  }
  return {};
}
Check check_event(const dialog_event::Closed&) { return {}; }
Check check_event(const dialog_event::Dropped&) { return {}; }

}  // namespace

template std::expected<ClientMessage, ProtocolError> decode_message<ClientMessage>(
    std::span<const std::uint8_t> bytes);

std::string_view client_message_name(const ClientMessage& m) { return kClientNames[m.index()]; }

std::expected<ClientMessage, ProtocolError> decode_client(std::span<const std::uint8_t> bytes) {
  return decode_message<ClientMessage>(bytes);
}

std::expected<void, ProtocolError> check_dialog_event(const client::DialogEvent& e) {
  if (auto r = limit("dialog_form", e.form, kIdMax); !r) return r;
  return std::visit([](const auto& ev) { return check_event(ev); }, e.event);
}

std::expected<void, ProtocolError> validate_client_message(const ClientMessage& m) {
  return std::visit([](const auto& v) { return check(v); }, m);
}

std::expected<ClientMessage, ProtocolError> decode_and_validate_client(std::span<const std::uint8_t> bytes) {
  auto m = decode_client(bytes);
  if (!m) return m;
  if (auto r = validate_client_message(*m); !r) return std::unexpected(std::move(r.error()));
  return m;
}

}  // namespace ostrel_core::proto
