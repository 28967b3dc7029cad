#pragma once
// The limits a dialog tree must keep before it is sent, and the shape editor's cell test.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace ostrel_core::ui::tree {
struct Tree;
}

namespace ostrel_core::ui::limits {

// The values the dialog functions pass.
struct Limits {
  std::size_t max_depth = 32;          // nesting depth, the root at depth 1
  std::size_t max_widgets = 4096;      // nodes
  std::size_t max_text_bytes = 1024;   // name, widget texts, dropdown options, views
  std::size_t max_tooltip_bytes = 256;
  std::size_t max_options = 256;       // of a dropdown
  std::size_t max_grid_slots = 1024;   // count of an item grid
};

enum class UiErrorKind : std::uint8_t {
  TooDeep,         // found, limit
  TooManyNodes,    // found, limit
  TextTooLong,     // field, found, limit
  TooManyEntries,  // field, found, limit
  Malformed,       // what
};

class UiError {
 public:
  static UiError too_deep(std::size_t found, std::size_t limit) { return {UiErrorKind::TooDeep, {}, found, limit, {}}; }
  static UiError too_many_nodes(std::size_t found, std::size_t limit) {
    return {UiErrorKind::TooManyNodes, {}, found, limit, {}};
  }
  static UiError text_too_long(std::string_view field, std::size_t found, std::size_t limit) {
    return {UiErrorKind::TextTooLong, field, found, limit, {}};
  }
  static UiError too_many_entries(std::string_view field, std::size_t found, std::size_t limit) {
    return {UiErrorKind::TooManyEntries, field, found, limit, {}};
  }
  static UiError malformed(std::string what) { return {UiErrorKind::Malformed, {}, 0, 0, std::move(what)}; }

  UiErrorKind kind() const { return kind_; }
  std::string_view field() const { return field_; }  // a static text
  std::size_t found() const { return found_; }
  std::size_t limit() const { return limit_; }
  const std::string& what() const { return what_; }

  std::string message() const;
  // The variant and its fields, for logs and test failures.
  std::string debug() const;
  const ErrorSource* source() const { return nullptr; }

  friend bool operator==(const UiError&, const UiError&) = default;

 private:
  UiError(UiErrorKind kind, std::string_view field, std::size_t found, std::size_t limit, std::string what)
      : kind_(kind), field_(field), found_(found), limit_(limit), what_(std::move(what)) {}
  UiErrorKind kind_;
  std::string_view field_;
  std::size_t found_;
  std::size_t limit_;
  std::string what_;
};

// Success, or the first fault in node order. Changes nothing.
[[nodiscard]] std::expected<void, UiError> check(const tree::Tree& tree, const Limits& limits);

// No cells: accepted. 27 cells: `shape` must equal their occupancy (bit i when cell i is not 0).
[[nodiscard]] std::expected<void, UiError> check_editor_cells(std::uint32_t shape,
                                                              std::span<const std::uint16_t> cells);

}  // namespace ostrel_core::ui::limits
