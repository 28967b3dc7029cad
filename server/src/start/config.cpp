#include "start/config.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

#include <toml++/toml.h>

#include "base/text.hpp"
#include "modload/files.hpp"
#include "proto/codec.hpp"
#include "base/toml_text.hpp"

namespace ostrel_server::config {

namespace toml_text = ostrel_core::toml_text;

// ---- SocketAddr ------------------------------------------------------------------------------

SocketAddr SocketAddr::v4(std::array<std::uint8_t, 4> octets, std::uint16_t port) {
  SocketAddr a;
  a.family_ = Family::V4;
  std::copy(octets.begin(), octets.end(), a.octets_.begin());
  a.port_ = port;
  return a;
}

SocketAddr SocketAddr::v6(std::array<std::uint8_t, 16> octets, std::uint16_t port) {
  SocketAddr a;
  a.family_ = Family::V6;
  a.octets_ = octets;
  a.port_ = port;
  return a;
}

namespace {

std::optional<std::uint16_t> parse_port(std::string_view s) {
  if (s.empty() || s.size() > 5) return std::nullopt;
  if (!std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
  unsigned value = 0;
  std::from_chars(s.data(), s.data() + s.size(), value);
  if (value > std::numeric_limits<std::uint16_t>::max()) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<SocketAddr> SocketAddr::parse(std::string_view text) {
  // inet_pton wants a terminated string; an address is never longer than this.
  char host[INET6_ADDRSTRLEN + 1] = {};
  std::string_view host_part;
  std::string_view port_part;
  if (text.starts_with('[')) {
    auto close = text.find("]:");
    if (close == std::string_view::npos) return std::nullopt;
    host_part = text.substr(1, close - 1);
    port_part = text.substr(close + 2);
  } else {
    auto colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    host_part = text.substr(0, colon);
    port_part = text.substr(colon + 1);
  }
  if (host_part.empty() || host_part.size() >= sizeof(host)) return std::nullopt;
  std::memcpy(host, host_part.data(), host_part.size());
  auto port = parse_port(port_part);
  if (!port) return std::nullopt;

  if (text.starts_with('[')) {
    std::array<std::uint8_t, 16> octets{};
    if (inet_pton(AF_INET6, host, octets.data()) != 1) return std::nullopt;
    return v6(octets, *port);
  }
  std::array<std::uint8_t, 4> octets{};
  if (inet_pton(AF_INET, host, octets.data()) != 1) return std::nullopt;
  return v4(octets, *port);
}

std::span<const std::uint8_t> SocketAddr::octets() const {
  return {octets_.data(), family_ == Family::V4 ? std::size_t{4} : std::size_t{16}};
}

bool SocketAddr::is_loopback() const {
  if (family_ == Family::V4) return octets_[0] == 127;
  static constexpr std::array<std::uint8_t, 16> kLoopback6 = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  return octets_ == kLoopback6;
}

std::string SocketAddr::to_string() const {
  char host[INET6_ADDRSTRLEN] = {};
  if (family_ == Family::V4) {
    inet_ntop(AF_INET, octets_.data(), host, sizeof(host));
    return fmt::format("{}:{}", host, port_);
  }
  inet_ntop(AF_INET6, octets_.data(), host, sizeof(host));
  return fmt::format("[{}]:{}", host, port_);
}

// ---- ConfigError -----------------------------------------------------------------------------

ConfigError ConfigError::read(std::filesystem::path path, ostrel_core::SourcePtr reason) {
  return ConfigError(ConfigErrorKind::Read, std::move(path), {}, std::move(reason));
}

ConfigError ConfigError::parse(std::filesystem::path path, ostrel_core::SourcePtr reason) {
  return ConfigError(ConfigErrorKind::Parse, std::move(path), {}, std::move(reason));
}

ConfigError ConfigError::invalid(std::filesystem::path path, std::string rule) {
  return ConfigError(ConfigErrorKind::Invalid, std::move(path), std::move(rule), nullptr);
}

std::string ConfigError::message() const {
  switch (kind_) {
    case ConfigErrorKind::Read: return fmt::format("could not read config file `{}`", path_.string());
    case ConfigErrorKind::Parse: return fmt::format("could not parse config file `{}`", path_.string());
    case ConfigErrorKind::Invalid: return fmt::format("invalid config in `{}`: {}", path_.string(), detail_);
  }
  return {};
}

// ---- UTF-8 -----------------------------------------------------------------------------------

bool is_utf8(std::string_view bytes) {
  return ostrel_core::proto::is_valid_utf8(
      {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

// ---- Reading ---------------------------------------------------------------------------------

namespace {

// One fault found while reading the document into a Config, with where it is.
struct ReadFault {
  std::string what;
  toml::source_position where;
};

using Read = std::expected<void, ReadFault>;

constexpr std::string_view kTopKeys[] = {
    "bind_addr", "world_path", "max_players",  "seed",          "world_options",
    "operators", "mods_path",  "enabled_mods", "view_distance", "vertical_view_distance",
    "rcon"};
constexpr std::string_view kRconKeys[] = {"bind_addr", "token"};

std::unexpected<ReadFault> wrong_type(std::string_view key, std::string_view expected,
                                      const toml::node& node) {
  return std::unexpected(ReadFault{fmt::format("invalid type for `{}`: expected {}, found {}", key, expected,
                                               toml_text::type_phrase(node)),
                                   node.source().begin});
}

std::expected<std::string, ReadFault> read_string(std::string_view key, const toml::node& node) {
  if (auto* s = node.as_string()) return s->get();
  return wrong_type(key, "a string", node);
}

template <class U>
std::expected<U, ReadFault> read_unsigned(std::string_view key, const toml::node& node) {
  auto* i = node.as_integer();
  if (!i) return wrong_type(key, "an integer", node);
  // TOML integers are signed 64-bit: that caps an unsigned 64-bit field.
  constexpr auto kMax =
      std::min<std::uint64_t>(std::numeric_limits<U>::max(), std::numeric_limits<std::int64_t>::max());
  std::int64_t v = i->get();
  if (v < 0 || static_cast<std::uint64_t>(v) > kMax) {
    return std::unexpected(
        ReadFault{fmt::format("invalid value for `{}`: expected an integer 0..={}, got {}", key, kMax, v),
                  node.source().begin});
  }
  return static_cast<U>(v);
}

std::expected<std::vector<std::string>, ReadFault> read_strings(std::string_view key,
                                                                const toml::node& node) {
  auto* arr = node.as_array();
  if (!arr) return wrong_type(key, "an array of strings", node);
  std::vector<std::string> out;
  out.reserve(arr->size());
  for (std::size_t i = 0; i < arr->size(); ++i) {
    auto s = read_string(fmt::format("{}[{}]", key, i), *arr->get(i));
    if (!s) return std::unexpected(s.error());
    out.push_back(std::move(*s));
  }
  return out;
}

std::expected<SocketAddr, ReadFault> read_socket_addr(std::string_view key, const toml::node& node) {
  auto s = read_string(key, node);
  if (!s) return std::unexpected(s.error());
  if (auto addr = SocketAddr::parse(*s)) return *addr;
  return std::unexpected(ReadFault{
      fmt::format(
          "invalid value for `{}`: expected an IPv4 address and port (0.0.0.0:47811) or an IPv6 address "
          "in brackets and port ([::1]:47811), got {:?}",
          key, *s),
      node.source().begin});
}

// A table's entries in file order, so that the first fault reported is the first in the file.
std::vector<std::pair<const toml::key*, const toml::node*>> in_file_order(const toml::table& table) {
  std::vector<std::pair<const toml::key*, const toml::node*>> entries;
  for (auto&& [k, v] : table) entries.emplace_back(&k, &v);
  auto pos = [](const toml::key* k) { return std::pair{k->source().begin.line, k->source().begin.column}; };
  std::stable_sort(entries.begin(), entries.end(),
                   [&](const auto& a, const auto& b) { return pos(a.first) < pos(b.first); });
  return entries;
}

Read read_world_options(const toml::node& node, std::map<std::string, std::string>& out) {
  auto* table = node.as_table();
  if (!table) return wrong_type("world_options", "a table of strings", node);
  for (auto [k, v] : in_file_order(*table)) {
    auto s = read_string(fmt::format("world_options.{}", k->str()), *v);
    if (!s) return std::unexpected(s.error());
    out.emplace(std::string(k->str()), std::move(*s));
  }
  return {};
}

Read read_rcon(const toml::node& node, std::optional<RconConfig>& out) {
  auto* table = node.as_table();
  if (!table) return wrong_type("rcon", "struct RconConfig", node);
  RconConfig rcon;
  bool has_token = false;
  for (auto [k, v] : in_file_order(*table)) {
    std::string_view key = k->str();
    if (key == "bind_addr") {
      auto addr = read_socket_addr("rcon.bind_addr", *v);
      if (!addr) return std::unexpected(addr.error());
      rcon.bind_addr = *addr;
    } else if (key == "token") {
      auto token = read_string("rcon.token", *v);
      if (!token) return std::unexpected(token.error());
      rcon.token = std::move(*token);
      has_token = true;
    } else {
      return std::unexpected(ReadFault{fmt::format("unknown field `{}` in `rcon`, expected one of {}", key,
                                                   toml_text::backticked(kRconKeys)),
                                       k->source().begin});
    }
  }
  if (!has_token) {
    return std::unexpected(ReadFault{"missing field `token` in `rcon`", node.source().begin});
  }
  out = std::move(rcon);
  return {};
}

// Assigns the result of a field reader to `field`, or passes its fault on.
template <class T, class U>
Read assign(std::expected<U, ReadFault> got, T& field) {
  if (!got) return std::unexpected(got.error());
  field = std::move(*got);
  return {};
}

Read read_entry(std::string_view key, const toml::node& v, Config& c) {
  if (key == "bind_addr") return assign(read_socket_addr(key, v), c.bind_addr);
  if (key == "world_path") return assign(read_string(key, v), c.world_path);
  if (key == "max_players") return assign(read_unsigned<std::uint32_t>(key, v), c.max_players);
  if (key == "seed") return assign(read_unsigned<std::uint64_t>(key, v), c.seed);
  if (key == "world_options") return read_world_options(v, c.world_options);
  if (key == "operators") return assign(read_strings(key, v), c.operators);
  if (key == "mods_path") return assign(read_string(key, v), c.mods_path);
  if (key == "enabled_mods") return assign(read_strings(key, v), c.enabled_mods);
  if (key == "view_distance") return assign(read_unsigned<std::uint8_t>(key, v), c.view_distance);
  if (key == "vertical_view_distance") {
    return assign(read_unsigned<std::uint8_t>(key, v), c.vertical_view_distance);
  }
  if (key == "rcon") return read_rcon(v, c.rcon);
  return std::unexpected(ReadFault{
      fmt::format("unknown field `{}`, expected one of {}", key, toml_text::backticked(kTopKeys)), {}});
}

std::expected<Config, ReadFault> read_document(const toml::table& doc) {
  Config c;
  for (auto [k, v] : in_file_order(doc)) {
    auto r = read_entry(k->str(), *v, c);
    if (!r) {
      ReadFault fault = std::move(r.error());
      if (!fault.where) fault.where = k->source().begin;
      return std::unexpected(std::move(fault));
    }
  }
  return c;
}

// Line `n` (1-based) of `text`, cut short when long, for the reader's message.
std::string_view source_line(std::string_view text, std::uint32_t n) {
  constexpr std::size_t kMaxShown = 160;
  for (std::uint32_t i = 1; i < n; ++i) {
    auto nl = text.find('\n');
    if (nl == std::string_view::npos) return {};
    text.remove_prefix(nl + 1);
  }
  text = text.substr(0, text.find('\n'));
  if (text.ends_with('\r')) text.remove_suffix(1);
  if (text.size() > kMaxShown) {
    std::size_t cut = kMaxShown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = text.substr(0, cut);
  }
  return text;
}

// The reader's message: what is wrong, where, and the line it is on.
std::string describe(std::string_view what, toml::source_position where, std::string_view text) {
  if (!where) return std::string(what);
  auto line = source_line(text, where.line);
  return fmt::format("line {}, column {}: {} | {}", where.line, where.column, what, line);
}

std::optional<std::string> broken_rule(const Config& c) {
  if (c.max_players == 0) return "max_players must be at least 1";
  if (!c.rcon) return std::nullopt;
  if (!c.rcon->bind_addr.is_loopback()) {
    return fmt::format(
        "rcon.bind_addr must be a loopback address, not {}. This protocol has no                          "
        "transport encryption; tunnel over SSH for remote access.",
        c.rcon->bind_addr);
  }
  if (ostrel_core::text::is_blank(c.rcon->token)) return "rcon.token must not be empty";
  if (c.rcon->token.size() < kMinTokenBytes) {
    return fmt::format(
        "rcon.token must be at least {} characters; a short                          token on a port with "
        "`stop` and `rebind` on it is worth guessing",
        kMinTokenBytes);
  }
  return std::nullopt;
}

}  // namespace

std::expected<Config, ConfigError> Config::load(const std::filesystem::path& path) {
  auto bytes = ostrel_core::modload::files::read_file(path);
  if (!bytes) return std::unexpected(ConfigError::read(path, ostrel_core::make_source(bytes.error())));
  if (!ostrel_core::proto::is_valid_utf8(*bytes)) {
    return std::unexpected(ConfigError::read(
        path, ostrel_core::make_source(ostrel_core::IoError(
                  "stream did not contain valid UTF-8", std::make_error_code(std::errc::illegal_byte_sequence)))));
  }
  return parse(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), path);
}

std::expected<Config, ConfigError> Config::parse(std::string_view text, const std::filesystem::path& path) {
  std::expected<Config, ReadFault> read;
  try {
    auto doc = toml::parse(text, path.string());
    read = read_document(doc);
  } catch (const toml::parse_error& e) {
    read = std::unexpected(ReadFault{std::string(e.description()), e.source().begin});
  }
  if (!read) {
    auto message = describe(read.error().what, read.error().where, text);
    return std::unexpected(
        ConfigError::parse(path, ostrel_core::make_source(ostrel_core::TextError(std::move(message)))));
  }
  if (auto rule = broken_rule(*read)) return std::unexpected(ConfigError::invalid(path, std::move(*rule)));
  return std::move(*read);
}

}  // namespace ostrel_server::config
