#pragma once
// The bound QUIC endpoint as the server handle and the network thread share it.
//
// The stop closes the endpoint from the main thread, but the endpoint belongs to its executor
// (a strand of the network runtime): close() posts the close there. The network thread lets
// the endpoint go with release() once its runtime no longer runs and before the runtime is
// destroyed, so a close never reaches a runtime that is gone: after release() it does nothing.
//
//   Bound    -> Released  [release]  the endpoint destroyed; close() does nothing
//   Bound    -- close() posts Endpoint::close(0, "server shutting down") to its executor

#include <memory>

#include "base/thread_safety.hpp"

namespace ostrel_server::transport::quic {
class Endpoint;
}

namespace ostrel_server::handle {

class EndpointLink {
 public:
  explicit EndpointLink(transport::quic::Endpoint endpoint);
  EndpointLink(const EndpointLink&) = delete;
  EndpointLink& operator=(const EndpointLink&) = delete;
  ~EndpointLink();

  // The endpoint the accept loop runs on; null once released.
  // REQUIRES: used on the endpoint's executor, by the network thread's loop.
  transport::quic::Endpoint* endpoint();

  // Closes the endpoint with code 0 and "server shutting down" on its own executor: every client
  // is told so and the accept loop ends. Safe from any thread and any number of times; does
  // nothing once released.
  void close();

  // Destroys the endpoint. REQUIRES: the network runtime no longer runs and is not yet destroyed.
  void release();

 private:
  ostrel_core::sync::PlainMutex mu_;
  // Shared only so that a posted close can find out, through a weak reference, that the
  // endpoint is gone; the link holds the one strong reference.
  std::shared_ptr<transport::quic::Endpoint> endpoint_ OSTREL_GUARDED_BY(mu_);
};

}  // namespace ostrel_server::handle
