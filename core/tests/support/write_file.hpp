#pragma once
// Writing fixture files in tests, and reading files back as bytes.
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace ostrel_core::test {

// Writes `bytes` to `path`, creating the directories above it; replaces an existing file.
void write_file(const std::filesystem::path& path, std::string_view bytes);
// The file's bytes; empty when it cannot be read.
std::vector<std::uint8_t> file_bytes(const std::filesystem::path& path);

}  // namespace ostrel_core::test
