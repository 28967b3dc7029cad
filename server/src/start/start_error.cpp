#include "start/start_error.hpp"

#include <fmt/format.h>

#include <utility>

#include "persist/world_error.hpp"
#include "script/host.hpp"
#include "session/store.hpp"
#include "transport/cert.hpp"
#include "transport/quic/endpoint.hpp"

namespace ostrel_server::handle {

using ostrel_core::make_source;

StartError StartError::world(std::filesystem::path db, ostrel_core::persist::WorldError error) {
  StartError e(StartErrorKind::World);
  e.text_ = db.string();
  e.inner_ = make_source(std::move(error));
  return e;
}

StartError StartError::cert(ostrel_server::cert::CertError error) {
  StartError e(StartErrorKind::Cert);
  e.inner_ = make_source(std::move(error));
  return e;
}

StartError StartError::identities(ostrel_core::session::store::StoreError error) {
  StartError e(StartErrorKind::Identities);
  e.inner_ = make_source(std::move(error));
  return e;
}

StartError StartError::endpoint(ostrel_server::transport::quic::EndpointError error) {
  StartError e(StartErrorKind::Endpoint);
  e.inner_ = make_source(std::move(error));
  return e;
}

StartError StartError::mods(ostrel_core::script::host::HostError error) {
  StartError e(StartErrorKind::Mods);
  e.inner_ = make_source(std::move(error));
  return e;
}

StartError StartError::material_mismatch(std::string name, std::uint16_t engine_id, std::uint16_t script_id) {
  StartError e(StartErrorKind::MaterialMismatch);
  e.text_ = std::move(name);
  e.engine_id_ = engine_id;
  e.script_id_ = script_id;
  return e;
}

StartError StartError::thread(std::string what, ostrel_core::IoError error) {
  StartError e(StartErrorKind::Thread);
  e.text_ = std::move(what);
  e.inner_ = make_source(std::move(error));
  return e;
}

std::string StartError::message() const {
  switch (kind_) {
    case StartErrorKind::World:
      return fmt::format("world database at `{}`", text_);
    // The certificate's and the endpoint's errors already say what failed; they stand as the
    // line itself.
    case StartErrorKind::Cert:
    case StartErrorKind::Endpoint:
      return inner_->message();
    case StartErrorKind::Identities:
      return "could not load the identity registry";
    case StartErrorKind::Mods:
      return "could not load mods";
    case StartErrorKind::MaterialMismatch:
      return fmt::format(
          "material `{}` was assigned id {} by the engine but {} by the script VM — every block "
          "this mod places would be the wrong material",
          text_, engine_id_, script_id_);
    case StartErrorKind::Thread:
      return fmt::format("could not start the {} thread", text_);
  }
  return "could not start the server";
}

const ostrel_core::ErrorSource* StartError::source() const {
  switch (kind_) {
    case StartErrorKind::Cert:
    case StartErrorKind::Endpoint:
      return inner_->source();
    default:
      return inner_.get();
  }
}

}  // namespace ostrel_server::handle
