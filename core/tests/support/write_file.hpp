#pragma once
// Writing fixture files in tests.
#include <filesystem>
#include <string_view>

namespace ostrel_core::test {

// Writes `bytes` to `path`, creating the directories above it; replaces an existing file.
void write_file(const std::filesystem::path& path, std::string_view bytes);

}  // namespace ostrel_core::test
