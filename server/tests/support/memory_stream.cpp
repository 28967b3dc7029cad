#include "support/memory_stream.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

#include <asio/experimental/as_tuple.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

namespace ostrel_server::test {

struct MemoryStream::State {
  explicit State(const asio::any_io_executor& ex) : wake(ex) {}
  asio::steady_timer wake;  // a read waits on it until bytes or an end arrive
  std::vector<std::uint8_t> in;
  std::size_t pos = 0;
  bool ended = false;
  std::optional<ostrel_core::IoError> error;
  std::size_t max_read = 0;
  std::size_t max_write = 0;
  std::size_t write_budget = std::numeric_limits<std::size_t>::max();
  std::vector<std::uint8_t> out;
};

MemoryStream::MemoryStream(const asio::any_io_executor& ex) : s_(std::make_shared<State>(ex)) {}

void MemoryStream::push(std::span<const std::uint8_t> bytes) {
  s_->in.insert(s_->in.end(), bytes.begin(), bytes.end());
  s_->wake.cancel();
}

void MemoryStream::finish() {
  s_->ended = true;
  s_->wake.cancel();
}

void MemoryStream::fail(ostrel_core::IoError e) {
  s_->error = std::move(e);
  s_->wake.cancel();
}

void MemoryStream::set_max_read(std::size_t n) { s_->max_read = n; }
void MemoryStream::set_max_write(std::size_t n) { s_->max_write = n; }
void MemoryStream::set_write_budget(std::size_t budget) { s_->write_budget = budget; }
std::size_t MemoryStream::consumed() const { return s_->pos; }
const std::vector<std::uint8_t>& MemoryStream::written() const { return s_->out; }

asio::awaitable<std::expected<std::size_t, ostrel_core::IoError>> MemoryStream::read_some(std::span<std::uint8_t> buf) {
  auto s = s_;
  while (s->pos == s->in.size()) {
    if (s->error) co_return std::unexpected(*s->error);
    if (s->ended) co_return std::size_t{0};
    s->wake.expires_at(asio::steady_timer::time_point::max());
    co_await s->wake.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
  }
  std::size_t n = std::min(buf.size(), s->in.size() - s->pos);
  if (s->max_read != 0) n = std::min(n, s->max_read);
  std::memcpy(buf.data(), s->in.data() + s->pos, n);
  s->pos += n;
  co_return n;
}

asio::awaitable<std::expected<std::size_t, ostrel_core::IoError>> MemoryStream::write_some(
    std::span<const std::uint8_t> buf) {
  std::size_t n = std::min(buf.size(), s_->write_budget - std::min(s_->write_budget, s_->out.size()));
  if (s_->max_write != 0) n = std::min(n, s_->max_write);
  s_->out.insert(s_->out.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
  co_return n;
}

}  // namespace ostrel_server::test
