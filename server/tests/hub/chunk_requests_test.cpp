#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hub/hub.hpp"
#include "support/hub_fixture.hpp"

namespace ostrel_server::transport::endpoint {
namespace {

using test::make_hub;
using Kind = ostrel_core::sync::oneshot::Poll<std::optional<Served>>::Kind;

// Requests in order: 'S' a summary (level 1), 'F' a full chunk; x counts up.
std::vector<ServedReceiver> ask(Shared& hub, std::string_view kinds, int& x) {
  std::vector<ServedReceiver> out;
  for (char k : kinds) {
    auto level = k == 'S' ? std::optional<std::uint8_t>(1) : std::nullopt;
    auto r = hub.request_chunk_at("overworld", {x++, 0, 0}, level);
    EXPECT_TRUE(r);
    if (r) out.push_back(std::move(*r));
  }
  return out;
}

std::string kinds_of(const std::vector<ChunkRequest>& rs) {
  std::string s;
  for (const auto& r : rs) s += r.level ? 'S' : 'F';
  return s;
}

std::vector<int> xs_of(const std::vector<ChunkRequest>& rs) {
  std::vector<int> xs;
  for (const auto& r : rs) xs.push_back(r.pos.x);
  return xs;
}

TEST(HubChunkRequests, TakesARequestWhileFewerThan512Wait) {
  auto hub = make_hub();
  std::vector<ServedReceiver> replies;
  for (int i = 0; i < 511; ++i)
    replies.push_back(*hub->request_chunk_at("overworld", {i, 0, 0}, std::nullopt));
  EXPECT_TRUE(hub->request_chunk_at("overworld", {511, 0, 0}, std::nullopt));
  EXPECT_FALSE(hub->request_chunk_at("overworld", {512, 0, 0}, std::nullopt));
  EXPECT_EQ(hub->queued_chunk_requests(), 512u);
}

TEST(HubChunkRequests, ABatchTakesAtMostFiveSummariesAndKeepsTheOrderOfWhatStays) {
  auto hub = make_hub();
  int x = 0;
  auto replies = ask(*hub, "SSSFFFFSSSS", x);
  auto batch = hub->take_chunk_requests();
  EXPECT_EQ(kinds_of(batch), "SSSFFFFSS");
  EXPECT_EQ(xs_of(batch), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  auto rest = hub->take_chunk_requests();
  EXPECT_EQ(xs_of(rest), (std::vector<int>{9, 10}));
}

TEST(HubChunkRequests, ABatchTakesAtMost22AndTheRestStayFirstInLine) {
  auto hub = make_hub();
  int x = 0;
  auto replies = ask(*hub, std::string(30, 'F'), x);
  auto batch = hub->take_chunk_requests();
  EXPECT_EQ(batch.size(), 22u);
  EXPECT_EQ(batch.back().pos.x, 21);
  auto later = ask(*hub, "F", x);
  auto next = hub->take_chunk_requests();
  EXPECT_EQ(xs_of(next), (std::vector<int>{22, 23, 24, 25, 26, 27, 28, 29, 30}));
}

TEST(HubChunkRequests, RequeuedRequestsGoInFrontOfNewerOnesUncapped) {
  auto hub = make_hub();
  int x = 0;
  auto first = ask(*hub, "FFF", x);
  auto batch = hub->take_chunk_requests();
  auto newer = ask(*hub, "FF", x);
  // Given back even past the request cap.
  int extra = 1000;
  std::vector<ServedReceiver> extra_replies;
  for (int i = 0; i < 600; ++i) {
    auto [tx, rx] = ostrel_core::sync::oneshot::channel<std::optional<Served>>();
    batch.push_back({"overworld", {extra++, 0, 0}, std::nullopt, std::move(tx)});
    extra_replies.push_back(std::move(rx));
  }
  hub->requeue_chunk_requests(std::move(batch));
  EXPECT_EQ(hub->queued_chunk_requests(), 605u);
  auto again = hub->take_chunk_requests();
  EXPECT_EQ(again[0].pos.x, 0);
  EXPECT_EQ(again[2].pos.x, 2);
  EXPECT_EQ(again[3].pos.x, 1000);
}

TEST(HubChunkRequests, TheReplyCarriesTheAnswerOrClosesUnanswered) {
  auto hub = make_hub();
  auto served = *hub->request_chunk_at("overworld", {0, 0, 0}, std::nullopt);
  auto dropped = *hub->request_chunk_at("overworld", {1, 0, 0}, 2);
  auto batch = hub->take_chunk_requests();
  ASSERT_EQ(batch.size(), 2u);
  EXPECT_EQ(served.poll().kind, Kind::Pending);
  std::move(batch[0].reply).send(Served{.bytes = {1, 2, 3}, .solid = true});
  batch.clear();
  auto p = served.poll();
  ASSERT_EQ(p.kind, Kind::Ready);
  EXPECT_EQ((*p.value)->bytes, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_TRUE((*p.value)->solid);
  EXPECT_EQ(dropped.poll().kind, Kind::Closed);
}

}  // namespace
}  // namespace ostrel_server::transport::endpoint
