#include "support/mod_files.hpp"

#include <fmt/format.h>

#include <fstream>
#include <sstream>

#include "support/write_file.hpp"

namespace ostrel_core::test {

void write_mod(const std::filesystem::path& root, const std::string& id, const std::string& init,
               const std::string& extra, const std::string& version) {
  write_file(root / id / "mod.toml",
             fmt::format("id = \"{}\"\nname = \"{}\"\nversion = \"{}\"\n{}", id, id, version, extra));
  write_file(root / id / "init.lua", init);
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::map<std::string, std::string> file_tree(const std::filesystem::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) out[std::filesystem::relative(e.path(), root).string()] = read_file(e.path());
  }
  return out;
}

}  // namespace ostrel_core::test
