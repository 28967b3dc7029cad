#include "hub/outgoing.hpp"

#include <memory>
#include <string>
#include <utility>

#include "base/log.hpp"

namespace ostrel_server::transport::endpoint {

std::optional<SharedBroadcast> encode_broadcast(std::optional<std::string_view> domain,
                                                ostrel_core::proto::ServerMessage message) {
  auto frame = ostrel_core::proto::encode(message);
  if (auto fits = frame.check(); !fits) {
    OSTREL_ERROR("ostrel_server::transport::endpoint", "could not encode a broadcast; it is dropped",
                 ostrel_core::log::text("message", ostrel_core::proto::server_message_name(message)),
                 ostrel_core::log::text("error", fits.error().message()));
    return std::nullopt;
  }
  auto b = std::make_shared<Broadcast>();
  if (domain) b->domain = std::string(*domain);
  b->message = std::move(message);
  auto bytes = frame.payload();
  b->payload.assign(bytes.begin(), bytes.end());
  return SharedBroadcast(std::move(b));
}

}  // namespace ostrel_server::transport::endpoint
