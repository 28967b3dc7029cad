#pragma once
// File access for mods: whole-file reads, and keeping access inside a mod's directory
// (symbolic links and ".." are resolved before the check, so neither can lead out of it).

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <vector>

#include "base/error.hpp"

namespace ostrel_core::modload::files {

// The whole file, or the operating system's error; a directory fails with "Is a directory".
// More than `limit` bytes: the first `limit` + 1 bytes, so the caller sees it is too long.
std::expected<std::vector<std::uint8_t>, IoError> read_file(
    const std::filesystem::path& path, std::size_t limit = std::vector<std::uint8_t>().max_size() - 1);

// The most a mod's own file (its init.lua, its mod.toml, a file it requires) may hold: the
// 16 MiB a file clients are sent may hold.
inline constexpr std::size_t kMaxModFileBytes = 16'777'216;

// A mod's own file, whole: only a regular file, opened without blocking (a FIFO or a device
// behind the name cannot hold the caller), of at most kMaxModFileBytes (a larger one is refused
// by its size before a byte is read). Errors: the operating system's, "not a regular file", or
// "{size} bytes, over the 16777216 bytes a mod file may hold".
std::expected<std::vector<std::uint8_t>, IoError> read_mod_file(const std::filesystem::path& path);

// Whether the canonical path `p` is the canonical directory `root` or lies under it.
bool lies_within(const std::filesystem::path& root, const std::filesystem::path& p);

// The canonical form of `p` when it exists and lies inside the canonical directory `root`.
std::optional<std::filesystem::path> resolve_within(const std::filesystem::path& root,
                                                    const std::filesystem::path& p);

// Whether `dir`/`name` is a regular file (symbolic links followed) that lies inside `dir`.
bool is_regular_file_within(const std::filesystem::path& dir, const std::filesystem::path& name);

}  // namespace ostrel_core::modload::files
