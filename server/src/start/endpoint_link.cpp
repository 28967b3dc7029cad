#include "start/endpoint_link.hpp"

#include <asio/post.hpp>
#include <utility>

#include "transport/endpoint.hpp"
#include "transport/quic/endpoint.hpp"

namespace ostrel_server::handle {

EndpointLink::EndpointLink(transport::quic::Endpoint endpoint)
    : endpoint_(std::make_shared<transport::quic::Endpoint>(std::move(endpoint))) {}

EndpointLink::~EndpointLink() = default;

transport::quic::Endpoint* EndpointLink::endpoint() {
  ostrel_core::sync::PlainLock lock(mu_);
  return endpoint_.get();
}

void EndpointLink::close() {
  ostrel_core::sync::PlainLock lock(mu_);
  if (!endpoint_) return;
  // Posted under the lock: release() cannot destroy the endpoint (and then the runtime) while
  // the close is being handed to the runtime.
  std::weak_ptr<transport::quic::Endpoint> weak = endpoint_;
  asio::post(endpoint_->executor(), [weak] {
    if (auto endpoint = weak.lock()) {
      endpoint->close(transport::endpoint::kShutdownCode, transport::endpoint::kShutdownReason);
    }
  });
}

void EndpointLink::release() {
  std::shared_ptr<transport::quic::Endpoint> gone;
  {
    ostrel_core::sync::PlainLock lock(mu_);
    gone = std::move(endpoint_);
  }
}

}  // namespace ostrel_server::handle
