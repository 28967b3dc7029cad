#include "support/write_file.hpp"

#include <cstdlib>
#include <fstream>

namespace ostrel_core::test {

void write_file(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) std::abort();  // a fixture that cannot be written makes every later check meaningless
}

}  // namespace ostrel_core::test
