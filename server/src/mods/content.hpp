#pragma once
// One connection's content download queue.
//
// The client asks for files by content hash; each file the index holds is sent at most once per
// connection, in order, as slices of at most kSliceBytes of the file, each slice compressed into
// its own complete zstd frame (level 3, no dictionary). A file of n bytes takes ceil(n / 196608)
// slices; an empty file takes one slice holding the frame of no input. Example: a file of
// 196,609 bytes is sent as {offset 0, total 196609, 196,608 bytes} then {offset 196608, total
// 196609, 1 byte}. Once kConnectionBudget uncompressed bytes have been sliced the connection
// gets nothing more; the check follows each slice, so the last may end up to 196,607 bytes past.
//
// AwaitingRequest -> Sending   [request]      queue_ not empty, offset_ within the head file
// Sending -> Sending           [next_slices]  offset_ advances; a finished file leaves queue_
// Sending -> AwaitingRequest   [next_slices]  queue_ empty, offset_ 0
// any -> Exhausted             [next_slices]  sent_ >= kConnectionBudget; nothing more is sent

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <span>
#include <vector>

#include "proto/server.hpp"

namespace ostrel_core::content {
class ContentIndex;
}

namespace ostrel_server::content {

inline constexpr std::size_t kSliceBytes = 196'608;               // 0x30000 of a file per slice
inline constexpr std::size_t kSlicesPerCall = 2;
inline constexpr std::uint64_t kConnectionBudget = 536'870'912;  // 512 MiB uncompressed
inline constexpr int kSliceLevel = 3;                             // zstd level

using Hash = ostrel_core::proto::Hash;

class Transfers {
 public:
  Transfers();
  ~Transfers();  // = default in content.cpp
  Transfers(Transfers&&) noexcept;
  Transfers& operator=(Transfers&&) noexcept;

  // Queues each hash the index holds that was never accepted on this connection, in request
  // order; returns how many were queued. Unknown and repeated hashes are ignored.
  std::size_t request(std::span<const Hash> hashes, const ostrel_core::content::ContentIndex& index);

  // At most kSlicesPerCall slices to send now, in order; none once the budget is spent.
  std::vector<ostrel_core::proto::server::ContentSlice> next_slices(
      const ostrel_core::content::ContentIndex& index);

  std::size_t queued() const { return queue_.size(); }
  std::uint64_t sent() const { return sent_; }  // uncompressed bytes sliced so far

 private:
  struct Compressor;  // a reused zstd context, defined in content.cpp

  void finish_head();

  std::unique_ptr<Compressor> compressor_;
  std::deque<Hash> queue_;   // still to send, first in first out
  std::set<Hash> requested_;  // every hash ever accepted; never shrinks
  std::uint64_t offset_ = 0;  // where the head file's next slice starts; 0 for a new head
  std::uint64_t sent_ = 0;    // saturating
};

}  // namespace ostrel_server::content
