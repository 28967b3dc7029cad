#pragma once
// StartError: why ServerHandle::start failed. One line of text per kind; the error that caused
// it is the source, so the process entry prints the text and then one "  caused by: {}" line per
// link of the chain.

#include <cstdint>
#include <filesystem>
#include <string>

#include "base/error.hpp"

namespace ostrel_core::persist {
struct WorldError;
}
namespace ostrel_core::script::host {
class HostError;
}
namespace ostrel_core::session::store {
class StoreError;
}
namespace ostrel_server::cert {
class CertError;
}
namespace ostrel_server::transport::quic {
class EndpointError;
}

namespace ostrel_server::handle {

enum class StartErrorKind : std::uint8_t {
  World,             // the world database at `path` could not be read, created or opened
  Cert,              // the server certificate could not be loaded or made
  Identities,        // the identity registry could not be read from the world
  Endpoint,          // the QUIC endpoint could not be bound or configured
  Mods,              // the mods could not be scanned, resolved, loaded or frozen
  MaterialMismatch,  // the registry numbered a material unlike the script engine
  Thread,            // a thread (or the network runtime) could not be started
};

class StartError {
 public:
  // `db`: the database file ("world.sqlite" in the world directory).
  static StartError world(std::filesystem::path db, ostrel_core::persist::WorldError error);
  static StartError cert(ostrel_server::cert::CertError error);
  static StartError identities(ostrel_core::session::store::StoreError error);
  static StartError endpoint(ostrel_server::transport::quic::EndpointError error);
  static StartError mods(ostrel_core::script::host::HostError error);
  static StartError material_mismatch(std::string name, std::uint16_t engine_id, std::uint16_t script_id);
  // `what`: "network runtime", "network" or "simulation".
  static StartError thread(std::string what, ostrel_core::IoError error);

  StartErrorKind kind() const { return kind_; }
  // "world database at `{}`", the CertError's own text, "could not load the identity registry",
  // the endpoint's "could not bind {}" / "could not configure TLS from the server certificate" /
  // "could not configure the QUIC endpoint", "could not load mods", the material mismatch
  // sentence, or "could not start the {} thread".
  std::string message() const;
  // The wrapped error; for Cert and Endpoint, the wrapped error's own source. Null for
  // MaterialMismatch.
  const ostrel_core::ErrorSource* source() const;

 private:
  explicit StartError(StartErrorKind kind) : kind_(kind) {}

  StartErrorKind kind_;
  std::string text_;              // World: the database path; Thread: what; MaterialMismatch: name
  std::uint16_t engine_id_ = 0;   // MaterialMismatch
  std::uint16_t script_id_ = 0;   // MaterialMismatch
  ostrel_core::SourcePtr inner_;  // the wrapped error; null for MaterialMismatch
};

}  // namespace ostrel_server::handle
