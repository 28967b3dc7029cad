// TLS for the QUIC transport: GnuTLS credentials and per-connection sessions.

#include <ngtcp2/ngtcp2_crypto_gnutls.h>

#include "transport/cert.hpp"
#include "transport/quic/core.hpp"

namespace ostrel_server::transport::quic::detail {

// TLS 1.3 only (QUIC uses nothing else), with the AEADs the QUIC crypto layer supports.
constexpr const char* kPriority =
    "%DISABLE_TLS13_COMPAT_MODE:NORMAL:-VERS-ALL:+VERS-TLS1.3:-CIPHER-ALL:+AES-128-GCM:+AES-256-GCM:"
    "+CHACHA20-POLY1305:-GROUP-ALL:+GROUP-X25519:+GROUP-SECP256R1:+GROUP-SECP384R1";

struct TlsContext {
  gnutls_certificate_credentials_t cred = nullptr;
  ~TlsContext() {
    if (cred != nullptr) gnutls_certificate_free_credentials(cred);
  }
};

std::shared_ptr<TlsContext> make_server_tls(const cert::ServerCert& cert, std::string* error) {
  auto ctx = std::make_shared<TlsContext>();
  int rc = gnutls_certificate_allocate_credentials(&ctx->cred);
  if (rc == 0 && cert.certificates.empty()) rc = GNUTLS_E_CERTIFICATE_ERROR;
  if (rc == 0) {
    gnutls_datum_t crt{const_cast<unsigned char*>(cert.certificates[0].data()),
                       static_cast<unsigned>(cert.certificates[0].size())};
    gnutls_datum_t key{const_cast<unsigned char*>(cert.private_key.data()),
                       static_cast<unsigned>(cert.private_key.size())};
    rc = gnutls_certificate_set_x509_key_mem2(ctx->cred, &crt, &key, GNUTLS_X509_FMT_DER, nullptr, 0);
  }
  if (rc < 0) {
    *error = gnutls_strerror(rc);
    return nullptr;
  }
  return ctx;
}

std::shared_ptr<TlsContext> make_client_tls(std::string* error) {
  auto ctx = std::make_shared<TlsContext>();
  // No trust anchors: the client pins the server's fingerprint instead of verifying a chain.
  if (int rc = gnutls_certificate_allocate_credentials(&ctx->cred); rc < 0) {
    *error = gnutls_strerror(rc);
    return nullptr;
  }
  return ctx;
}

bool configure_tls(const TlsContext& ctx, bool server, const std::vector<std::string>& alpn,
                   gnutls_session_t* session, ngtcp2_crypto_conn_ref* ref) {
  const unsigned flags = (server ? GNUTLS_SERVER : GNUTLS_CLIENT) | GNUTLS_NO_END_OF_EARLY_DATA;
  if (gnutls_init(session, flags) != 0) return false;
  gnutls_session_t s = *session;
  if (gnutls_priority_set_direct(s, kPriority, nullptr) != 0) return false;
  const int rc = server ? ngtcp2_crypto_gnutls_configure_server_session(s)
                        : ngtcp2_crypto_gnutls_configure_client_session(s);
  if (rc != 0) return false;
  if (gnutls_credentials_set(s, GNUTLS_CRD_CERTIFICATE, ctx.cred) != 0) return false;
  if (!alpn.empty()) {
    std::vector<gnutls_datum_t> protos;
    for (const auto& p : alpn) {
      protos.push_back({reinterpret_cast<unsigned char*>(const_cast<char*>(p.data())), static_cast<unsigned>(p.size())});
    }
    const unsigned alpn_flags = server ? GNUTLS_ALPN_MANDATORY : 0;
    if (gnutls_alpn_set_protocols(s, protos.data(), static_cast<unsigned>(protos.size()), alpn_flags) != 0) {
      return false;
    }
  }
  gnutls_session_set_ptr(s, ref);
  return true;
}

}  // namespace ostrel_server::transport::quic::detail
