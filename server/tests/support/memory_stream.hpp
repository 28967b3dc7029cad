#pragma once
// An in-memory byte stream for tests of the frame code and the reader task. Copies are handles
// on one shared state, so a test can keep one while a task owns another.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "base/error.hpp"

namespace ostrel_server::test {

class MemoryStream {
 public:
  explicit MemoryStream(const asio::any_io_executor& ex);

  // Bytes that later reads return; wakes a waiting read.
  void push(std::span<const std::uint8_t> bytes);
  // After the buffered bytes, reads return 0 (end of stream).
  void finish();
  // After the buffered bytes, reads fail with `e`.
  void fail(ostrel_core::IoError e);
  // Each read_some returns at most this many bytes (0: no limit).
  void set_max_read(std::size_t n);
  // Each write_some takes at most this many bytes (0: no limit); writes after `budget` bytes
  // take nothing.
  void set_max_write(std::size_t n);
  void set_write_budget(std::size_t budget);

  std::size_t consumed() const;  // bytes handed out by reads
  const std::vector<std::uint8_t>& written() const;

  asio::awaitable<std::expected<std::size_t, ostrel_core::IoError>> read_some(std::span<std::uint8_t> buf);
  asio::awaitable<std::expected<std::size_t, ostrel_core::IoError>> write_some(std::span<const std::uint8_t> buf);

 private:
  struct State;
  std::shared_ptr<State> s_;
};

}  // namespace ostrel_server::test
