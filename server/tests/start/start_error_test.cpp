#include "start/start_error.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "persist/sqlite.hpp"
#include "persist/world_error.hpp"
#include "script/host.hpp"
#include "session/store.hpp"
#include "transport/cert.hpp"
#include "transport/quic/endpoint.hpp"

namespace ostrel_server::handle {
namespace {

using ostrel_core::error_chain;
using ostrel_core::IoError;
using ostrel_core::make_source;
using ostrel_core::TextError;
namespace persist = ostrel_core::persist;
namespace quic = transport::quic;

struct Case {
  const char* name;
  StartError error;
  StartErrorKind kind;
  std::vector<std::string> chain;  // the text, then each source in order
};

TEST(StartError, EveryKindHasItsTextAndSource) {
  const auto sql = persist::WorldError::sql(persist::sqlite::SqliteError(14, "unable to open database file"));
  const auto host_script = ostrel_core::script::host::HostError{
      ostrel_core::script::host::HostErrorKind::Script,
      {},
      {},
      ostrel_core::script::vm::ScriptError::vm("lua54", "not enough memory")};
  const Case cases[] = {
      {"world",
       StartError::world("w/world.sqlite", persist::WorldError::schema_version(2, 1)),
       StartErrorKind::World,
       {"world database at `w/world.sqlite`",
        "world uses schema version 2, but this build understands 1 — the world was created by a different "
        "engine version"}},
      {"world_sql",
       StartError::world("world.sqlite", sql),
       StartErrorKind::World,
       {"world database at `world.sqlite`", "world database error",
        "unable to open database file (code 14)"}},
      {"cert",
       StartError::cert(cert::CertError::io("d/server-cert.pem", IoError::from_errno(EACCES))),
       StartErrorKind::Cert,
       {"could not access `d/server-cert.pem`", "Permission denied (os error 13)"}},
      {"cert_unreadable",
       StartError::cert(cert::CertError::unreadable("d/server-key.pem", "no PRIVATE KEY block found")),
       StartErrorKind::Cert,
       {"the stored server certificate at `d/server-key.pem` is unreadable: no PRIVATE KEY block found"}},
      {"identities",
       StartError::identities(ostrel_core::session::store::StoreError::world(sql)),
       StartErrorKind::Identities,
       {"could not load the identity registry", "world database error",
        "unable to open database file (code 14)"}},
      {"endpoint_bind",
       StartError::endpoint(quic::EndpointError(quic::EndpointErrorKind::Bind, "0.0.0.0:47811",
                                                make_source(IoError::from_errno(EADDRINUSE)))),
       StartErrorKind::Endpoint,
       {"could not bind 0.0.0.0:47811", "Address already in use (os error 98)"}},
      {"endpoint_tls",
       StartError::endpoint(quic::EndpointError(quic::EndpointErrorKind::Tls, "",
                                                make_source(TextError("The certificate is invalid")))),
       StartErrorKind::Endpoint,
       {"could not configure TLS from the server certificate", "The certificate is invalid"}},
      {"endpoint_quic",
       StartError::endpoint(
           quic::EndpointError(quic::EndpointErrorKind::Quic, "", make_source(TextError("ERR_NOMEM")))),
       StartErrorKind::Endpoint,
       {"could not configure the QUIC endpoint", "ERR_NOMEM"}},
      {"mods",
       StartError::mods(host_script),
       StartErrorKind::Mods,
       {"could not load mods", "could not initialise the lua54 script VM", "not enough memory"}},
      {"material_mismatch",
       StartError::material_mismatch("m:b", 3, 4),
       StartErrorKind::MaterialMismatch,
       {"material `m:b` was assigned id 3 by the engine but 4 by the script VM — every block this mod places "
        "would be the wrong material"}},
      {"thread_runtime",
       StartError::thread("network runtime", IoError::from_errno(EAGAIN)),
       StartErrorKind::Thread,
       {"could not start the network runtime thread", "Resource temporarily unavailable (os error 11)"}},
      {"thread_simulation",
       StartError::thread("simulation", IoError::from_errno(EAGAIN)),
       StartErrorKind::Thread,
       {"could not start the simulation thread", "Resource temporarily unavailable (os error 11)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.error.kind(), c.kind);
    EXPECT_EQ(error_chain(c.error), c.chain);
  }
}

TEST(StartError, ReportPrintsOneCausedByLinePerSource) {
  const auto e = StartError::thread("simulation", IoError::from_errno(EAGAIN));
  EXPECT_EQ(
      ostrel_core::report(e),
      "could not start the simulation thread\n  caused by: Resource temporarily unavailable (os error 11)");
  EXPECT_EQ(StartError::material_mismatch("m:a", 2, 5).source(), nullptr);
}

}  // namespace
}  // namespace ostrel_server::handle
