#include "start/tables.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <set>
#include <string_view>
#include <utility>

#include "base/log.hpp"

namespace ostrel_server::handle {

namespace log = ostrel_core::log;
namespace proto = ostrel_core::proto;
namespace records = ostrel_core::script::records;
namespace media = ostrel_core::script::media;
using ostrel_core::content::ContentIndex;
using ostrel_core::material::MaterialId;
using ostrel_core::persist::idmap::MaterialMap;

namespace {

// The world id clients know a material by, or none when the world has none for it.
std::optional<std::uint16_t> world_id_of(const MaterialMap& map, MaterialId runtime) {
  if (map.identity) return runtime;
  if (runtime >= map.forward.size()) return std::nullopt;
  const auto id = map.forward[runtime];
  if (id == ostrel_core::persist::idmap::kUnmapped) return std::nullopt;
  return id;
}

// Later entries replace earlier ones of the same name.
template <class T>
std::map<std::string_view, const T*> by_block(std::span<const T> entries) {
  std::map<std::string_view, const T*> out;
  for (const auto& e : entries) out.insert_or_assign(std::string_view(e.block), &e);
  return out;
}

void copy_rules(const records::BlockRules& r, proto::MaterialDef& def) {
  def.step_sound = r.step_sound;
  def.transparent = r.transparent;
  def.cutout = r.cutout;
  def.passable = r.passable;
  def.sway = r.sway;
  def.billboard = r.billboard || r.cross;
  def.cross = r.cross;
  def.friction = r.friction;
  if (r.tint) def.tint = proto::MaterialTint{r.tint->strength, r.tint->scale, r.tint->low, r.tint->high};
  def.whole = r.whole;
  def.model = r.model;
  if (r.flicker) def.flicker = proto::MaterialFlicker{r.flicker->depth, r.flicker->rate};
}

// What `read` finds in the mods' engine; nothing registered when there are no mods.
template <class Read>
auto registered(const Host* host, Read read) -> decltype(read(host->vm)) {
  if (!host) return {};
  return read(host->vm);
}

}  // namespace

proto::server::MaterialTable material_table(const ostrel_core::material::Registry& registry,
                                            const MaterialMap& map, const ContentIndex& content,
                                            std::span<const records::BlockTexture> textures,
                                            std::span<const records::BlockRules> rules,
                                            std::span<const std::string> items) {
  const auto texture_of = by_block(textures);
  const auto rules_of = by_block(rules);
  const std::set<std::string_view> item_names(items.begin(), items.end());

  proto::server::MaterialTable table;
  const auto names = registry.names();
  table.materials.reserve(names.size());
  for (std::size_t runtime = 0; runtime < names.size(); ++runtime) {
    const std::string& name = names[runtime];
    const auto world_id = world_id_of(map, static_cast<MaterialId>(runtime));
    if (!world_id) {
      OSTREL_WARN(kTarget, "a material has no world id; clients will not be told of it",
                  log::text("material", name));
      continue;
    }
    proto::MaterialDef def;
    def.id = *world_id;
    def.name = name;
    def.block = !item_names.contains(name);
    if (auto t = texture_of.find(name); t != texture_of.end()) {
      const records::BlockTexture& texture = *t->second;
      def.texture = content.hash_of(texture.mod, texture.path);
      if (!def.texture) {
        OSTREL_ERROR(kTarget,
                     "block declares a texture that is not in the mod directory; clients will draw the "
                     "missing-texture placeholder",
                     log::text("mod_id", texture.mod), log::text("path", texture.path),
                     log::text("block", name));
      }
    }
    if (auto r = rules_of.find(name); r != rules_of.end()) copy_rules(*r->second, def);
    table.materials.push_back(std::move(def));
  }
  std::stable_sort(table.materials.begin(), table.materials.end(),
                   [](const proto::MaterialDef& a, const proto::MaterialDef& b) { return a.id < b.id; });
  return table;
}

proto::server::ToolTable tool_table(std::span<const records::Tool> tools) {
  proto::server::ToolTable table;
  table.tools.reserve(tools.size());
  for (const auto& t : tools) {
    table.tools.push_back(proto::ToolDef{
        t.id, t.name.value_or(t.id), t.brush == records::Brush::Subnode ? "subnode" : "block", t.is_default});
  }
  return table;
}

proto::server::ActionTable action_table(std::span<const media::Action> actions) {
  proto::server::ActionTable table;
  table.actions.reserve(actions.size());
  for (const auto& a : actions) {
    table.actions.push_back(proto::ActionDef{a.id, a.description, a.mod_id, a.default_key});
  }
  OSTREL_INFO(kTarget, "action table built", log::value("actions", table.actions.size()));
  return table;
}

proto::server::SettingTable setting_table(std::span<const ostrel_core::script::vm::Setting> settings) {
  if (settings.size() > kMaxSettings) {
    OSTREL_WARN(kTarget, "more mod settings than a screen holds; the rest are dropped",
                log::value("declared", settings.size()), log::value("cap", kMaxSettings));
    settings = settings.first(kMaxSettings);
  }
  proto::server::SettingTable table;
  table.settings.reserve(settings.size());
  for (const auto& s : settings) {
    const bool choice = !s.options.empty();
    table.settings.push_back(proto::SettingDef{s.mod_id, s.id, s.name, s.description, choice, s.options,
                                               choice ? s.default_value + 1 : s.default_value});
  }
  OSTREL_INFO(kTarget, "mod setting table built", log::value("settings", table.settings.size()));
  return table;
}

TableStage build_tables(const ostrel_core::material::Registry& registry, const MaterialMap& map,
                        const ContentIndex& content, const Host* host) {
  TableStage out;
  const auto textures = registered(host, records::registered_block_textures);
  out.block_rules = registered(host, records::registered_block_rules);
  out.items = registered(host, records::registered_items);
  ContentTables& t = out.tables;
  t.materials = material_table(registry, map, content, textures, out.block_rules, out.items);
  t.tools = tool_table(registered(host, records::registered_tools));
  t.actions = action_table(registered(host, media::registered_actions));
  t.settings = setting_table(registered(host, [](const auto& vm) { return vm.registered_settings(); }));

  t.sounds = sound_table(registered(host, media::registered_sounds), content);
  t.fonts = font_table(registered(host, media::registered_fonts), content);
  t.pictures = picture_table(registered(host, media::registered_pictures), content);
  t.models = model_table(registered(host, media::registered_models), content);
  check_block_models(out.block_rules, t.models);
  t.theme = choose_theme(host, content, t.fonts, t.pictures);
  t.cloud_deck = cloud_deck(registered(host, media::registered_clouds));
  t.sound_bindings = cue_bindings(registered(host, media::registered_bindings));
  t.hud_scripts = hud_script_table(registered(host, media::registered_hud_scripts), content);

  const auto textured =
      std::ranges::count_if(t.materials.materials, [](const auto& m) { return m.texture.has_value(); });
  OSTREL_INFO(kTarget, "material table built", log::value("materials", t.materials.materials.size()),
              log::value("textured", textured));
  return out;
}

}  // namespace ostrel_server::handle
