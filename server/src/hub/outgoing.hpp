#pragma once
// The one place the hub turns a message into the bytes every receiver shares. A message that
// cannot be encoded (over the frame limit) is logged and goes nowhere.

#include <optional>
#include <string_view>

#include "hub/records.hpp"

namespace ostrel_server::transport::endpoint {

std::optional<SharedBroadcast> encode_broadcast(std::optional<std::string_view> domain,
                                                ostrel_core::proto::ServerMessage message);

}  // namespace ostrel_server::transport::endpoint
