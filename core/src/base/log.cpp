#include "base/log.hpp"

#include <algorithm>
#include <cctype>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "base/text.hpp"
#include "base/thread_safety.hpp"

namespace ostrel_core::log {
namespace {

struct State {
  sync::PlainMutex mu;  // also serialises writes
  Options options OSTREL_GUARDED_BY(mu);
  Sink sink OSTREL_GUARDED_BY(mu) = nullptr;
  void* sink_context OSTREL_GUARDED_BY(mu) = nullptr;
};

State& state() {
  static State s;  // the process logger: the one piece of global mutable state
  return s;
}

std::atomic<Level> g_max_level{Level::Info};

std::optional<Level> parse_level(std::string_view s) {
  auto eq = [&](std::string_view name) {
    return s.size() == name.size() &&
           std::equal(s.begin(), s.end(), name.begin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
  };
  if (eq("off")) return Level::Off;
  if (eq("error")) return Level::Error;
  if (eq("warn")) return Level::Warn;
  if (eq("info")) return Level::Info;
  if (eq("debug")) return Level::Debug;
  if (eq("trace")) return Level::Trace;
  return std::nullopt;
}

std::string_view trim(std::string_view s) { return text::trim_bytes(s, " \t"); }

bool valid_path(std::string_view p) {
  if (p.empty()) return false;
  for (char c : p) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':' || c == '-')) return false;
  }
  return true;
}

// `target` lies within module path `path`: equal, or followed by "::".
bool matches(std::string_view path, std::string_view target) {
  if (!target.starts_with(path)) return false;
  return target.size() == path.size() || target.substr(path.size()).starts_with("::");
}

std::string timestamp() {
  using namespace std::chrono;
  auto now = system_clock::now();
  auto secs = time_point_cast<seconds>(now);
  auto micros = duration_cast<microseconds>(now - secs).count();
  std::time_t t = system_clock::to_time_t(secs);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:06}Z", tm.tm_year + 1900, tm.tm_mon + 1,
                     tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, micros);
}

std::string_view level_colour(Level level) {
  switch (level) {
    case Level::Error: return "\x1b[31m";
    case Level::Warn: return "\x1b[33m";
    case Level::Info: return "\x1b[32m";
    case Level::Debug: return "\x1b[34m";
    case Level::Trace: return "\x1b[35m";
    case Level::Off: break;
  }
  return "";
}

// An event is one line whatever its message and fields hold, and writes no control character
// to the terminal: line breaks, tabs and NUL as \n \r \t \0, every other control character
// (C0, DEL and the C1 range, U+0080..U+009F) as \u{1b}.
void append_one_line(std::string& line, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else if (c == '\t') {
      line += "\\t";
    } else if (c == '\0') {
      line += "\\0";
    } else if (c < 0x20 || c == 0x7f) {
      line += fmt::format("\\u{{{:x}}}", c);
    } else if (c == 0xc2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      line += fmt::format("\\u{{{:x}}}", static_cast<unsigned char>(text[i + 1]));
      ++i;
    } else {
      line += static_cast<char>(c);
    }
  }
}

}  // namespace

std::string_view level_name(Level level) {
  switch (level) {
    case Level::Error: return "ERROR";
    case Level::Warn: return "WARN";
    case Level::Info: return "INFO";
    case Level::Debug: return "DEBUG";
    case Level::Trace: return "TRACE";
    case Level::Off: break;
  }
  return "OFF";
}

std::optional<Filter> Filter::parse(std::string_view spec) {
  Filter f;
  bool any = false;
  while (true) {
    auto comma = spec.find(',');
    auto part = trim(spec.substr(0, comma));
    if (!part.empty()) {
      auto eq = part.find('=');
      if (eq == std::string_view::npos) {
        auto level = parse_level(part);
        if (!level) return std::nullopt;
        f.default_ = *level;
      } else {
        auto path = trim(part.substr(0, eq));
        auto level = parse_level(trim(part.substr(eq + 1)));
        if (!level || !valid_path(path)) return std::nullopt;
        f.directives_.push_back({std::string(path), *level});
      }
      any = true;
    }
    if (comma == std::string_view::npos) break;
    spec.remove_prefix(comma + 1);
  }
  if (!any) return std::nullopt;
  std::stable_sort(f.directives_.begin(), f.directives_.end(),
                   [](const Directive& a, const Directive& b) { return a.target.size() > b.target.size(); });
  return f;
}

bool Filter::enabled(Level level, std::string_view target) const {
  if (level == Level::Off) return false;
  for (const auto& d : directives_) {
    if (matches(d.target, target)) return level <= d.level;
  }
  return level <= default_;
}

Level Filter::max_level() const {
  Level m = default_;
  for (const auto& d : directives_) m = std::max(m, d.level);
  return m;
}

Options options_from_env() {
  Options o;
  if (const char* spec = std::getenv("OSTREL_LOG")) {
    if (auto f = Filter::parse(spec)) o.filter = *f;
  }
  const char* no_colour = std::getenv("NO_COLOR");
  o.colour = no_colour == nullptr || no_colour[0] == '\0';
  return o;
}

void install(const Options& options) {
  auto& s = state();
  sync::PlainLock lock(s.mu);
  s.options = options;
  g_max_level.store(options.filter.max_level(), std::memory_order_relaxed);
}

void set_sink(Sink sink, void* context) {
  auto& s = state();
  sync::PlainLock lock(s.mu);
  s.sink = sink;
  s.sink_context = context;
}

bool enabled(Level level, std::string_view target) {
  if (level > g_max_level.load(std::memory_order_relaxed)) return false;
  auto& s = state();
  sync::PlainLock lock(s.mu);
  return s.options.filter.enabled(level, target);
}

std::string format_line(Level level, std::string_view target, std::string_view message,
                        std::initializer_list<Field> fields, bool colour) {
  std::string line = timestamp();
  line += ' ';
  if (colour) line += level_colour(level);
  line += fmt::format("{:>5}", level_name(level));
  if (colour) line += "\x1b[0m";
  line += ' ';
  if (colour) line += "\x1b[2m";
  line += target;
  line += ':';
  if (colour) line += "\x1b[0m";
  line += ' ';
  append_one_line(line, message);
  for (const auto& f : fields) {
    line += ' ';
    if (colour) line += "\x1b[3m";
    line += f.name;
    if (colour) line += "\x1b[0m";
    line += '=';
    append_one_line(line, f.value);
  }
  line += '\n';
  return line;
}

void emit(Level level, std::string_view target, std::string_view message, std::initializer_list<Field> fields) {
  auto& s = state();
  sync::PlainLock lock(s.mu);
  if (!s.options.filter.enabled(level, target)) return;
  auto line = format_line(level, target, message, fields, s.options.colour);
  if (s.sink) {
    s.sink(line, s.sink_context);
  } else {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  }
}

}  // namespace ostrel_core::log
