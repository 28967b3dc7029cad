#pragma once
// The server's configuration file: a TOML file named with `--config`, read once at start.
//
//   bind_addr = "0.0.0.0:47811"      # UDP address of the QUIC endpoint
//   world_path = "world"             # relative paths resolve against the working directory
//   max_players = 16
//   [rcon]                           # optional; without it there is no remote console
//   bind_addr = "127.0.0.1:47812"    # loopback only
//   token = "at least sixteen bytes"
//
// Unknown keys are refused, every missing key takes its default.

#include <array>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "base/error.hpp"

namespace ostrel_server::config {

// An IPv4 or IPv6 address with a port, as written in the file: "127.0.0.1:47812" or
// "[::1]:47812". Displayed in the same form, IPv6 compressed.
class SocketAddr {
 public:
  enum class Family : std::uint8_t { V4, V6 };

  SocketAddr() = default;  // 0.0.0.0:0
  static SocketAddr v4(std::array<std::uint8_t, 4> octets, std::uint16_t port);
  static SocketAddr v6(std::array<std::uint8_t, 16> octets, std::uint16_t port);
  // Null unless `text` is an IPv4 address, or an IPv6 address in square brackets, then a colon
  // and a decimal port 0..=65535. Host names are not resolved.
  static std::optional<SocketAddr> parse(std::string_view text);

  Family family() const { return family_; }
  // 4 bytes for V4, 16 for V6, in network order.
  std::span<const std::uint8_t> octets() const;
  std::uint16_t port() const { return port_; }
  // IPv4 127.0.0.0/8, or exactly ::1. An IPv4-mapped IPv6 address is not loopback.
  bool is_loopback() const;
  std::string to_string() const;

  bool operator==(const SocketAddr&) const = default;

 private:
  Family family_ = Family::V4;
  std::array<std::uint8_t, 16> octets_{};  // V4 uses the first four
  std::uint16_t port_ = 0;
};

inline constexpr std::uint16_t kDefaultPort = 47811;
inline constexpr std::uint16_t kDefaultRconPort = 47812;
// The shortest console token accepted, in bytes.
inline constexpr std::size_t kMinTokenBytes = 16;

// The `rcon` table: the remote console's listener.
struct RconConfig {
  SocketAddr bind_addr = SocketAddr::v4({127, 0, 0, 1}, kDefaultRconPort);  // loopback only
  std::string token;  // required, not blank, at least kMinTokenBytes bytes

  bool operator==(const RconConfig&) const = default;
};

enum class ConfigErrorKind : std::uint8_t {
  Read,     // the file could not be read, or is not UTF-8; source: the system's reason
  Parse,    // not TOML, an unknown key, a wrong type or range, a missing key; source: the reader's message
  Invalid,  // read fine but breaks a rule the format cannot express; no source
};

class ConfigError {
 public:
  static ConfigError read(std::filesystem::path path, ostrel_core::SourcePtr reason);
  static ConfigError parse(std::filesystem::path path, ostrel_core::SourcePtr reason);
  static ConfigError invalid(std::filesystem::path path, std::string rule);

  ConfigErrorKind kind() const { return kind_; }
  const std::filesystem::path& path() const { return path_; }
  // The broken rule of an Invalid error, e.g. "max_players must be at least 1".
  const std::string& detail() const { return detail_; }

  std::string message() const;
  const ostrel_core::ErrorSource* source() const { return source_.get(); }

 private:
  ConfigError(ConfigErrorKind kind, std::filesystem::path path, std::string detail,
              ostrel_core::SourcePtr source)
      : kind_(kind), path_(std::move(path)), detail_(std::move(detail)), source_(std::move(source)) {}

  ConfigErrorKind kind_;
  std::filesystem::path path_;  // as named on the command line
  std::string detail_;
  ostrel_core::SourcePtr source_;
};

// The configuration file as read and validated.
struct Config {
  SocketAddr bind_addr = SocketAddr::v4({0, 0, 0, 0}, kDefaultPort);
  std::filesystem::path world_path = "world";
  std::uint32_t max_players = 16;                      // at least 1
  std::optional<std::uint64_t> seed;                   // absent: drawn at start
  std::map<std::string, std::string> world_options;    // option id -> value, ascending ids
  std::vector<std::string> operators;                  // player ids, parsed at start
  std::optional<std::filesystem::path> mods_path;      // absent: no mods
  std::optional<std::vector<std::string>> enabled_mods;
  std::uint8_t view_distance = 8;                      // chunks, clamped when used
  std::uint8_t vertical_view_distance = 12;            // chunks, clamped when used
  std::optional<RconConfig> rcon;                      // absent: no remote console

  // Reads, parses and validates the file at `path`. Creates nothing and logs nothing.
  [[nodiscard]] static std::expected<Config, ConfigError> load(const std::filesystem::path& path);
  // The same from text already read; `path` is only used in messages.
  [[nodiscard]] static std::expected<Config, ConfigError> parse(std::string_view text,
                                                                const std::filesystem::path& path);

  bool operator==(const Config&) const = default;
};

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool is_utf8(std::string_view bytes);

}  // namespace ostrel_server::config

template <>
struct fmt::formatter<ostrel_server::config::SocketAddr> : fmt::formatter<std::string_view> {
  template <class Context>
  auto format(const ostrel_server::config::SocketAddr& addr, Context& ctx) const {
    return fmt::formatter<std::string_view>::format(addr.to_string(), ctx);
  }
};
