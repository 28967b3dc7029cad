#include "modload/manifest_toml.hpp"

#include <fmt/format.h>

#include <limits>
#include <span>
#include <toml++/toml.h>

#include "base/toml_text.hpp"

namespace ostrel_core::modload::manifest {
namespace {

constexpr std::string_view kTopKeys[] = {
    "id",       "name",      "version",     "depends", "optional_depends", "provides", "conflicts",
    "reference", "description", "license", "world_option", "setting",       "theme"};
constexpr std::string_view kOptionKeys[] = {"id", "name", "description", "options", "default"};
constexpr std::string_view kThemeKeys[] = {"font", "text_font", "sheet", "button", "colours"};
constexpr std::string_view kColourKeys[] = {"text", "heading", "background", "button", "accent"};

std::string where(const toml::source_region& s) {
  if (s.begin.line == 0) return {};
  return fmt::format("line {}, column {}: ", s.begin.line, s.begin.column);
}

// The fields of one table of one record. Keeps the first error: once `error` is set, every
// further read does nothing.
class Fields {
 public:
  Fields(const toml::table& t, std::string_view record, std::span<const std::string_view> keys,
         std::string& error)
      : t_(t), record_(record), error_(error) {
    if (!error_.empty()) return;
    const toml::key* first = nullptr;
    for (auto&& [k, v] : t) {
      bool known = false;
      for (auto allowed : keys) known = known || k.str() == allowed;
      if (!known && (first == nullptr || before(k.source(), first->source()))) first = &k;
    }
    if (first != nullptr) {
      error_ = fmt::format("{}unknown key `{}` in {}; expected one of {}", where(first->source()),
                           first->str(), record_, toml_text::backticked(keys));
    }
  }

  void text(std::string_view key, std::string& out, bool required) {
    if (const toml::node* n = get(key, required)) {
      if (auto s = n->as_string()) out = s->get();
      else wrong_type(key, *n, "a string");
    }
  }

  void text(std::string_view key, std::optional<std::string>& out) {
    if (const toml::node* n = get(key, false)) {
      if (auto s = n->as_string()) out = s->get();
      else wrong_type(key, *n, "a string");
    }
  }

  void texts(std::string_view key, std::vector<std::string>& out) {
    const toml::node* n = get(key, false);
    if (n == nullptr) return;
    const toml::array* a = n->as_array();
    if (a == nullptr) return wrong_type(key, *n, "an array of strings");
    for (std::size_t i = 0; i < a->size(); ++i) {
      const toml::node& item = *a->get(i);
      if (auto s = item.as_string()) {
        out.push_back(s->get());
      } else {
        return wrong_type(fmt::format("{}[{}]", key, i), item, "a string");
      }
    }
  }

  void flag(std::string_view key, bool& out) {
    if (const toml::node* n = get(key, false)) {
      if (auto b = n->as_boolean()) out = b->get();
      else wrong_type(key, *n, "a boolean");
    }
  }

  void u32(std::string_view key, std::uint32_t& out) {
    const toml::node* n = get(key, false);
    if (n == nullptr) return;
    auto i = n->as_integer();
    if (!i) return wrong_type(key, *n, "an unsigned 32-bit integer");
    const std::int64_t v = i->get();
    if (v < 0 || v > std::numeric_limits<std::uint32_t>::max()) {
      error_ = fmt::format("{}`{}` is {}, expected an unsigned 32-bit integer (0..={})",
                           where(n->source()), key, v, std::numeric_limits<std::uint32_t>::max());
      return;
    }
    out = static_cast<std::uint32_t>(v);
  }

  // The sub-table at `key`, or null when absent or of the wrong type (then the error is set).
  const toml::table* table(std::string_view key, std::string_view record) {
    const toml::node* n = get(key, false);
    if (n == nullptr) return nullptr;
    if (auto t = n->as_table()) return t;
    wrong_type(key, *n, record);
    return nullptr;
  }

  // The tables of an array of tables at `key`; null when absent or wrong.
  const toml::array* tables(std::string_view key, std::string_view record) {
    const toml::node* n = get(key, false);
    if (n == nullptr) return nullptr;
    const toml::array* a = n->as_array();
    if (a == nullptr) {
      wrong_type(key, *n, fmt::format("an array of {}", record));
      return nullptr;
    }
    for (std::size_t i = 0; i < a->size(); ++i) {
      if (!a->get(i)->is_table()) {
        wrong_type(fmt::format("{}[{}]", key, i), *a->get(i), record);
        return nullptr;
      }
    }
    return a;
  }

 private:
  static bool before(const toml::source_region& a, const toml::source_region& b) {
    if (a.begin.line != b.begin.line) return a.begin.line < b.begin.line;
    return a.begin.column < b.begin.column;
  }

  const toml::node* get(std::string_view key, bool required) {
    if (!error_.empty()) return nullptr;
    const toml::node* n = t_.get(key);
    if (n == nullptr && required)
      error_ = fmt::format("{}missing key `{}` in {}", where(t_.source()), key, record_);
    return n;
  }

  void wrong_type(std::string_view key, const toml::node& n, std::string_view expected) {
    error_ = fmt::format("{}invalid type for `{}` in {}: found {}, expected {}", where(n.source()), key,
                         record_, toml_text::type_phrase(n), expected);
  }

  const toml::table& t_;
  std::string_view record_;
  std::string& error_;
};

template <class Entry>
void read_entries(Fields& top, std::string_view key, std::string_view record,
                  std::vector<Entry>& out, std::string& error) {
  const toml::array* a = top.tables(key, record);
  if (a == nullptr) return;
  for (const toml::node& n : *a) {
    Entry e;
    Fields f(*n.as_table(), record, kOptionKeys, error);
    f.text("id", e.id, true);
    f.text("name", e.name, true);
    f.text("description", e.description, false);
    f.texts("options", e.options);
    f.u32("default", e.default_value);
    if (!error.empty()) return;
    out.push_back(std::move(e));
  }
}

void read_theme(Fields& top, std::optional<Theme>& out, std::string& error) {
  const toml::table* t = top.table("theme", "struct Theme");
  if (t == nullptr) return;
  Theme theme;
  Fields f(*t, "struct Theme", kThemeKeys, error);
  f.text("font", theme.font);
  f.text("text_font", theme.text_font);
  f.text("sheet", theme.sheet);
  f.text("button", theme.button);
  if (const toml::table* c = f.table("colours", "struct ThemeColours")) {
    Fields fc(*c, "struct ThemeColours", kColourKeys, error);
    fc.text("text", theme.colours.text);
    fc.text("heading", theme.colours.heading);
    fc.text("background", theme.colours.background);
    fc.text("button", theme.colours.button);
    fc.text("accent", theme.colours.accent);
  }
  if (error.empty()) out = std::move(theme);
}

}  // namespace

std::expected<ModManifest, std::string> read_manifest_toml(std::string_view text,
                                                           std::string_view source_name) {
  toml::table doc;
  try {
    doc = toml::parse(text, source_name);
  } catch (const toml::parse_error& e) {
    return std::unexpected(fmt::format("{}{}", where(e.source()), e.description()));
  }
  std::string error;
  ModManifest m;
  Fields f(doc, "struct ModManifest", kTopKeys, error);
  f.text("id", m.id, true);
  f.text("name", m.name, true);
  f.text("version", m.version, true);
  f.texts("depends", m.depends);
  f.texts("optional_depends", m.optional_depends);
  f.texts("provides", m.provides);
  f.texts("conflicts", m.conflicts);
  f.flag("reference", m.reference);
  f.text("description", m.description, false);
  f.text("license", m.license, false);
  read_entries(f, "world_option", "struct WorldOption", m.world_option, error);
  read_entries(f, "setting", "struct ManifestSetting", m.setting, error);
  read_theme(f, m.theme, error);
  if (!error.empty()) return std::unexpected(std::move(error));
  return m;
}

}  // namespace ostrel_core::modload::manifest
