#pragma once
// The server's one self-signed TLS certificate, its private key and the fingerprint clients pin.
//
// Files in the certificate directory:
//   server-cert.pem   one "CERTIFICATE" PEM block
//   server-key.pem    one "PRIVATE KEY" PEM block (PKCS#8), mode 0600 from its first byte
// fingerprint = BLAKE3("ostrel:server-cert:v1" || certificate DER), 32 bytes.

#include <array>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"

namespace ostrel_server::cert {

inline constexpr std::string_view kCertFile = "server-cert.pem";
inline constexpr std::string_view kKeyFile = "server-key.pem";
inline constexpr std::string_view kSubjectName = "ostrel-server";
inline constexpr std::string_view kFingerprintContext = "ostrel:server-cert:v1";

using Fingerprint = std::array<std::uint8_t, 32>;

enum class CertErrorKind : std::uint8_t {
  Io,          // a file or the directory could not be read, written or found; source: the OS error
  Generate,    // the TLS library could not make a key or certificate; source: its error
  Unreadable,  // a stored file holds no usable PEM block; reason() says which
};

class CertError {
 public:
  static CertError io(std::filesystem::path path, ostrel_core::IoError e);
  static CertError generate(ostrel_core::TextError e);
  static CertError unreadable(std::filesystem::path path, std::string reason);

  CertErrorKind kind() const { return kind_; }
  const std::filesystem::path& path() const { return path_; }
  const std::string& reason() const { return reason_; }
  std::string message() const;
  const ostrel_core::ErrorSource* source() const { return source_.get(); }

 private:
  explicit CertError(CertErrorKind kind) : kind_(kind) {}
  CertErrorKind kind_;
  std::filesystem::path path_;
  std::string reason_;
  ostrel_core::SourcePtr source_;
};

struct ServerCert {
  std::vector<std::uint8_t> private_key;                // PKCS#8 DER
  std::vector<std::vector<std::uint8_t>> certificates;  // exactly one DER certificate
  Fingerprint fingerprint{};

  // Loads both files from `dir` when both exist. Otherwise creates both (and `dir`), the key
  // first, each through a temporary file renamed into place, so a lone key is what an
  // interrupted creation leaves and is replaced too. A lone certificate is never replaced: the
  // call fails naming the missing key.
  [[nodiscard]] static std::expected<ServerCert, CertError> load_or_create(const std::filesystem::path& dir);

  // 64 lowercase hexadecimal characters, byte 0 first.
  std::string fingerprint_hex() const;
};

// The DER bytes of the first PEM block labelled `label`, or nothing when there is none, it has
// no closing line, or its body is not Base64.
std::optional<std::vector<std::uint8_t>> pem_to_der(std::string_view text, std::string_view label);

Fingerprint fingerprint_of(std::span<const std::uint8_t> der);

}  // namespace ostrel_server::cert
