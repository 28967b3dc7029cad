#pragma once
// The endpoint's two functions over protocol messages, apart from endpoint.hpp so that its
// users need not include the message set.

#include "proto/records/edit.hpp"
#include "proto/server.hpp"
#include "transport/frame.hpp"
#include "world/coords.hpp"

namespace ostrel_server::transport::endpoint {

// How a connection whose frame failed is told: ProtocolViolation with the error's text.
ostrel_core::proto::DisconnectReason frame_error_reason(const frame::FrameError& error);

// The chunk a block edit falls in: a sub-node position's coordinates floor-divided by 48,
// a block position's by 16.
ostrel_core::coords::ChunkPos chunk_of(const ostrel_core::proto::Edit& edit);

}  // namespace ostrel_server::transport::endpoint
