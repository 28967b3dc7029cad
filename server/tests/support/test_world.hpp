#pragma once
// A server World over a fresh world database in a directory, with extra materials registered in
// order from id 2; and a capture of log lines for the lifetime of the object.

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "world/world.hpp"

namespace ostrel_server::test {

world::WorldDb open_test_db(const std::filesystem::path& dir,
                            std::initializer_list<const char*> materials = {});
world::World open_test_world(const std::filesystem::path& dir,
                             std::initializer_list<const char*> materials = {}, std::uint64_t seed = 7);
// Rows of `chunks` stored for `domain`.
std::int64_t chunk_rows(world::World& w, const char* domain);

class LogLines {
 public:
  LogLines();
  ~LogLines();
  LogLines(const LogLines&) = delete;
  LogLines& operator=(const LogLines&) = delete;
  const std::vector<std::string>& lines() const { return lines_; }
  // Lines holding `needle`.
  int count(std::string_view needle) const;

 private:
  static void sink(std::string_view line, void* ctx);
  std::vector<std::string> lines_;
};

}  // namespace ostrel_server::test
