// The hub's chunk request queue: connection tasks ask, the tick takes a bounded batch, serves
// what it can and gives the rest back.

#include <iterator>
#include <utility>

#include "hub/hub.hpp"

namespace ostrel_server::transport::endpoint {

std::optional<ServedReceiver> Shared::request_chunk_at(std::string_view domain, ChunkPos pos,
                                                       std::optional<std::uint8_t> level) {
  std::string id(domain);
  auto q = chunk_requests_.lock();
  if (!q || (*q)->size() >= kChunkRequestCap) return std::nullopt;
  auto [reply, receiver] = ostrel_core::sync::oneshot::channel<std::optional<Served>>();
  (*q)->push_back(ChunkRequest{std::move(id), pos, level, std::move(reply)});
  return std::optional<ServedReceiver>(std::move(receiver));
}

std::size_t Shared::queued_chunk_requests() {
  auto q = chunk_requests_.lock();
  return q ? (*q)->size() : 0;
}

std::vector<ChunkRequest> Shared::take_chunk_requests() {
  std::vector<ChunkRequest> batch;
  auto q = chunk_requests_.lock();
  if (!q) return batch;
  auto& queue = **q;
  batch.reserve(kChunkBatch);
  // Summaries past the batch's share wait at the front, in their order; what the batch does not
  // reach is never moved.
  std::vector<ChunkRequest> skipped;
  std::size_t summaries = 0;
  while (!queue.empty() && batch.size() < kChunkBatch) {
    ChunkRequest r = std::move(queue.front());
    queue.pop_front();
    if (r.level && summaries == kSummaryBatch) {
      skipped.push_back(std::move(r));
      continue;
    }
    if (r.level) ++summaries;
    batch.push_back(std::move(r));
  }
  queue.insert(queue.begin(), std::make_move_iterator(skipped.begin()),
               std::make_move_iterator(skipped.end()));
  return batch;
}

void Shared::requeue_chunk_requests(std::vector<ChunkRequest> requests) {
  if (requests.empty()) return;
  // With a poisoned lock the requests are dropped here, which closes their replies unanswered.
  auto q = chunk_requests_.lock();
  if (!q) return;
  (*q)->insert((*q)->begin(), std::make_move_iterator(requests.begin()),
               std::make_move_iterator(requests.end()));
}

}  // namespace ostrel_server::transport::endpoint
