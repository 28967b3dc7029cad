#include "support/test_world.hpp"

#include <gtest/gtest.h>

#include "base/log.hpp"
#include "world/material.hpp"

namespace ostrel_server::test {

world::WorldDb open_test_db(const std::filesystem::path& dir, std::initializer_list<const char*> materials) {
  ostrel_core::material::Registry registry;
  for (const char* m : materials) EXPECT_TRUE(registry.register_material(m).has_value());
  auto conn = ostrel_core::persist::sqlite::Connection::open(dir / "world.sqlite");
  EXPECT_TRUE(conn.has_value());
  auto db = world::WorldDb::from_connection(std::move(*conn), dir / "world.sqlite", registry);
  if (!db) ADD_FAILURE() << ostrel_core::report(db.error());
  return std::move(*db);
}

world::World open_test_world(const std::filesystem::path& dir, std::initializer_list<const char*> materials,
                             std::uint64_t seed) {
  auto w = world::World::open(open_test_db(dir, materials), seed);
  if (!w) ADD_FAILURE() << ostrel_core::report(w.error());
  return std::move(*w);
}

std::int64_t chunk_rows(world::World& w, const char* domain) {
  auto stmt = w.db().connection().prepare("SELECT count(*) FROM chunks WHERE domain = ?1");
  EXPECT_TRUE(stmt.has_value());
  EXPECT_TRUE(stmt->bind_text(1, domain).has_value());
  EXPECT_TRUE(*stmt->step());
  return stmt->column_i64(0);
}

LogLines::LogLines() { ostrel_core::log::set_sink(&LogLines::sink, this); }
LogLines::~LogLines() { ostrel_core::log::set_sink(nullptr, nullptr); }

void LogLines::sink(std::string_view line, void* ctx) {
  static_cast<LogLines*>(ctx)->lines_.emplace_back(line);
}

int LogLines::count(std::string_view needle) const {
  int n = 0;
  for (const auto& l : lines_) n += l.find(needle) != std::string::npos;
  return n;
}

}  // namespace ostrel_server::test
