// The connection task end to end: a login client over loopback QUIC, the server's accept loop
// running `serve` over a hub, and a fake chunk server answering the hub's chunk requests.

#include "transport/connection.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <atomic>
#include <set>
#include <thread>

#include "hub/hub.hpp"
#include "identity/keyset.hpp"
#include "presentation/sky.hpp"
#include "proto/codec.hpp"
#include "support/hub_fixture.hpp"
#include "support/log_capture.hpp"
#include "support/login_client.hpp"
#include "support/run.hpp"
#include "transport/endpoint_proto.hpp"

namespace ostrel_server::test {
namespace {

namespace proto = ostrel_core::proto;
namespace cm = proto::client;
namespace sm = proto::server;
using ostrel_core::coords::ChunkPos;
using ostrel_core::test::TestKey;
using proto::ServerMessage;
using transport::endpoint::HubInit;
using transport::endpoint::Shared;

constexpr std::uint64_t kSeed = 0x5eed;

transport::endpoint::HubInit hub_init(std::uint8_t view_h = 2, std::uint8_t view_v = 1) {
  HubInit init;
  init.cert_fingerprint = test_cert().fingerprint;
  init.world_seed = kSeed;
  init.view_distance_cap = view_h;
  init.vertical_view_distance_cap = view_v;
  return init;
}

ostrel_core::identity::PlayerUuid uuid_of(const TestKey& key) {
  return ostrel_core::identity::keyset::KeySet::create(key.key(), std::nullopt, 0).uuid();
}

// The server side: the hub, the accept loop running `serve`, and the chunk answers.
struct Rig {
  explicit Rig(HubInit init = hub_init())
      : hub(make_hub(std::move(init))),
        server(transport::endpoint::serving(hub)),
        chunks(hub, FakeChunkServer::plain) {}

  LoginClient connect() {
    auto c =
        run_sync(io, LoginClient::connect(io.get_executor(), server.address(), server.cert().fingerprint));
    if (!c) ADD_FAILURE() << c.error();
    return std::move(*c);
  }
  ServerMessage receive(LoginClient& c, std::vector<std::string_view> skip = {}) {
    auto m = run_sync(io, c.receive_skipping(std::move(skip)));
    if (!m) {
      ADD_FAILURE() << m.error();
      return sm::ChatLine{std::nullopt, "<no message: " + m.error() + ">"};
    }
    return std::move(*m);
  }
  void send(LoginClient& c, const proto::ClientMessage& m) {
    auto r = run_sync(io, c.send(m));
    if (!r) ADD_FAILURE() << r.error().message();
  }
  // A client logged in with the key of `seed` and in the world; `joined` gets the join's replies.
  LoginClient joined(std::uint8_t seed, std::string name, std::vector<ServerMessage>* joined = nullptr) {
    LoginClient c = connect();
    auto login = run_sync(io, c.login(TestKey::from_seed(seed), std::move(name)));
    EXPECT_TRUE(login.has_value() && login->size() == 17)
        << (login ? (login->empty() ? "nothing" : std::string(name_of(login->back()))) : login.error());
    auto join = run_sync(io, c.join(1));
    EXPECT_TRUE(join.has_value()) << (join ? "" : join.error());
    if (joined != nullptr && join) *joined = std::move(*join);
    return c;
  }

  std::shared_ptr<Shared> hub;
  TestServer server;
  FakeChunkServer chunks;
  asio::io_context io;
};

std::vector<std::string_view> names(const std::vector<ServerMessage>& ms) {
  std::vector<std::string_view> out;
  for (const auto& m : ms) out.push_back(name_of(m));
  return out;
}

const std::vector<std::string_view> kStreaming = {"ChunkData", "ChunkSummary", "ChunkFluid", "PlayerState"};

std::uint64_t weighted(ChunkPos p) {
  const std::int64_t lift = 4 * (std::max<std::int64_t>(std::abs(p.y), 2) - 2);
  return static_cast<std::uint64_t>(std::int64_t{p.x} * p.x + std::int64_t{p.z} * p.z + lift * lift);
}

sm::BlockEdit edit_in(ChunkPos chunk, std::uint16_t material) {
  return sm::BlockEdit{proto::edit::Set{{chunk.x * 16, chunk.y * 16, chunk.z * 16}, material}, std::nullopt};
}

std::string disconnect_text(const ServerMessage& m) {
  const auto* d = std::get_if<sm::Disconnect>(&m);
  if (d == nullptr) return std::string("not a Disconnect: ") + std::string(name_of(m));
  if (const auto* k = std::get_if<proto::disconnect::Kicked>(&d->reason)) return "kicked: " + k->text;
  if (const auto* v = std::get_if<proto::disconnect::ProtocolViolation>(&d->reason))
    return "violation: " + v->text;
  return "other reason";
}

TEST(ConnectionLogin, HelloAuthAndJoinAnswerInOrder) {
  ostrel_core::test::LogCapture logs;
  Rig rig;
  LoginClient c = rig.connect();
  const TestKey key = TestKey::from_seed(7);
  auto login = run_sync(rig.io, c.login(key, "ada"));
  ASSERT_TRUE(login.has_value()) << login.error();
  EXPECT_EQ(names(*login),
            (std::vector<std::string_view>{"ServerHello", "AuthChallenge", "ModList", "MaterialTable",
                                           "ToolTable", "FluidTable", "SkyTable", "ActionTable", "SoundTable",
                                           "HudScriptTable", "SoundBindingTable", "FontTable", "SettingTable",
                                           "PictureTable", "SetTheme", "CloudDeck", "ModelTable"}));
  EXPECT_EQ(std::get<sm::ServerHello>((*login)[0]).fingerprint, test_cert().fingerprint);
  const auto place = ostrel_core::sky::world_position(kSeed);
  EXPECT_EQ(std::get<sm::SkyTable>((*login)[6]).position,
            (std::array<std::int64_t, 3>{place.x, place.y, place.z}));
  EXPECT_EQ(rig.hub->online_count(), 0u);

  auto join = run_sync(rig.io, c.join(1));
  ASSERT_TRUE(join.has_value()) << join.error();
  // No runtime sky for "overworld": no SkyTable between.
  EXPECT_EQ(names(*join),
            (std::vector<std::string_view>{"JoinAccepted", "ViewDistanceLimit", "ContainerView"}));
  EXPECT_EQ(std::get<sm::ViewDistanceLimit>((*join)[1]), (sm::ViewDistanceLimit{2, 1}));
  EXPECT_EQ(rig.hub->online_count(), 1u);
  EXPECT_TRUE(rig.hub->is_online(uuid_of(key)));

  rig.server.stop();
  EXPECT_EQ(rig.hub->online_count(), 0u);
  const auto joined = logs.containing("player joined");
  ASSERT_EQ(joined.size(), 1u);
  EXPECT_NE(joined[0].find("player=\"ada\""), std::string::npos) << joined[0];
  EXPECT_NE(joined[0].find(fmt::format("uuid=\"{}\"", uuid_of(key).short_form())), std::string::npos)
      << joined[0];
  EXPECT_EQ(uuid_of(key).short_form().size(), 12u);
}

TEST(ConnectionStreaming, ChunksComeNearestFirstThenSummaries) {
  Rig rig;
  LoginClient c = rig.joined(1, "ada");
  // View 2 wide, 1 high: 13 columns of 3 chunks.
  std::vector<ChunkPos> full;
  std::set<ChunkPos> seen;
  std::size_t summaries = 0;
  while (full.size() < 39 || summaries < 3) {
    ServerMessage m = rig.receive(c, {"PlayerState"});
    if (const auto* d = std::get_if<sm::ChunkData>(&m)) {
      EXPECT_TRUE(seen.insert(d->pos).second);
      full.push_back(d->pos);
    } else if (const auto* s = std::get_if<sm::ChunkSummary>(&m)) {
      // Summaries wait until every full chunk has been asked for.
      EXPECT_EQ(full.size(), 39u);
      EXPECT_FALSE(seen.contains(s->pos));
      ++summaries;
    } else {
      ADD_FAILURE() << "unexpected " << name_of(m);
      break;
    }
  }
  ASSERT_EQ(full.front(), (ChunkPos{0, 0, 0}));
  for (std::size_t i = 1; i < full.size(); ++i) EXPECT_LE(weighted(full[i - 1]), weighted(full[i])) << i;
  EXPECT_LE(rig.chunks.max_held_summaries(), 2u);
}

TEST(ConnectionStreaming, OutstandingRequestsAreBounded) {
  Rig rig;
  rig.chunks.hold();
  LoginClient c = rig.joined(1, "ada");
  const std::size_t limit = rig.hub->chunks_in_flight_per_client();
  ASSERT_EQ(limit, 11u);
  ASSERT_TRUE(eventually(rig.io, [&] { return rig.chunks.held_full() == limit; }));
  // Full chunks flow, summaries are kept: never more than two of them wait.
  rig.chunks.hold([](const auto& r) { return r.level.has_value(); });
  ASSERT_TRUE(eventually(rig.io, [&] { return rig.chunks.max_held_summaries() == 2; }));
  std::size_t full = 0;
  while (full < 39) full += std::holds_alternative<sm::ChunkData>(rig.receive(c, {"PlayerState"})) ? 1 : 0;
  EXPECT_EQ(rig.chunks.max_held_full(), limit);
  EXPECT_EQ(rig.chunks.max_held_summaries(), 2u);
}

// Reads until a BlockEdit whose chunk is `marker`, failing on one for `held`.
void wait_for_marker(Rig& rig, LoginClient& c, ChunkPos marker, ChunkPos held) {
  for (;;) {
    ServerMessage m = rig.receive(c, kStreaming);
    const auto* e = std::get_if<sm::BlockEdit>(&m);
    ASSERT_NE(e, nullptr) << name_of(m);
    const ChunkPos at = transport::endpoint::chunk_of(e->edit);
    ASSERT_NE(at, held);
    if (at == marker) return;
  }
}

// A client in the world whose chunk (1, 0, 0) stays in flight while the centre has arrived.
LoginClient with_chunk_in_flight(Rig& rig) {
  rig.chunks.hold([](const auto& r) { return r.pos == ChunkPos{1, 0, 0} && !r.level; });
  LoginClient c = rig.joined(1, "ada");
  for (;;) {
    ServerMessage m = rig.receive(c, {"PlayerState"});
    if (const auto* d = std::get_if<sm::ChunkData>(&m); d && d->pos == ChunkPos{0, 0, 0}) break;
  }
  EXPECT_TRUE(eventually(rig.io, [&] { return rig.chunks.held_full() == 1; }));
  return c;
}

TEST(ConnectionEdits, EditForAChunkInFlightArrivesRightAfterIt) {
  Rig rig;
  LoginClient c = with_chunk_in_flight(rig);
  const ChunkPos held{1, 0, 0}, marker{0, 0, 0};
  for (std::uint16_t m = 1; m <= 3; ++m) rig.hub->broadcast(edit_in(held, m));
  rig.hub->broadcast(edit_in(marker, 9));
  wait_for_marker(rig, c, marker, held);
  rig.chunks.release();
  for (;;) {
    ServerMessage m = rig.receive(c, {"PlayerState", "ChunkSummary"});
    if (const auto* d = std::get_if<sm::ChunkData>(&m); d && d->pos == held) break;
  }
  for (std::uint16_t want = 1; want <= 3; ++want) {
    ServerMessage m = rig.receive(c);
    const auto* e = std::get_if<sm::BlockEdit>(&m);
    ASSERT_NE(e, nullptr) << name_of(m);
    EXPECT_EQ(std::get<proto::edit::Set>(e->edit).material, want);
  }
}

TEST(ConnectionEdits, MoreEditsThanHeldSendTheChunkAgain) {
  Rig rig;
  LoginClient c = with_chunk_in_flight(rig);
  const ChunkPos held{1, 0, 0}, marker{0, 0, 0};
  // 1025 edits, in batches the broadcast ring holds; the marker after each shows it was read.
  for (std::size_t batch : {500, 500, 25}) {
    for (std::size_t i = 0; i < batch; ++i) rig.hub->broadcast(edit_in(held, 1));
    rig.hub->broadcast(edit_in(marker, 9));
    wait_for_marker(rig, c, marker, held);
  }
  rig.chunks.release();
  int deliveries = 0;
  while (deliveries < 2) {
    ServerMessage m = rig.receive(c, {"PlayerState", "ChunkSummary"});
    if (const auto* d = std::get_if<sm::ChunkData>(&m); d && d->pos == held) ++deliveries;
    EXPECT_FALSE(std::holds_alternative<sm::BlockEdit>(m)) << "an edit was sent for a chunk that overflowed";
  }
}

TEST(ConnectionView, ViewDistanceIsClampedAndUnloadsComeFirst) {
  Rig rig(hub_init(8, 1));
  LoginClient c = rig.joined(1, "ada");
  // Wait for a chunk more than 4 columns out: a view of 1 forgets it.
  ChunkPos far{};
  for (;;) {
    ServerMessage m = rig.receive(c, {"PlayerState", "ChunkSummary"});
    const auto* d = std::get_if<sm::ChunkData>(&m);
    ASSERT_NE(d, nullptr) << name_of(m);
    if (std::int64_t{d->pos.x} * d->pos.x + std::int64_t{d->pos.z} * d->pos.z > 16) {
      far = d->pos;
      break;
    }
  }
  rig.send(c, cm::ViewDistance{0, 0});
  std::set<ChunkPos> unloaded;
  for (;;) {
    ServerMessage m = rig.receive(c, kStreaming);
    if (const auto* u = std::get_if<sm::ChunkUnload>(&m)) {
      unloaded.insert(u->pos);
      continue;
    }
    ASSERT_EQ(std::get<sm::ViewDistanceLimit>(m), (sm::ViewDistanceLimit{1, 1}));
    break;
  }
  EXPECT_TRUE(unloaded.contains(far));
  rig.send(c, cm::ViewDistance{200, 200});
  ServerMessage m = rig.receive(c, kStreaming);
  EXPECT_EQ(std::get<sm::ViewDistanceLimit>(m), (sm::ViewDistanceLimit{8, 1}));
}

TEST(ConnectionPresentation, PlayerOutboxesDrainInTheirOrder) {
  Rig rig;
  LoginClient c = rig.joined(1, "ada");
  const auto id = uuid_of(TestKey::from_seed(1));
  // Queued between two steps of the server, so that one tick drains them all.
  rig.server.on_server([&] {
    ostrel_core::particle::Burst burst{};
    for (int i = 0; i < 130; ++i) ASSERT_TRUE(rig.hub->queue_particles(id, burst));
    ASSERT_TRUE(rig.hub->queue_badge(id, ostrel_core::particle::Badge{}));
    ASSERT_TRUE(rig.hub->tell(id, "hello"));
    rig.hub->set_rainbow(id, ostrel_core::atmosphere::Rainbow{});
  });
  std::vector<ServerMessage> got;
  while (got.size() < 6) got.push_back(rig.receive(c, kStreaming));
  EXPECT_EQ(names(got), (std::vector<std::string_view>{"SetRainbow", "ChatLine", "Particles", "Particles",
                                                       "Particles", "ShowBadge"}));
  EXPECT_EQ(std::get<sm::Particles>(got[2]).bursts.size(), 64u);
  EXPECT_EQ(std::get<sm::Particles>(got[3]).bursts.size(), 64u);
  EXPECT_EQ(std::get<sm::Particles>(got[4]).bursts.size(), 2u);
}

TEST(ConnectionKicks, OnlyTheNamedPlayerIsKicked) {
  Rig rig;
  LoginClient a = rig.joined(1, "ada");
  LoginClient b = rig.joined(2, "bob");
  ASSERT_TRUE(rig.hub->kick(uuid_of(TestKey::from_seed(2)), "be nice"));
  EXPECT_EQ(disconnect_text(rig.receive(b, kStreaming)), "kicked: be nice");
  auto closed = run_sync(rig.io, b.quic().connection().closed());
  EXPECT_EQ(closed.reason, "disconnected");
  EXPECT_TRUE(eventually(rig.io, [&] { return rig.hub->online_count() == 1; }));
  // The other connection goes on: a chat line broadcast still reaches it.
  rig.hub->broadcast(sm::ChatLine{std::nullopt, "still here"});
  ServerMessage m = rig.receive(a, kStreaming);
  EXPECT_EQ(std::get<sm::ChatLine>(m).text, "still here");
}

TEST(ConnectionKicks, ANewerLoginOfTheSamePlayerClosesTheOlder) {
  Rig rig;
  LoginClient first = rig.joined(1, "ada");
  LoginClient second = rig.joined(1, "ada");
  EXPECT_EQ(disconnect_text(rig.receive(first, kStreaming)), "kicked: you joined from another connection");
  EXPECT_TRUE(eventually(rig.io, [&] { return rig.hub->online_count() == 1; }));
  EXPECT_TRUE(rig.hub->is_online(uuid_of(TestKey::from_seed(1))));
}

TEST(ConnectionKicks, FallingBehindTheBroadcastsCloses) {
  ostrel_core::test::LogCapture logs;
  Rig rig;
  LoginClient c = rig.joined(1, "ada");
  // More than the ring holds, sent while the connection task cannot read.
  rig.server.on_server([&] {
    for (int i = 0; i < 1100; ++i) rig.hub->broadcast(sm::ChatLine{std::nullopt, "spam"});
  });
  for (;;) {
    ServerMessage m = rig.receive(c, kStreaming);
    if (std::holds_alternative<sm::ChatLine>(m)) continue;
    EXPECT_EQ(disconnect_text(m), "kicked: client fell behind the broadcast stream");
    break;
  }
  EXPECT_TRUE(eventually(rig.io, [&] { return rig.hub->online_count() == 0; }));
  rig.server.stop();
  const auto lines = logs.containing("client fell behind the broadcast stream");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("missed=76"), std::string::npos) << lines[0];
}

TEST(ConnectionDomains, SwitchEntersTheDomainAndDropsStaleReplies) {
  Rig rig;
  rig.chunks.hold();
  LoginClient c = rig.joined(1, "ada");
  ASSERT_TRUE(eventually(rig.io, [&] { return rig.chunks.held_full() == 11; }));
  const auto id = uuid_of(TestKey::from_seed(1));
  const ChunkPos there{100, 0, 100};
  rig.server.on_server([&] {
    auto g = rig.hub->players()->lock();
    ASSERT_TRUE(g.has_value());
    auto& p = (**g).at(id);
    p.domain = "nether";
    p.chunk = there;
  });
  ServerMessage m = rig.receive(c, {"PlayerState"});
  EXPECT_EQ(std::get<sm::EnterDomain>(m).domain, "nether");
  m = rig.receive(c, {"PlayerState"});
  EXPECT_EQ(std::get<sm::SkyTable>(m), rig.hub->sky_table_for("nether"));
  // Replies to the overworld's requests are dropped; the nether's chunks come around `there`.
  rig.chunks.release();
  for (int n = 0; n < 20;) {
    ServerMessage next = rig.receive(c, {"PlayerState", "ChunkSummary"});
    ASSERT_FALSE(std::holds_alternative<sm::ChunkUnload>(next));
    const auto* d = std::get_if<sm::ChunkData>(&next);
    ASSERT_NE(d, nullptr) << name_of(next);
    EXPECT_LE(std::abs(d->pos.x - there.x), 2);
    EXPECT_LE(std::abs(d->pos.z - there.z), 2);
    ++n;
  }
}

TEST(ConnectionSkies, RuntimeSkyAtJoinAndWhenItChanges) {
  Rig rig;
  auto registry = std::make_shared<transport::endpoint::DomainRegistry>();
  ostrel_core::proto::SkyFrame frame;
  frame.time = 0.25f;
  ASSERT_TRUE((*registry->write())
                  ->set_sky("overworld", ostrel_core::domain::DomainSky{{frame}, {0.1f, 0.2f, 0.3f}}));
  ASSERT_TRUE(rig.hub->domains().set(registry));
  std::vector<ServerMessage> joined;
  LoginClient c = rig.joined(1, "ada", &joined);
  EXPECT_EQ(names(joined), (std::vector<std::string_view>{"JoinAccepted", "SkyTable", "ViewDistanceLimit",
                                                          "ContainerView"}));
  ASSERT_EQ(std::get<sm::SkyTable>(joined[1]).frames.size(), 1u);
  // A new runtime sky: the next tick sends the table again.
  frame.time = 0.75f;
  ASSERT_TRUE((*registry->write())
                  ->set_sky("overworld", ostrel_core::domain::DomainSky{{frame}, {0.1f, 0.2f, 0.3f}}));
  ServerMessage m = rig.receive(c, kStreaming);
  const auto& table = std::get<sm::SkyTable>(m);
  ASSERT_EQ(table.frames.size(), 1u);
  EXPECT_EQ(table.frames[0].time, 0.75f);
}

TEST(ConnectionEnds, EmptyFrameIsAProtocolViolation) {
  ostrel_core::test::LogCapture logs;
  Rig rig;
  LoginClient c = rig.connect();
  const std::uint8_t empty[4] = {0, 0, 0, 0};
  ASSERT_TRUE(run_sync(rig.io, c.quic().send_raw(empty)).has_value());
  EXPECT_EQ(disconnect_text(rig.receive(c)), "violation: peer declared an empty message");
  auto closed = run_sync(rig.io, c.quic().connection().closed());
  EXPECT_EQ(closed.reason, "disconnected");
  rig.server.stop();
  EXPECT_EQ(logs.containing("connection failed: peer declared an empty message").size(), 1u);
}

TEST(ConnectionEnds, ClientFinishingItsStreamEndsQuietly) {
  ostrel_core::test::LogCapture logs;
  ostrel_core::log::install({.filter = *ostrel_core::log::Filter::parse("debug"), .colour = false});
  Rig rig;
  LoginClient c = rig.joined(1, "ada");
  c.quic().stream().finish();
  EXPECT_TRUE(eventually(rig.io, [&] { return rig.hub->online_count() == 0; }));
  rig.server.stop();
  EXPECT_EQ(logs.containing("connection closed").size(), 1u);
  EXPECT_TRUE(logs.containing("connection failed").empty());
  ostrel_core::log::install({.filter = {}, .colour = false});
}

TEST(ConnectionEnds, ViewDistanceBeforeJoiningIsOutOfPhase) {
  Rig rig;
  LoginClient c = rig.connect();
  auto login = run_sync(rig.io, c.login(TestKey::from_seed(1), "ada"));
  ASSERT_TRUE(login.has_value());
  rig.send(c, cm::ViewDistance{4, 4});
  EXPECT_EQ(disconnect_text(rig.receive(c)), "violation: ViewDistance is not valid in phase Authenticated");
  EXPECT_EQ(rig.hub->online_count(), 0u);
}

TEST(ConnectionEnds, ClosingTheEndpointTellsEveryPlayer) {
  Rig rig;
  std::vector<LoginClient> clients;
  for (std::uint8_t i = 1; i <= 3; ++i) clients.push_back(rig.joined(i, fmt::format("p{}", i)));
  EXPECT_EQ(rig.hub->online_count(), 3u);
  rig.server.stop();
  for (auto& c : clients) {
    auto closed = run_sync(rig.io, c.quic().connection().closed());
    EXPECT_EQ(closed.reason, "server shutting down");
  }
  EXPECT_EQ(rig.hub->online_count(), 0u);
  EXPECT_TRUE(rig.hub->online_players().empty());
}

TEST(ConnectionInput, InputReachesTheHubWhileTheIdentitiesAreLocked) {
  Rig rig;
  LoginClient c = rig.joined(1, "ada");
  const auto id = uuid_of(TestKey::from_seed(1));
  auto locked = rig.hub->identities().lock_blocking();
  rig.send(c, cm::PlayerInput{5, {1.0f, 0.0f, 0.0f}, 1.25f, -0.5f, cm::kButtonJump});
  EXPECT_TRUE(eventually(rig.io, [&] {
    auto aim = rig.hub->player_aim(id);
    return aim && aim->yaw == 1.25f;
  }));
}

}  // namespace
}  // namespace ostrel_server::test

namespace ostrel_server::test {
namespace {

// Many connections at once on the server's thread, with broadcasts from another thread and the
// chunk server on a third: every player joins, streams, and leaves the hub exactly once.
TEST(ConnectionStress, ClientsJoinStreamAndLeaveWhileBroadcastsFlow) {
  Rig rig;
  std::atomic<bool> stop{false};
  std::thread chatter([&] {
    while (!stop) {
      rig.hub->broadcast(sm::ChatLine{std::nullopt, "tick"});
      rig.hub->broadcast_in("overworld", sm::ChatLine{std::nullopt, "here"});
      std::this_thread::sleep_for(std::chrono::milliseconds(2));  // pacing only
    }
  });
  constexpr int kClients = 8;
  // Each client reads to its end from the moment it is in the world, counting its chunks.
  std::vector<std::unique_ptr<LoginClient>> clients;
  std::vector<int> chunks(kClients, 0);
  int ended = 0;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(
        std::make_unique<LoginClient>(rig.joined(static_cast<std::uint8_t>(i + 1), fmt::format("p{}", i))));
    asio::co_spawn(
        rig.io,
        [c = clients.back().get(), n = &chunks[i], &ended]() -> asio::awaitable<void> {
          for (;;) {
            auto m = co_await c->receive(std::chrono::minutes(1));
            if (!m) {
              ++ended;
              co_return;
            }
            *n += std::holds_alternative<sm::ChunkData>(*m) ? 1 : 0;
          }
        },
        asio::detached);
  }
  EXPECT_EQ(rig.hub->online_count(), static_cast<std::uint32_t>(kClients));
  EXPECT_TRUE(eventually(
      rig.io, [&] { return std::all_of(chunks.begin(), chunks.end(), [](int n) { return n >= 5; }); }));
  for (int i = 0; i < kClients; i += 2) clients[i]->quic().stream().finish();
  for (int i = 1; i < kClients; i += 2)
    rig.hub->kick(uuid_of(TestKey::from_seed(static_cast<std::uint8_t>(i + 1))), "bye");
  EXPECT_TRUE(eventually(rig.io, [&] { return rig.hub->online_count() == 0 && ended == kClients; }));
  stop = true;
  chatter.join();
  EXPECT_TRUE(rig.hub->online_players().empty());
}

}  // namespace
}  // namespace ostrel_server::test
