#pragma once
// The process logger: one line per event on standard output.
//
//   2026-12-10T22:38:13.123456Z  INFO ostrel_server::handle: ostrel server starting version="0.4.2" max_players=16
//
// A UTC RFC 3339 timestamp, the level right-aligned to five columns, the emitting module path
// and a colon, the message, then each field as name=value. Texts are quoted (fmt's escaped
// form), numbers, paths and addresses are written as they are. Lines are coloured with ANSI
// escapes unless NO_COLOR is non-empty. Which events are written is decided by a filter read
// from OSTREL_LOG: comma-separated directives, each a level or `module::path=level`; the
// longest matching path wins; unset or unparsable means "info".

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <fmt/format.h>

namespace ostrel_core::log {

enum class Level : std::uint8_t { Off = 0, Error = 1, Warn = 2, Info = 3, Debug = 4, Trace = 5 };

std::string_view level_name(Level level);  // "ERROR", "WARN", ...

// A parsed filter. Directives are matched by module path at "::" boundaries.
class Filter {
 public:
  Filter() = default;  // "info"
  // Null when `spec` is not a valid filter.
  static std::optional<Filter> parse(std::string_view spec);
  bool enabled(Level level, std::string_view target) const;
  Level max_level() const;

 private:
  struct Directive {
    std::string target;  // empty: the default directive
    Level level;
  };
  Level default_ = Level::Info;
  std::vector<Directive> directives_;  // longest target first
};

struct Options {
  Filter filter;
  bool colour = true;
};

// Reads OSTREL_LOG and NO_COLOR as the process does.
Options options_from_env();

// Installs the process logger. Called once by the program before any thread starts; until then
// events are written with the default options. Tests may call it again.
void install(const Options& options);

// Where lines go instead of standard output (tests). Null restores standard output.
using Sink = void (*)(std::string_view line, void* context);
void set_sink(Sink sink, void* context);

bool enabled(Level level, std::string_view target);

// One field of an event; build with the helpers below.
struct Field {
  std::string_view name;
  std::string value;  // already in its written form
};

// A text field, written quoted: name="value".
inline Field text(std::string_view name, std::string_view value) {
  return {name, fmt::format("{:?}", value)};
}
// A field written as it is: numbers, paths, socket addresses, identifiers.
template <class T>
Field value(std::string_view name, const T& v) {
  if constexpr (std::is_same_v<T, bool>) {
    return {name, v ? "true" : "false"};
  } else {
    return {name, fmt::format("{}", v)};
  }
}

void emit(Level level, std::string_view target, std::string_view message,
          std::initializer_list<Field> fields = {});

// Formats the line without writing it (tests, and the writer itself).
std::string format_line(Level level, std::string_view target, std::string_view message,
                        std::initializer_list<Field> fields, bool colour);

}  // namespace ostrel_core::log

// The fields are only evaluated when the event passes the filter.
#define OSTREL_LOG_EVENT(level, target, message, ...)                                   \
  do {                                                                                 \
    if (::ostrel_core::log::enabled((level), (target)))                                 \
      ::ostrel_core::log::emit((level), (target), (message), {__VA_ARGS__});            \
  } while (0)
#define OSTREL_ERROR(target, message, ...) \
  OSTREL_LOG_EVENT(::ostrel_core::log::Level::Error, target, message __VA_OPT__(, ) __VA_ARGS__)
#define OSTREL_WARN(target, message, ...) \
  OSTREL_LOG_EVENT(::ostrel_core::log::Level::Warn, target, message __VA_OPT__(, ) __VA_ARGS__)
#define OSTREL_INFO(target, message, ...) \
  OSTREL_LOG_EVENT(::ostrel_core::log::Level::Info, target, message __VA_OPT__(, ) __VA_ARGS__)
#define OSTREL_DEBUG(target, message, ...) \
  OSTREL_LOG_EVENT(::ostrel_core::log::Level::Debug, target, message __VA_OPT__(, ) __VA_ARGS__)
#define OSTREL_TRACE(target, message, ...) \
  OSTREL_LOG_EVENT(::ostrel_core::log::Level::Trace, target, message __VA_OPT__(, ) __VA_ARGS__)
