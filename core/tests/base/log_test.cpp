#include "base/log.hpp"

#include <cstdlib>
#include <ctime>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ostrel_core::log {
namespace {

// "2026-12-10T22:38:13.123456Z" followed by a blank.
const std::regex kTimestamp(R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})\.\d{6}Z )");

// The line without its timestamp; fails the test when the timestamp is malformed.
std::string after_timestamp(const std::string& line) {
  std::smatch m;
  EXPECT_TRUE(std::regex_search(line, m, kTimestamp)) << line;
  return m.empty() ? line : m.suffix().str();
}

std::string strip_escapes(const std::string& line) {
  static const std::regex kEscape("\x1b\\[[0-9;]*m");
  return std::regex_replace(line, kEscape, "");
}

// Environment variable set for one scope, restored afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) setenv(name_, old_->c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Captures emitted lines for the life of a test and restores the default logger after it.
class LogCapture : public ::testing::Test {
 protected:
  void SetUp() override { set_sink(&LogCapture::collect, &lines_); }
  void TearDown() override {
    set_sink(nullptr, nullptr);
    install(Options{});
  }
  static void collect(std::string_view line, void* context) {
    static_cast<std::vector<std::string>*>(context)->emplace_back(line);
  }
  std::vector<std::string> lines_;
};

TEST(LogLine, TimestampIsUtcNow) {
  auto line = format_line(Level::Info, "ostrel_server::handle", "hello", {}, false);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(line, m, kTimestamp)) << line;
  std::tm tm{};
  tm.tm_year = std::stoi(m[1]) - 1900;
  tm.tm_mon = std::stoi(m[2]) - 1;
  tm.tm_mday = std::stoi(m[3]);
  tm.tm_hour = std::stoi(m[4]);
  tm.tm_min = std::stoi(m[5]);
  tm.tm_sec = std::stoi(m[6]);
  auto written = timegm(&tm);
  auto now = std::time(nullptr);
  EXPECT_LE(std::abs(now - written), 5) << "timestamp is not the current UTC time: " << line;
}

TEST(LogLine, LevelTargetMessageAndFields) {
  constexpr const char* kTarget = "ostrel_server::handle";
  constexpr const char* kMessage = "ostrel server starting";
  struct Case {
    const char* name;
    std::string line;
    const char* want;  // the line after the timestamp
  };
  const Case cases[] = {
      {"info_text_and_number",
       format_line(Level::Info, kTarget, kMessage, {text("version", "0.4.2"), value("max_players", 16)}, false),
       " INFO ostrel_server::handle: ostrel server starting version=\"0.4.2\" max_players=16\n"},
      {"error_no_fields", format_line(Level::Error, kTarget, kMessage, {}, false),
       "ERROR ostrel_server::handle: ostrel server starting\n"},
      {"warn_bool_negative",
       format_line(Level::Warn, kTarget, kMessage, {value("ok", false), value("delta", -3)}, false),
       " WARN ostrel_server::handle: ostrel server starting ok=false delta=-3\n"},
      {"debug_path_unquoted",
       format_line(Level::Debug, kTarget, kMessage, {value("world_path", std::string("worlds/a b"))}, false),
       "DEBUG ostrel_server::handle: ostrel server starting world_path=worlds/a b\n"},
      {"trace_text_escaped", format_line(Level::Trace, kTarget, kMessage, {text("name", "say \"hi\"\n")}, false),
       "TRACE ostrel_server::handle: ostrel server starting name=\"say \\\"hi\\\"\\n\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(after_timestamp(c.line), c.want);
  }
}

TEST(LogLine, MessageStaysOneLine) {
  auto line = format_line(Level::Error, "server", "first\nsecond\r", {value("n", std::string("a\nb\r"))}, false);
  EXPECT_EQ(after_timestamp(line), "ERROR server: first\\nsecond\\r n=a\\nb\\r\n");
}

TEST(LogLine, ColourOnlyAddsEscapes) {
  auto plain = format_line(Level::Warn, "ostrel_server::shutdown", "x", {value("n", 1)}, false);
  auto coloured = format_line(Level::Warn, "ostrel_server::shutdown", "x", {value("n", 1)}, true);
  EXPECT_EQ(plain.find('\x1b'), std::string::npos);
  EXPECT_NE(coloured.find('\x1b'), std::string::npos);
  EXPECT_EQ(after_timestamp(strip_escapes(coloured)), after_timestamp(plain));
}

TEST_F(LogCapture, NoColorNeedsANonEmptyValue) {
  struct Case {
    const char* no_color;  // null: unset
    bool escapes;
  };
  const Case cases[] = {{nullptr, true}, {"", true}, {"1", false}, {"0", false}, {"false", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.no_color ? c.no_color : "(unset)");
    ScopedEnv env("NO_COLOR", c.no_color);
    install(options_from_env());
    lines_.clear();
    OSTREL_INFO("server", "ostrel server starting", text("version", "0.4.2"));
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].find('\x1b') != std::string::npos, c.escapes) << lines_[0];
  }
}

// What a filter lets through: (level, target) -> written.
struct Probe {
  Level level;
  const char* target;
  bool written;
};

void expect_filter(const char* spec, std::initializer_list<Probe> probes) {
  ScopedEnv env("OSTREL_LOG", spec);
  auto options = options_from_env();
  for (const auto& p : probes) {
    EXPECT_EQ(options.filter.enabled(p.level, p.target), p.written)
        << "OSTREL_LOG=" << (spec ? spec : "(unset)") << " level " << level_name(p.level) << " target " << p.target;
  }
}

TEST(LogFilter, UnsetOrUnparsableMeansInfo) {
  const char* specs[] = {nullptr, "", "verbose", "ostrel_server", "=debug", "debug,ostrel_server=loud",
                         "ostrel server=debug", ",,"};
  for (const char* spec : specs) {
    expect_filter(spec, {{Level::Info, "server", true},
                         {Level::Warn, "ostrel_server::handle", true},
                         {Level::Debug, "server", false},
                         {Level::Debug, "ostrel_server::transport", false},
                         {Level::Trace, "ostrel_core::chunk", false}});
  }
}

TEST(LogFilter, GlobalLevels) {
  expect_filter("debug", {{Level::Debug, "server", true}, {Level::Trace, "server", false}});
  expect_filter(" WARN ", {{Level::Warn, "server", true}, {Level::Info, "server", false}});
  expect_filter("error", {{Level::Error, "a::b", true}, {Level::Warn, "a::b", false}});
  expect_filter("off", {{Level::Error, "server", false}});
  expect_filter("trace,", {{Level::Trace, "ostrel_core::chunk", true}});
}

TEST(LogFilter, PerModuleDirectives) {
  expect_filter("warn,ostrel_server::transport=debug",
                {{Level::Debug, "ostrel_server::transport", true},
                 {Level::Debug, "ostrel_server::transport::endpoint", true},
                 {Level::Trace, "ostrel_server::transport", false},
                 {Level::Debug, "ostrel_server::transporter", false},  // not a module boundary
                 {Level::Info, "ostrel_server::handle", false},
                 {Level::Warn, "ostrel_server::handle", true}});
  // The longest matching path wins, whatever the order of the directives.
  expect_filter("ostrel_server::handle=trace,ostrel_server=error",
                {{Level::Trace, "ostrel_server::handle", true},
                 {Level::Warn, "ostrel_server::config", false},
                 {Level::Error, "ostrel_server::config", true},
                 {Level::Info, "ostrel_core::chunk", true},  // no directive: the default "info"
                 {Level::Debug, "ostrel_core::chunk", false}});
  expect_filter("ostrel_server::shutdown=off", {{Level::Error, "ostrel_server::shutdown", false},
                                                {Level::Info, "ostrel_server", true}});
}

TEST_F(LogCapture, EmitAppliesTheInstalledFilter) {
  ScopedEnv no_color("NO_COLOR", "1");
  ScopedEnv filter("OSTREL_LOG", "error,ostrel_server::config=debug");
  install(options_from_env());
  OSTREL_INFO("ostrel_server::handle", "dropped");
  OSTREL_DEBUG("ostrel_server::config", "kept", value("n", 1));
  OSTREL_ERROR("server", "kept too");
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(after_timestamp(lines_[0]), "DEBUG ostrel_server::config: kept n=1\n");
  EXPECT_EQ(after_timestamp(lines_[1]), "ERROR server: kept too\n");
}

// Threads log while another reinstalls the filter: every event is one whole line, and each
// thread's events arrive in the order it wrote them.
class LogStress : public LogCapture {};

TEST_F(LogStress, ConcurrentEventsStayWholeLinesInTheirThreadsOrder) {
  constexpr int kThreads = 4;
  constexpr int kEvents = 250;
  Options quiet;
  quiet.colour = false;
  Options loud = quiet;
  loud.filter = *Filter::parse("warn,ostrel_core::log::stress=trace");
  install(quiet);

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kEvents; ++i) {
        OSTREL_INFO("ostrel_core::log::stress", "event", value("thread", t), value("seq", i));
      }
    });
  }
  std::thread installer([&] {
    for (int i = 0; i < 200; ++i) install(i % 2 == 0 ? loud : quiet);
  });
  for (auto& t : threads) t.join();
  installer.join();

  ASSERT_EQ(lines_.size(), std::size_t{kThreads * kEvents});
  const std::regex kEvent(R"(^ INFO ostrel_core::log::stress: event thread=(\d) seq=(\d+)\n$)");
  std::vector<int> next(kThreads, 0);
  for (const auto& line : lines_) {
    std::smatch m;
    const std::string rest = after_timestamp(line);
    ASSERT_TRUE(std::regex_match(rest, m, kEvent)) << line;
    const int t = std::stoi(m[1]);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(std::stoi(m[2]), next[t]) << line;
    next[t] = std::stoi(m[2]) + 1;
  }
}

}  // namespace
}  // namespace ostrel_core::log
