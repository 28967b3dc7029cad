#include "transport/cert.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>

#include <fmt/format.h>
#include <fmt/std.h>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include "base/blake3.hpp"
#include "base/text.hpp"
#include "modload/files.hpp"

namespace ostrel_server::cert {
namespace fs = std::filesystem;
using ostrel_core::IoError;
using ostrel_core::TextError;

CertError CertError::io(fs::path path, IoError e) {
  CertError c(CertErrorKind::Io);
  c.path_ = std::move(path);
  c.source_ = ostrel_core::make_source(std::move(e));
  return c;
}

CertError CertError::generate(TextError e) {
  CertError c(CertErrorKind::Generate);
  c.source_ = ostrel_core::make_source(std::move(e));
  return c;
}

CertError CertError::unreadable(fs::path path, std::string reason) {
  CertError c(CertErrorKind::Unreadable);
  c.path_ = std::move(path);
  c.reason_ = std::move(reason);
  return c;
}

std::string CertError::message() const {
  switch (kind_) {
    case CertErrorKind::Io: return fmt::format("could not access `{}`", path_.string());
    case CertErrorKind::Generate: return "could not generate a server certificate";
    case CertErrorKind::Unreadable:
      return fmt::format("the stored server certificate at `{}` is unreadable: {}", path_.string(), reason_);
  }
  return "could not generate a server certificate";
}

namespace {

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Standard Base64 without whitespace; stops at the first '='; leftover bits are dropped.
std::optional<std::vector<std::uint8_t>> decode_base64(std::string_view body) {
  std::vector<std::uint8_t> out;
  out.reserve(body.size() / 4 * 3 + 3);
  std::uint32_t acc = 0;
  int bits = 0;
  for (char c : body) {
    if (ostrel_core::text::is_ascii_space(c)) continue;
    if (c == '=') break;
    const int v = base64_value(c);
    if (v < 0) return std::nullopt;
    acc = (acc << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>(acc >> bits));
      acc &= (1u << bits) - 1;
    }
  }
  return out;
}

std::string_view as_text(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Replaces `path` with `text`; errors are the OS error. The file is created with `mode` and,
// when it already existed, set to `mode` before any byte is written, so a key is never readable
// by others.
std::expected<void, IoError> write_file(const fs::path& path, std::string_view text, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return std::unexpected(IoError::from_errno(errno));
  auto fail = [fd](int err) {
    ::close(fd);
    return std::unexpected(IoError::from_errno(err));
  };
  if (::fchmod(fd, mode) != 0) return fail(errno);
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  if (::fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) return std::unexpected(IoError::from_errno(errno));
  return {};
}

// Replaces `path` with `text` through "<path>.tmp", written in full and then renamed into place:
// a crash leaves the old file or the new one, never a part of one. The directory entry is
// synced so that the rename survives a crash too.
std::expected<void, IoError> replace_file(const fs::path& path, std::string_view text, mode_t mode) {
  fs::path tmp = path;
  tmp += ".tmp";
  if (::unlink(tmp.c_str()) != 0 && errno != ENOENT) return std::unexpected(IoError::from_errno(errno));
  if (auto w = write_file(tmp, text, mode); !w) {
    ::unlink(tmp.c_str());
    return w;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    return std::unexpected(IoError::from_errno(err));
  }
  const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(IoError::from_errno(errno));
  const int synced = ::fsync(fd);
  const int err = errno;
  ::close(fd);
  if (synced != 0) return std::unexpected(IoError::from_errno(err));
  return {};
}

std::expected<bool, IoError> path_exists(const fs::path& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return true;
  if (errno == ENOENT) return false;
  return std::unexpected(IoError::from_errno(errno));
}

TextError tls_error(std::string_view what, int rc) {
  return TextError(fmt::format("{}: {}", what, gnutls_strerror(rc)));
}

struct Datum {
  gnutls_datum_t d{nullptr, 0};
  ~Datum() { gnutls_free(d.data); }
  std::string_view text() const { return {reinterpret_cast<const char*>(d.data), d.size}; }
  std::vector<std::uint8_t> bytes() const { return {d.data, d.data + d.size}; }
};

struct Generated {
  std::string cert_pem, key_pem;
  std::vector<std::uint8_t> cert_der, key_der;
};

// An ECDSA P-256 key and a self-signed certificate for kSubjectName.
std::expected<Generated, TextError> generate() {
  gnutls_x509_privkey_t key = nullptr;
  gnutls_x509_crt_t crt = nullptr;
  std::unique_ptr<gnutls_x509_privkey_int, void (*)(gnutls_x509_privkey_t)> key_guard(nullptr,
                                                                                       gnutls_x509_privkey_deinit);
  std::unique_ptr<gnutls_x509_crt_int, void (*)(gnutls_x509_crt_t)> crt_guard(nullptr, gnutls_x509_crt_deinit);
  int rc = gnutls_x509_privkey_init(&key);
  if (rc < 0) return std::unexpected(tls_error("key", rc));
  key_guard.reset(key);
  rc = gnutls_x509_privkey_generate(key, GNUTLS_PK_ECDSA, GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0);
  if (rc < 0) return std::unexpected(tls_error("key generation", rc));
  rc = gnutls_x509_crt_init(&crt);
  if (rc < 0) return std::unexpected(tls_error("certificate", rc));
  crt_guard.reset(crt);

  std::array<unsigned char, 16> serial{};
  if ((rc = gnutls_rnd(GNUTLS_RND_NONCE, serial.data(), serial.size())) < 0) {
    return std::unexpected(tls_error("serial", rc));
  }
  serial[0] &= 0x7f;  // positive
  serial[0] |= 0x01;  // and no leading zero byte
  const auto now = ::time(nullptr);
  const std::string name(kSubjectName);
  const struct Step {
    const char* what;
    int rc;
  } steps[] = {
      {"version", gnutls_x509_crt_set_version(crt, 3)},
      {"serial", gnutls_x509_crt_set_serial(crt, serial.data(), serial.size())},
      {"activation time", gnutls_x509_crt_set_activation_time(crt, now - 3600)},
      {"expiration time", gnutls_x509_crt_set_expiration_time(crt, static_cast<time_t>(-1))},
      {"subject", gnutls_x509_crt_set_dn_by_oid(crt, GNUTLS_OID_X520_COMMON_NAME, 0, name.data(),
                                                static_cast<unsigned>(name.size()))},
      {"subject alternative name", gnutls_x509_crt_set_subject_alt_name(crt, GNUTLS_SAN_DNSNAME, name.data(),
                                                                        static_cast<unsigned>(name.size()),
                                                                        GNUTLS_FSAN_SET)},
      {"key", gnutls_x509_crt_set_key(crt, key)},
      {"basic constraints", gnutls_x509_crt_set_basic_constraints(crt, 0, -1)},
      {"key usage", gnutls_x509_crt_set_key_usage(crt, GNUTLS_KEY_DIGITAL_SIGNATURE)},
      {"key purpose", gnutls_x509_crt_set_key_purpose_oid(crt, GNUTLS_KP_TLS_WWW_SERVER, 0)},
      {"signature", gnutls_x509_crt_sign2(crt, crt, key, GNUTLS_DIG_SHA256, 0)},
  };
  for (const auto& s : steps) {
    if (s.rc < 0) return std::unexpected(tls_error(s.what, s.rc));
  }

  Generated g;
  Datum cert_pem, cert_der, key_pem, key_der;
  if ((rc = gnutls_x509_crt_export2(crt, GNUTLS_X509_FMT_PEM, &cert_pem.d)) < 0 ||
      (rc = gnutls_x509_crt_export2(crt, GNUTLS_X509_FMT_DER, &cert_der.d)) < 0) {
    return std::unexpected(tls_error("certificate export", rc));
  }
  if ((rc = gnutls_x509_privkey_export2_pkcs8(key, GNUTLS_X509_FMT_PEM, nullptr, GNUTLS_PKCS_PLAIN, &key_pem.d)) < 0 ||
      (rc = gnutls_x509_privkey_export2_pkcs8(key, GNUTLS_X509_FMT_DER, nullptr, GNUTLS_PKCS_PLAIN, &key_der.d)) < 0) {
    return std::unexpected(tls_error("key export", rc));
  }
  g.cert_pem = cert_pem.text();
  g.key_pem = key_pem.text();
  g.cert_der = cert_der.bytes();
  g.key_der = key_der.bytes();
  return g;
}

std::expected<ServerCert, CertError> load(const fs::path& cert_path, const fs::path& key_path) {
  auto cert_text = ostrel_core::modload::files::read_file(cert_path);
  if (!cert_text) return std::unexpected(CertError::io(cert_path, cert_text.error()));
  auto key_text = ostrel_core::modload::files::read_file(key_path);
  if (!key_text) return std::unexpected(CertError::io(key_path, key_text.error()));
  auto cert_der = pem_to_der(as_text(*cert_text), "CERTIFICATE");
  if (!cert_der) return std::unexpected(CertError::unreadable(cert_path, "no CERTIFICATE block found"));
  auto key_der = pem_to_der(as_text(*key_text), "PRIVATE KEY");
  if (!key_der) return std::unexpected(CertError::unreadable(key_path, "no PRIVATE KEY block found"));
  ServerCert c;
  c.fingerprint = fingerprint_of(*cert_der);
  c.private_key = std::move(*key_der);
  c.certificates.push_back(std::move(*cert_der));
  return c;
}

std::expected<ServerCert, CertError> create(const fs::path& dir, const fs::path& cert_path,
                                            const fs::path& key_path) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return std::unexpected(CertError::io(dir, IoError::from_code(ec)));
  auto g = generate();
  if (!g) return std::unexpected(CertError::generate(std::move(g.error())));
  // The key first: a crash before the certificate is in place leaves a lone key, which the next
  // start replaces, since no client can have pinned a certificate that was never written.
  if (auto r = replace_file(key_path, g->key_pem, 0600); !r) return std::unexpected(CertError::io(key_path, r.error()));
  if (auto r = replace_file(cert_path, g->cert_pem, 0644); !r) {
    return std::unexpected(CertError::io(cert_path, r.error()));
  }
  ServerCert c;
  c.fingerprint = fingerprint_of(g->cert_der);
  c.private_key = std::move(g->key_der);
  c.certificates.push_back(std::move(g->cert_der));
  return c;
}

}  // namespace

std::expected<ServerCert, CertError> ServerCert::load_or_create(const fs::path& dir) {
  const fs::path key_path = dir / kKeyFile;
  const fs::path cert_path = dir / kCertFile;
  auto key_exists = path_exists(key_path);
  if (!key_exists) return std::unexpected(CertError::io(key_path, key_exists.error()));
  auto cert_exists = path_exists(cert_path);
  if (!cert_exists) return std::unexpected(CertError::io(cert_path, cert_exists.error()));
  if (*key_exists && *cert_exists) return load(cert_path, key_path);
  // A lone certificate is kept: replacing it would silently change the fingerprint clients
  // pinned. A lone key is what a first start that stopped between its two writes leaves.
  if (*cert_exists) return std::unexpected(CertError::io(key_path, IoError::from_errno(ENOENT)));
  return create(dir, cert_path, key_path);
}

std::string ServerCert::fingerprint_hex() const {
  std::string out;
  out.reserve(64);
  for (std::uint8_t b : fingerprint) out += fmt::format("{:02x}", b);
  return out;
}

std::optional<std::vector<std::uint8_t>> pem_to_der(std::string_view text, std::string_view label) {
  const std::string begin = fmt::format("-----BEGIN {}-----", label);
  const std::string end = fmt::format("-----END {}-----", label);
  const auto b = text.find(begin);
  if (b == std::string_view::npos) return std::nullopt;
  const auto body_start = b + begin.size();
  const auto e = text.find(end, body_start);
  if (e == std::string_view::npos) return std::nullopt;
  return decode_base64(text.substr(body_start, e - body_start));
}

Fingerprint fingerprint_of(std::span<const std::uint8_t> der) {
  return ostrel_core::blake3::Hasher().update(kFingerprintContext).update(der).finalize();
}

}  // namespace ostrel_server::cert
