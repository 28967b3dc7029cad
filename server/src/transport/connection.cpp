#include "transport/connection.hpp"

#include <fmt/format.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <chrono>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/log.hpp"
#include "hub/hub.hpp"
#include "hub/player_slot.hpp"
#include "mods/content.hpp"
#include "proto/client.hpp"
#include "proto/server.hpp"
#include "session/session.hpp"
#include "sync/await.hpp"
#include "transport/endpoint_proto.hpp"
#include "transport/reader.hpp"
#include "transport/streamer.hpp"

namespace ostrel_server::transport::endpoint {
namespace {

namespace cm = ostrel_core::proto::client;
namespace sm = ostrel_core::proto::server;
namespace session = ostrel_core::session;
namespace broadcast = ostrel_core::sync::broadcast;
using ostrel_core::proto::ClientMessage;
using ostrel_core::proto::DisconnectReason;
using ostrel_core::proto::Frame;
using stream::Streamer;
using Result = std::expected<void, frame::FrameError>;

constexpr const char* kTarget = "ostrel_server::transport::endpoint";
constexpr std::chrono::milliseconds kTickPeriod{50};
constexpr std::string_view kOverworld = "overworld";
constexpr std::string_view kUnnamed = "<unnamed>";
constexpr std::uint32_t kBlockEditIndex = 7;  // sm::BlockEdit's wire index

// What woke the task.
struct Tick {};
struct FromClient {
  bool ended = false;  // the channel closed: the reader is gone
  reader::Item<ClientMessage> item = std::unexpected(frame::FrameError::declared_empty());
};
struct KickEvent {
  broadcast::Received<SharedKick> got;
};
struct BroadcastEvent {
  broadcast::Received<SharedBroadcast> got;
};
using Event = std::variant<Tick, FromClient, KickEvent, BroadcastEvent>;

// One chunk request waiting for the simulation's answer.
struct Pending {
  ChunkPos pos;
  std::optional<std::uint8_t> level;  // none: the full chunk
  std::string domain;                 // the streamer's domain when it was asked
  ServedReceiver reply;
};

// Whether handling `message` reads or writes the identity registry or the allowlist.
bool touches_identities(const ClientMessage& message) {
  return std::holds_alternative<cm::AuthResponse>(message) || std::holds_alternative<cm::AddKey>(message) ||
         std::holds_alternative<cm::RotateKey>(message);
}

std::uint64_t unix_seconds() {
  const auto s =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
  return s.count() < 0 ? 0 : static_cast<std::uint64_t>(s.count());
}

ostrel_core::phys::Intent intent_of(const cm::PlayerInput& m, bool may_fly) {
  ostrel_core::phys::Intent in;
  in.walk_x = m.walk[0];
  in.walk_z = m.walk[2];
  in.jump = (m.buttons & cm::kButtonJump) != 0;
  if ((m.buttons & cm::kButtonSneak) != 0) {
    in.gait = ostrel_core::phys::Gait::Sneak;
  } else if ((m.buttons & cm::kButtonSprint) != 0) {
    in.gait = ostrel_core::phys::Gait::Sprint;
  }
  in.fly = (m.buttons & cm::kButtonFly) != 0 && may_fly;
  return in;
}

std::uint8_t effective(std::uint8_t cap, std::uint8_t asked, std::uint8_t top) {
  const std::uint8_t v = std::min(cap, asked);
  return std::clamp<std::uint8_t>(v, 1, top);
}

// The client's messages as the task takes them: one at a time off the reader's channel, by a task
// of its own, so that the connection task's waits never consume a message.
struct Inbox {
  explicit Inbox(const asio::any_io_executor& ex)
      : ready(ex, asio::steady_timer::time_point::max()), space(ex, asio::steady_timer::time_point::max()) {}
  std::deque<reader::Item<ClientMessage>> items;  // at most one
  bool ended = false;                             // the channel closed
  bool stopped = false;                           // the connection task is gone
  asio::steady_timer ready;                       // cancelled when an item arrives or the channel ends
  asio::steady_timer space;                       // cancelled when the task takes the item, or stops
};

asio::awaitable<void> fill_inbox(std::shared_ptr<reader::Channel<ClientMessage>> channel,
                                 std::shared_ptr<Inbox> inbox) {
  const auto on_signal = asio::experimental::as_tuple(asio::use_awaitable);
  for (;;) {
    while (!inbox->items.empty() && !inbox->stopped) {
      inbox->space.expires_at(asio::steady_timer::time_point::max());
      (void)co_await inbox->space.async_wait(on_signal);
    }
    if (inbox->stopped) co_return;
    auto [ec, item] = co_await channel->async_receive(on_signal);
    if (inbox->stopped) co_return;
    if (ec) {
      inbox->ended = true;
      inbox->ready.cancel();
      co_return;
    }
    inbox->items.push_back(std::move(item));
    inbox->ready.cancel();
  }
}

class Task {
 public:
  Task(quic::Connection conn, quic::Stream stream, std::shared_ptr<Shared> hub,
       const asio::any_io_executor& ex)
      : conn_(std::move(conn)),
        stream_(std::move(stream)),
        hub_(std::move(hub)),
        channel_(reader::make_channel<ClientMessage>(ex)),
        inbox_(std::make_shared<Inbox>(ex)),
        broadcasts_(hub_->subscribe_broadcasts()),
        kicks_(hub_->subscribe_kicks()),
        ticker_(ex),
        rng_(std::random_device{}()) {}

  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;

  ~Task() {
    inbox_->stopped = true;
    inbox_->space.cancel();
    reader::close_channel(*channel_);
  }

  asio::awaitable<Result> run() {
    asio::co_spawn(channel_->get_executor(), reader::run<ClientMessage>(stream_, channel_), asio::detached);
    asio::co_spawn(channel_->get_executor(), fill_inbox(channel_, inbox_), asio::detached);
    for (;;) {
      Event event = co_await next_event();
      Step step = co_await std::visit([this](auto& e) { return handle(e); }, event);
      if (step.end) {
        // Every path closes the connection, so that nothing else holds it open.
        conn_.close(0, kDisconnectedReason);
        co_return std::move(step.result);
      }
    }
  }

 private:
  struct Step {
    bool end = false;
    Result result;
  };
  static Step go_on() { return {}; }
  static Step end_clean() { return {true, {}}; }
  static Step end_with(frame::FrameError e) { return {true, std::unexpected(std::move(e))}; }

  // --- Waiting.
  bool ticker_armed() const { return streamer_.has_value() || transfers_.queued() > 0; }

  // The first of the four sources that is ready, polled in random order so none starves; with
  // none ready, waits until one is. The waits consume nothing (the client's messages are taken
  // off their channel by the inbox's own task), so a wait that loses the race loses no message.
  asio::awaitable<Event> next_event() {
    using namespace asio::experimental::awaitable_operators;
    const auto on_signal = asio::experimental::as_tuple(asio::use_awaitable);
    for (;;) {
      const unsigned first = rng_() % 4;
      for (unsigned k = 0; k < 4; ++k) {
        if (auto e = poll((first + k) % 4)) co_return std::move(*e);
      }
      inbox_->ready.expires_at(asio::steady_timer::time_point::max());
      if (ticker_armed()) {
        ticker_.expires_at(next_tick_);
        (void)co_await (ticker_.async_wait(on_signal) || inbox_->ready.async_wait(on_signal) ||
                        sync::ready(kicks_) || sync::ready(broadcasts_));
      } else {
        (void)co_await (inbox_->ready.async_wait(on_signal) || sync::ready(kicks_) ||
                        sync::ready(broadcasts_));
      }
    }
  }

  std::optional<Event> poll(unsigned which) {
    using Kind = broadcast::Received<SharedKick>::Kind;
    switch (which) {
      case 0:
        if (ticker_armed() && std::chrono::steady_clock::now() >= next_tick_) {
          next_tick_ = std::chrono::steady_clock::now() + kTickPeriod;
          return Tick{};
        }
        return std::nullopt;
      case 1: {
        if (!inbox_->items.empty()) {
          FromClient out{false, std::move(inbox_->items.front())};
          inbox_->items.pop_front();
          inbox_->space.cancel();
          return out;
        }
        if (inbox_->ended) return FromClient{true};
        return std::nullopt;
      }
      case 2: {
        auto r = kicks_.try_recv();
        if (r.kind == Kind::Empty) return std::nullopt;
        return KickEvent{std::move(r)};
      }
      default: {
        auto r = broadcasts_.try_recv();
        if (r.kind == broadcast::Received<SharedBroadcast>::Kind::Empty) return std::nullopt;
        return BroadcastEvent{std::move(r)};
      }
    }
  }

  // --- Writing. Messages are encoded into `out_` and written by flush(), so that no awaited
  // call has a temporary among its arguments (g++ 12 may destroy such a temporary twice).
  asio::awaitable<Result> send(const Frame& f) { co_return co_await frame::write(stream_, f); }
  template <class M>
  void queue(const M& m) {
    out_.push_back(ostrel_core::proto::encode(m));
  }
  // Writes what is queued, in order; on a write error the rest is dropped.
  asio::awaitable<Result> flush() {
    std::vector<Frame> frames = std::exchange(out_, {});
    for (const Frame& f : frames) {
      if (auto r = co_await send(f); !r) co_return r;
    }
    co_return Result{};
  }
  // Tells the client why it is closed (a failed write is ignored), then flushes and closes.
  asio::awaitable<void> disconnect(const DisconnectReason& reason) {
    queue(sm::Disconnect{reason});
    (void)co_await flush();
    co_await flush_and_close(stream_, conn_);
  }

  // --- The client's messages.
  std::string display_name() const { return session_.name().value_or(std::string(kUnnamed)); }
  std::optional<PlayerUuid> player_id() const {
    if (!session_.authenticated()) return std::nullopt;
    return session_.uuid();
  }

  session::SessionContext context(const ClientMessage& message) const {
    session::SessionContext ctx;
    ctx.tables = &hub_->tables();
    ctx.fingerprint = hub_->cert_fingerprint();
    if (std::holds_alternative<cm::AuthResponse>(message)) ctx.sky = hub_->login_sky();
    ctx.allowlist = &no_allowlist_;
    ctx.mod_set = hub_->mod_set_hash();
    ctx.tick = hub_->control()->ticks();
    ctx.world_seed = hub_->world_seed();
    ctx.spawn = hub_->spawn();
    ctx.op = session_.authenticated() && hub_->operators().contains(session_.uuid());
    ctx.now = unix_seconds();
    ctx.max_players = hub_->max_players();
    ctx.online = hub_->online_count();
    return ctx;
  }

  asio::awaitable<session::Response> run_session(const ClientMessage& message) {
    session::SessionContext ctx = context(message);
    if (!touches_identities(message)) co_return session_.handle(message, ctx, provider_, no_identities_);
    auto identities = co_await sync::lock(hub_->identities());
    auto allowlist = hub_->allowlist().read();
    if (!allowlist) co_return session_.handle(message, ctx, provider_, *identities);
    ctx.allowlist = &**allowlist;
    co_return session_.handle(message, ctx, provider_, *identities);
  }

  asio::awaitable<Step> handle(FromClient& e) {
    if (e.ended) co_return end_clean();
    if (!e.item) {
      frame::FrameError error = std::move(e.item.error());
      // The client finished its stream: no Disconnect; the accept loop logs it at DEBUG.
      if (error.is_early_eof()) co_return end_with(std::move(error));
      const DisconnectReason reason = frame_error_reason(error);
      co_await disconnect(reason);
      co_return end_with(std::move(error));
    }
    const ClientMessage& message = *e.item;
    const bool was_in_world = session_.phase() == session::Phase::InWorld;
    session::Response response = co_await run_session(message);
    if (std::holds_alternative<cm::Hello>(message) && session_.phase() == session::Phase::AwaitingAuth) {
      hello_received(conn_);
    }
    if (!was_in_world && session_.phase() == session::Phase::InWorld) enter_world();
    for (const Frame& f : response.messages) {
      if (auto r = co_await send(f); !r) co_return end_with(std::move(r.error()));
    }
    if (joined_now_) {
      if (auto r = co_await after_join(); !r) co_return end_with(std::move(r.error()));
    }
    if (const auto* m = std::get_if<cm::ViewDistance>(&message); m && !response.close && streamer_) {
      if (auto r = co_await change_view(*m); !r) co_return end_with(std::move(r.error()));
    }
    if (const auto* m = std::get_if<cm::ContentRequest>(&message)) {
      const auto phase = session_.phase();
      if (phase == session::Phase::Authenticated || phase == session::Phase::InWorld) {
        const std::size_t accepted = transfers_.request(m->hashes, hub_->content());
        OSTREL_DEBUG(kTarget, "content requested", ostrel_core::log::value("asked", m->hashes.size()),
                     ostrel_core::log::value("accepted", accepted));
      }
    }
    if (auto id = player_id()) carry_out(*id, std::move(response.action));
    if (response.close) {
      co_await flush_and_close(stream_, conn_);
      co_return end_clean();
    }
    co_return go_on();
  }

  void enter_world() {
    const auto id = player_id();
    if (id) slot_.emplace(PlayerSlot::claim(hub_, *id, display_name()));
    const BlockPos spawn = hub_->spawn();
    const ChunkPos centre{spawn.x >> 4, spawn.y >> 4, spawn.z >> 4};
    streamer_.emplace(std::string(kOverworld), centre, hub_->view_distance_cap(),
                      hub_->vertical_view_distance_cap());
    joined_now_ = true;
    entered_world(conn_);
    OSTREL_INFO(kTarget, "player joined", ostrel_core::log::text("player", display_name()),
                ostrel_core::log::text("uuid", id ? id->short_form() : std::string()));
  }

  asio::awaitable<Result> after_join() {
    joined_now_ = false;
    sky_seen_ = hub_->sky_revision();
    if (hub_->has_runtime_sky(kOverworld)) queue(hub_->sky_table_for(kOverworld));
    queue(sm::ViewDistanceLimit{hub_->view_distance_cap(), hub_->vertical_view_distance_cap()});
    if (auto id = player_id()) {
      hub_->ensure_inventory(*id);
      for (const auto& v : hub_->view_updates(*id)) queue(v);
    }
    co_return co_await flush();
  }

  asio::awaitable<Result> change_view(const cm::ViewDistance& m) {
    const std::uint8_t h = effective(hub_->view_distance_cap(), m.horizontal, kMaxViewH);
    const std::uint8_t v = effective(hub_->vertical_view_distance_cap(), m.vertical, kMaxViewV);
    view_ = {h, v};
    for (const ChunkPos& p : streamer_->resize(h, v)) queue(sm::ChunkUnload{p});
    queue(sm::ViewDistanceLimit{h, v});
    co_return co_await flush();
  }

  void carry_out(const PlayerUuid& id, session::Action action) {
    std::visit([&](auto& a) { act(id, a); }, action);
  }
  void act(const PlayerUuid&, const session::action::None&) {}
  void act(const PlayerUuid& id, ostrel_core::proto::Edit& e) {
    if (!hub_->queue_edit(id, std::move(e))) OSTREL_WARN(kTarget, "edit queue is full; dropping an edit");
  }
  void act(const PlayerUuid& id, cm::Chat& m) { (void)hub_->queue_chat(id, std::move(m.text)); }
  void act(const PlayerUuid& id, const session::action::Dig& m) { hub_->set_dig(id, m.target); }
  void act(const PlayerUuid& id, cm::SelectTool& m) { (void)hub_->select_tool(id, std::move(m.tool)); }
  void act(const PlayerUuid& id, cm::Place& m) {
    PlacementRequest request{
        id, m.target, m.material, m.occupancy, m.orient, std::move(m.detail), std::move(m.cells)};
    if (!hub_->queue_placement(std::move(request))) {
      OSTREL_WARN(kTarget, "placement queue is full; dropping a placement");
    }
  }
  void act(const PlayerUuid& id, const cm::Use& m) {
    if (!hub_->queue_use(id, m.target)) OSTREL_WARN(kTarget, "use queue is full; dropping a use");
  }
  void act(const PlayerUuid& id, const cm::Punch& m) { (void)hub_->queue_punch(id, m.entity); }
  void act(const PlayerUuid& id, cm::Action& m) { (void)hub_->queue_action(id, std::move(m.id), m.pressed); }
  void act(const PlayerUuid& id, cm::DialogEvent& m) {
    (void)hub_->queue_dialog_event(id, std::move(m.form), std::move(m.event));
  }
  void act(const PlayerUuid& id, const cm::SwapOffhand& m) { (void)hub_->swap_offhand(id, m.slot); }
  void act(const PlayerUuid& id, const cm::SelectSlot& m) { hub_->select_slot(id, m.slot); }
  void act(const PlayerUuid& id, cm::SetSetting& m) {
    (void)hub_->queue_setting_change(id, std::move(m.id), m.value);
  }
  void act(const PlayerUuid& id, const cm::PlayerInput& m) {
    const bool fly = hub_->may_fly(id);
    (void)hub_->queue_input(id, m.sequence, intent_of(m, fly), m.yaw, m.pitch);
  }

  // --- Kicks and broadcasts.
  asio::awaitable<Step> handle(KickEvent& e) {
    using Kind = broadcast::Received<SharedKick>::Kind;
    if (e.got.kind != Kind::Value) co_return go_on();
    const auto id = player_id();
    if (!id || (*e.got.value)->player != *id) co_return go_on();
    const DisconnectReason reason = ostrel_core::proto::disconnect::Kicked{(*e.got.value)->reason};
    co_await disconnect(reason);
    co_return end_clean();
  }

  asio::awaitable<Step> handle(BroadcastEvent& e) {
    using Kind = broadcast::Received<SharedBroadcast>::Kind;
    switch (e.got.kind) {
      case Kind::Closed:
        co_return end_clean();
      case Kind::Empty:
        co_return go_on();
      case Kind::Lagged: {
        // Before the world nothing would have been forwarded: nothing was lost.
        if (session_.phase() != session::Phase::InWorld) co_return go_on();
        // Messages this client never got cannot be made up for: it is told and closed.
        OSTREL_WARN(kTarget, std::string(kLaggedReason), ostrel_core::log::value("missed", e.got.missed));
        const DisconnectReason reason = ostrel_core::proto::disconnect::Kicked{std::string(kLaggedReason)};
        co_await disconnect(reason);
        co_return end_clean();
      }
      case Kind::Value:
        break;
    }
    const Broadcast& b = **e.got.value;
    if (session_.phase() != session::Phase::InWorld) co_return go_on();
    if (b.domain && (!streamer_ || streamer_->domain() != *b.domain)) co_return go_on();
    if (streamer_ && b.frame->index() == kBlockEditIndex && b.chunk) {
      const ChunkPos pos = *b.chunk;
      streamer_->summarised_at.erase(pos);
      streamer_->unseal(pos);
      if (streamer_->is_in_flight(pos)) {
        streamer_->hold_edit(pos, b.frame);
        co_return go_on();
      }
    }
    if (auto r = co_await send(*b.frame); !r) co_return end_with(std::move(r.error()));
    co_return go_on();
  }

  // --- The tick.
  asio::awaitable<Step> handle(Tick&) {
    if (auto r = co_await tick(); !r) co_return end_with(std::move(r.error()));
    if (slot_ && slot_->superseded()) {
      const DisconnectReason reason = ostrel_core::proto::disconnect::Kicked{std::string(kSupersededReason)};
      co_await disconnect(reason);
      co_return end_clean();
    }
    co_return go_on();
  }

  asio::awaitable<Result> tick() {
    for (const auto& slice : transfers_.next_slices(hub_->content())) queue(slice);
    const auto id = player_id();
    if (id && hub_->take_inventory_dirty(*id)) {
      sm::Inventory inv;
      for (const auto& stack : hub_->inventory_of(*id)) inv.slots.push_back(hub_->wire_stack(stack));
      queue(inv);
      for (const auto& v : hub_->view_updates(*id)) queue(v);
    }
    if (auto r = co_await flush(); !r) co_return r;
    if (id && streamer_) {
      if (auto r = co_await follow(*id); !r) co_return r;
    }
    if (streamer_) {
      if (auto r = co_await pump_chunks(); !r) co_return r;
    }
    if (id) co_return co_await drain(*id);
    co_return Result{};
  }

  // Follows the player into another domain or chunk.
  asio::awaitable<Result> follow(const PlayerUuid& id) {
    const auto place = hub_->player_place(id);
    if (!place) co_return Result{};
    const auto& [domain, chunk] = *place;
    const std::uint64_t rev = hub_->sky_revision();
    if (domain != streamer_->domain()) {
      sky_seen_ = rev;
      const std::size_t dropped = streamer_->switch_to(domain, chunk).size();
      OSTREL_DEBUG(kTarget, "moved to another domain", ostrel_core::log::text("player", display_name()),
                   ostrel_core::log::text("domain", domain), ostrel_core::log::value("chunks", dropped));
      queue(sm::EnterDomain{domain});
      queue(hub_->sky_table_for(domain));
    } else if (rev != sky_seen_) {
      queue(hub_->sky_table_for(domain));
      sky_seen_ = rev;
    }
    for (const ChunkPos& p : streamer_->recentre(chunk)) queue(sm::ChunkUnload{p});
    co_return co_await flush();
  }

  asio::awaitable<Result> pump_chunks() {
    if (auto r = co_await deliver_replies(); !r) co_return r;
    request_full_chunks();
    request_summaries();
    co_return Result{};
  }

  asio::awaitable<Result> deliver_replies() {
    std::vector<Pending> waiting;
    std::vector<Pending> taken = std::exchange(pending_, {});
    for (std::size_t i = 0; i < taken.size(); ++i) {
      Pending& p = taken[i];
      auto polled = p.reply.poll();
      using Kind = decltype(polled.kind);
      if (polled.kind == Kind::Pending) {
        waiting.push_back(std::move(p));
        continue;
      }
      // A reply for the domain the player has left is dropped: its chunk is not this domain's.
      const bool current = p.domain == streamer_->domain();
      if (polled.kind == Kind::Closed || !*polled.value || !current) {
        if (current) {
          streamer_->in_flight.erase(p.pos);
          streamer_->held.erase(p.pos);
        }
        continue;
      }
      Served served = std::move(**polled.value);
      if (auto r = co_await deliver(p, served); !r) {
        for (std::size_t j = i + 1; j < taken.size(); ++j) waiting.push_back(std::move(taken[j]));
        pending_ = std::move(waiting);
        co_return r;
      }
    }
    pending_ = std::move(waiting);
    co_return Result{};
  }

  asio::awaitable<Result> deliver(const Pending& p, Served& served) {
    Streamer& s = *streamer_;
    if (!p.level) {
      if (served.fluid) queue(sm::ChunkFluid{p.pos, std::move(*served.fluid)});
      queue(sm::ChunkData{p.pos, std::move(served.bytes), served.tint, served.fog});
      if (auto r = co_await flush(); !r) co_return r;
      s.in_flight.erase(p.pos);
      s.summarised_at.erase(p.pos);
      const bool was_sent = !s.sent.insert(p.pos).second;
      if (served.solid) {
        s.sealed.insert(p.pos);
      } else if (!was_sent) {
        s.lift_shadows(p.pos);
      }
    } else {
      queue(sm::ChunkSummary{p.pos, std::move(served.bytes)});
      if (auto r = co_await flush(); !r) co_return r;
      s.summarised(p.pos, *p.level);
    }
    auto it = s.held.find(p.pos);
    if (it == s.held.end()) co_return Result{};
    stream::Held held = std::move(it->second);
    s.held.erase(it);
    if (auto* edits = std::get_if<stream::held::Edits>(&held)) {
      for (const auto& m : edits->messages) {
        if (auto r = co_await send(*m); !r) co_return r;
      }
    } else if (std::holds_alternative<stream::held::Overflowed>(held)) {
      s.sent.erase(p.pos);
      s.sealed.erase(p.pos);
    }
    co_return Result{};
  }

  void request_full_chunks() {
    Streamer& s = *streamer_;
    const std::size_t limit = hub_->chunks_in_flight_per_client();
    const std::size_t n = s.in_flight.size() >= limit ? 0 : limit - s.in_flight.size();
    for (const ChunkPos& pos : s.next_needed(n)) {
      auto reply = hub_->request_chunk_at(s.domain(), pos, std::nullopt);
      if (!reply) break;
      s.in_flight.insert(pos);
      pending_.push_back(Pending{pos, std::nullopt, s.domain(), std::move(*reply)});
    }
  }

  void request_summaries() {
    Streamer& s = *streamer_;
    std::size_t k = 0;
    for (const Pending& p : pending_) k += p.level.has_value() ? 1 : 0;
    const std::size_t want = k < kMaxSummaryRequests ? kMaxSummaryRequests - k : 0;
    for (const auto& [pos, level] : s.next_summaries(want)) {
      auto reply = hub_->request_chunk_at(s.domain(), pos, level);
      if (!reply) break;
      s.in_flight.insert(pos);
      pending_.push_back(Pending{pos, level, s.domain(), std::move(*reply)});
    }
  }

  // What the hub holds for the player, in its fixed order.
  asio::awaitable<Result> drain(const PlayerUuid& id) {
    std::vector<Frame> out;
    if (auto m = hub_->player_state(id)) out.push_back(ostrel_core::proto::encode(*m));
    if (auto m = hub_->dig_progress(id)) out.push_back(ostrel_core::proto::encode(*m));
    for (auto& f : hub_->take_entity_messages(id)) out.push_back(std::move(f));
    for (const auto& m : hub_->unsent_hud_values(id)) out.push_back(ostrel_core::proto::encode(m));
    if (auto m = hub_->unsent_sky_modifier(id)) out.push_back(ostrel_core::proto::encode(*m));
    if (auto m = hub_->unsent_precipitation(id)) out.push_back(ostrel_core::proto::encode(*m));
    if (auto m = hub_->unsent_rainbow(id)) out.push_back(ostrel_core::proto::encode(*m));
    if (auto m = hub_->unsent_cloud_map(id)) out.push_back(ostrel_core::proto::encode(*m));
    if (auto m = hub_->unsent_clouds(id)) out.push_back(ostrel_core::proto::encode(*m));
    for (auto& text : hub_->take_notices(id)) {
      out.push_back(ostrel_core::proto::encode(sm::ChatLine{std::nullopt, std::move(text)}));
    }
    auto bursts = hub_->take_particles(id);
    for (std::size_t i = 0; i < bursts.size(); i += sm::kMaxBurstsPerMessage) {
      const std::size_t end = std::min(bursts.size(), i + sm::kMaxBurstsPerMessage);
      sm::Particles m;
      m.bursts.assign(std::make_move_iterator(bursts.begin() + static_cast<std::ptrdiff_t>(i)),
                      std::make_move_iterator(bursts.begin() + static_cast<std::ptrdiff_t>(end)));
      out.push_back(ostrel_core::proto::encode(m));
    }
    for (auto& badge : hub_->take_badges(id)) out.push_back(ostrel_core::proto::encode(sm::ShowBadge{badge}));
    for (const Frame& f : out) {
      if (auto r = co_await send(f); !r) co_return r;
    }
    co_return Result{};
  }

  // Released in reverse order of declaration: the replies, transfers, ticker, streamer,
  // receivers, slot, session, channel, stream and last the connection.
  quic::Connection conn_;
  quic::Stream stream_;
  std::shared_ptr<Shared> hub_;
  std::shared_ptr<reader::Channel<ClientMessage>> channel_;
  std::shared_ptr<Inbox> inbox_;  // shared with the task that fills it
  session::Session session_;
  // Handed to the session for the messages that never reach the registry or the allowlist.
  ostrel_core::session::registry::IdentityRegistry no_identities_;
  ostrel_core::identity::Allowlist no_allowlist_;
  const ostrel_core::identity::SelfSovereign provider_;
  std::optional<PlayerSlot> slot_;
  broadcast::Receiver<SharedBroadcast> broadcasts_;
  broadcast::Receiver<SharedKick> kicks_;
  std::optional<Streamer> streamer_;
  std::pair<std::uint8_t, std::uint8_t> view_{0, 0};  // the view distances last asked for
  asio::steady_timer ticker_;
  std::chrono::steady_clock::time_point next_tick_ = std::chrono::steady_clock::now() + kTickPeriod;
  content::Transfers transfers_;
  std::vector<Pending> pending_;
  std::vector<Frame> out_;      // encoded, not yet written
  std::uint64_t sky_seen_ = 0;  // the sky revision as of the join or the last sky table sent
  bool joined_now_ = false;
  std::minstd_rand rng_;  // which source is polled first
};

}  // namespace

asio::awaitable<std::expected<void, frame::FrameError>> serve(quic::Connection conn,
                                                              std::shared_ptr<Shared> hub) {
  auto stream = co_await accept_stream(conn);
  if (!stream) co_return std::unexpected(std::move(stream.error()));
  const auto ex = co_await asio::this_coro::executor;
  Task task(std::move(conn), std::move(*stream), std::move(hub), ex);
  co_return co_await task.run();
}

Handler serving(std::shared_ptr<Shared> hub) {
  return [hub = std::move(hub)](quic::Connection conn) { return serve(std::move(conn), hub); };
}

}  // namespace ostrel_server::transport::endpoint
