#pragma once
// The mod check: loads every mod of a directory the way a live server would, without a world,
// and reports the load order, the reference mods that stood aside, the blocks with their ids,
// warnings, and every mod that a live server would silently disable.

#include <cstdio>
#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "world/material.hpp"

namespace ostrel_server::checkmods {

// Each list in the order its entries were produced.
struct CheckReport {
  std::vector<std::string> loaded;  // "{id} {version}", load order, failed mods included
  std::vector<std::string> aside;   // "`{reference}` stood aside for `{mod}`"
  // (mod id, block name, "<freeze>" or "<tick>"; reason)
  std::vector<std::pair<std::string, std::string>> failed;
  std::vector<std::string> blocks;  // in the order of the ids the script engine handed out
  std::vector<std::string> warnings;

  bool operator==(const CheckReport&) const = default;
};

// The memory limit and the per-entry instruction budget the check loads with.
inline constexpr std::uint64_t kMemoryLimit = 268'435'456;
inline constexpr std::uint32_t kInstructionBudget = 20'000'000;

// Loads every mod found in `dir`, freezes the registries and runs one tick. The error text
// covers what stops the check before a report exists: a missing directory, an unreadable mods
// directory or manifest, a resolution failure, an engine that cannot be created. Writes nothing.
[[nodiscard]] std::expected<CheckReport, std::string> check(const std::filesystem::path& dir);

// Registers `blocks` (name, the script engine's id) in a fresh material registry and adds their
// names to the report, with a failure for each name the registry refuses or numbers differently.
void check_blocks(std::span<const std::pair<std::string, ostrel_core::material::MaterialId>> blocks,
                  CheckReport& report);

// Prints the report for `dir` (as the user wrote it): the summary to `out`, the failures to `err`.
// Returns 0 when nothing failed, else 1.
int report_and_code(std::string_view dir, const CheckReport& report, std::FILE* out = stdout,
                    std::FILE* err = stderr);

}  // namespace ostrel_server::checkmods
