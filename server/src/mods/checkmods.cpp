#include "mods/checkmods.hpp"

#include <algorithm>
#include <optional>
#include <system_error>

#include <fmt/format.h>

#include "base/error.hpp"
#include "script/host.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "script/read/records.hpp"

namespace ostrel_server::checkmods {

namespace fs = std::filesystem;
using ostrel_core::script::host::ModHost;
using ostrel_core::script::lua_vm::LuaVm;

std::expected<CheckReport, std::string> check(const fs::path& dir) {
  // A NUL byte would cut the path short at the system call: the directory asked for is not there.
  const std::string text = dir.string();
  std::error_code ec;
  const auto status = text.find('\0') == std::string::npos ? fs::status(dir, ec) : fs::file_status{};
  if (ec || !fs::exists(status)) return std::unexpected(fmt::format("no such directory: `{}`", text));
  if (!fs::is_directory(status)) return std::unexpected(fmt::format("`{}` is not a directory", text));

  auto host = ModHost<LuaVm>::load_selected_with_options(dir, kMemoryLimit, kInstructionBudget,
                                                         std::nullopt, {});
  if (!host) return std::unexpected(ostrel_core::report(host.error()));

  CheckReport report;
  for (const auto& mod : host->resolved.mods) {
    report.loaded.push_back(fmt::format("{} {}", mod.id, mod.version.to_string()));
  }
  for (const auto& a : host->resolved.aside) {
    report.aside.push_back(fmt::format("`{}` stood aside for `{}`", a.reference, a.replaced_by));
  }
  // The Lua error's own text goes with each failure, so the author sees why.
  for (const auto& e : host->load_errors) report.failed.emplace_back(e.mod_id, e.error.with_detail());

  if (auto frozen = host->vm.freeze(); !frozen) {
    report.failed.emplace_back("<freeze>", frozen.error().with_detail());
    return report;
  }
  if (auto ticked = host->vm.tick(1); !ticked) {
    report.failed.emplace_back("<tick>", ticked.error().with_detail());
  } else {
    for (const auto& f : *ticked) {
      report.failed.emplace_back(f.mod_id,
                                 fmt::format("failed on its first tick: {}", f.error.with_detail()));
    }
  }

  // Every mod disabled while loading or on the check tick, whatever disabled it (its memory
  // released for another, say), is a failure the report names.
  for (const auto& id : host->vm.faulted_mods()) {
    const bool listed = std::any_of(report.failed.begin(), report.failed.end(),
                                    [&](const auto& f) { return f.first == id; });
    if (listed) continue;
    report.failed.emplace_back(
        id, host->vm.fault_reason(id).value_or("disabled while loading or on its first tick"));
  }

  const auto blocks = ostrel_core::script::records::registered_blocks(host->vm);
  check_blocks(blocks, report);
  if (blocks.empty()) report.warnings.emplace_back("no blocks registered; this mod set has no placeable content");
  if (host->resolved.mods.empty()) report.warnings.push_back(fmt::format("no mods found under `{}`", text));
  return report;
}

void check_blocks(std::span<const std::pair<std::string, ostrel_core::material::MaterialId>> blocks,
                  CheckReport& report) {
  ostrel_core::material::Registry registry;
  for (const auto& [name, engine_id] : blocks) {
    report.blocks.push_back(name);
    auto id = registry.register_material(name);
    if (!id) {
      report.failed.emplace_back(name, id.error().message());
    } else if (*id != engine_id) {
      report.failed.emplace_back(
          name, fmt::format("the engine would assign id {} but the script VM handed out {} — every block "
                            "this mod places would be the wrong material",
                            *id, engine_id));
    }
  }
}

int report_and_code(std::string_view dir, const CheckReport& report, std::FILE* out, std::FILE* err) {
  fmt::print(out, "checking mods in `{}`\n", dir);
  if (!report.loaded.empty()) {
    fmt::print(out, "  {} mod(s) loaded, in order:\n", report.loaded.size());
    for (const auto& line : report.loaded) fmt::print(out, "    {}\n", line);
  } else {
    fmt::print(out, "  no mods loaded\n");
  }
  for (const auto& line : report.aside) fmt::print(out, "  reference mod {}\n", line);
  if (!report.blocks.empty()) {
    fmt::print(out, "  {} block(s) registered:\n", report.blocks.size());
    std::size_t id = 2;  // after the engine's air and unknown
    for (const auto& name : report.blocks) fmt::print(out, "    {} (id {})\n", name, id++);
  }
  for (const auto& w : report.warnings) fmt::print(out, "  warning: {}\n", w);
  if (report.failed.empty()) {
    fmt::print(out, "OK\n");
    std::fflush(out);
    return 0;
  }
  std::fflush(out);
  fmt::print(err, "  {} mod(s) FAILED:\n", report.failed.size());
  for (const auto& [name, reason] : report.failed) fmt::print(err, "    {}: {}\n", name, reason);
  fmt::print(err,
             "FAILED — these mods would be silently disabled on a live server (charter rule 10), which is "
             "exactly what this command exists to surface.\n");
  std::fflush(err);
  return 1;
}

}  // namespace ostrel_server::checkmods
