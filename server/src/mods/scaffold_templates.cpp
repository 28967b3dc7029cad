// The templates of a new mod, carried inside the program. The bytes are the repository's files
// under templates/ and api/, included by the assembler at build time.
#include "mods/scaffold.hpp"

// Each file becomes ostrel_tpl_<name> .. ostrel_tpl_<name>_end in read-only data.
#define OSTREL_EMBED(name, file)                                   \
  __asm__(".pushsection .rodata\n"                                 \
          ".balign 16\n"                                           \
          "ostrel_tpl_" #name ":\n"                                \
          ".incbin \"" OSTREL_TEMPLATE_ROOT "/" file "\"\n"        \
          "ostrel_tpl_" #name "_end:\n"                            \
          ".popsection\n");                                        \
  extern "C" const char ostrel_tpl_##name[] __asm__("ostrel_tpl_" #name); \
  extern "C" const char ostrel_tpl_##name##_end[] __asm__("ostrel_tpl_" #name "_end");

OSTREL_EMBED(mod_toml, "templates/mod.toml")
OSTREL_EMBED(init_lua, "templates/init.lua")
OSTREL_EMBED(readme, "templates/README.md")
OSTREL_EMBED(luarc, "templates/.luarc.json")
OSTREL_EMBED(block_png, "templates/textures/block.png")
OSTREL_EMBED(ping_wav, "templates/sounds/ping.wav")
OSTREL_EMBED(game_stubs, "api/stubs/game.lua")
OSTREL_EMBED(agents, "api/AGENTS.md")

namespace ostrel_server::scaffold {

namespace {

constexpr std::string_view bytes_of(const char* begin, const char* end) {
  return {begin, static_cast<std::size_t>(end - begin)};
}

}  // namespace

std::span<const Template> templates() {
  static const Template table[] = {
      {"mod.toml", bytes_of(ostrel_tpl_mod_toml, ostrel_tpl_mod_toml_end), true},
      {"init.lua", bytes_of(ostrel_tpl_init_lua, ostrel_tpl_init_lua_end), true},
      {"README.md", bytes_of(ostrel_tpl_readme, ostrel_tpl_readme_end), true},
      {".luarc.json", bytes_of(ostrel_tpl_luarc, ostrel_tpl_luarc_end), true},
      {"textures/block.png", bytes_of(ostrel_tpl_block_png, ostrel_tpl_block_png_end), false},
      {"sounds/ping.wav", bytes_of(ostrel_tpl_ping_wav, ostrel_tpl_ping_wav_end), false},
      {"stubs/game.lua", bytes_of(ostrel_tpl_game_stubs, ostrel_tpl_game_stubs_end), false},
      {"AGENTS.md", bytes_of(ostrel_tpl_agents, ostrel_tpl_agents_end), false},
  };
  return table;
}

}  // namespace ostrel_server::scaffold
