#pragma once
// An independent BLAKE3 for tests: Debian's b3sum program.
#include <filesystem>
#include <string>

namespace ostrel_core::test {

// What `b3sum --no-names` prints for `file`, without the line end: 64 lowercase hex digits, or
// whatever else it printed (nothing when it could not be run), which no digest compares equal to.
std::string b3sum(const std::filesystem::path& file);

}  // namespace ostrel_core::test
