#pragma once
// Fixture mod directories, and reading back what a test wrote or a tool made.
#include <filesystem>
#include <map>
#include <string>

namespace ostrel_core::test {

// A mod directory `id` under `root`: a manifest with id, name (the id) and `version`, then the
// `extra` lines; and `init` as its init.lua.
void write_mod(const std::filesystem::path& root, const std::string& id, const std::string& init,
               const std::string& extra = "", const std::string& version = "1.0.0");

// The file's bytes; empty when it cannot be read.
std::string read_file(const std::filesystem::path& path);

// Every regular file under `root` (links followed) by relative path, with its bytes.
std::map<std::string, std::string> file_tree(const std::filesystem::path& root);

}  // namespace ostrel_core::test
