#include "hub/hub.hpp"

namespace ostrel_server::transport::endpoint {

std::uint64_t Shared::sky_revision() {
  const auto* registry = domains_.get();
  if (registry == nullptr) return 0;
  auto g = (*registry)->read();
  return g ? (*g)->sky_revision() : 0;
}

bool Shared::has_runtime_sky(std::string_view domain) {
  const auto* registry = domains_.get();
  if (registry == nullptr) return false;
  auto g = (*registry)->read();
  return g && (*g)->sky_of(domain) != nullptr;
}

}  // namespace ostrel_server::transport::endpoint
