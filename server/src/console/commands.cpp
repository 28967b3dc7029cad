#include "console/commands.hpp"

#include <chrono>
#include <span>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "base/log.hpp"
#include "base/text.hpp"
#include "console/line.hpp"
#include "console/rcon.hpp"
#include "hub/hub.hpp"
#include "identity/identity.hpp"
#include "sync/await.hpp"

namespace ostrel_server::rcon {

namespace log = ostrel_core::log;
using ostrel_core::identity::PlayerUuid;
using Words = std::span<const std::string_view>;
using Answer = std::expected<Reply, std::string>;

namespace {

constexpr std::string_view kBadUuid = "that is not a valid 64-character UUID";
constexpr std::string_view kUnavailable = "the allowlist is unavailable";

std::unexpected<std::string> fail(std::string text) { return std::unexpected(std::move(text)); }

Answer status(const RconContext& ctx) {
  auto& hub = *ctx.hub;
  const auto& control = *hub.control();
  const auto players = hub.online_players();
  std::string text = fmt::format("tick {} | players {}/{} | dropped {} | slowest tick {}us", control.ticks(),
                                 players.size(), hub.max_players(), control.dropped(), control.slowest_tick_us());
  for (const auto& [id, name] : players) text += fmt::format("\n  {} ({})", name, id.short_form());
  return Reply::ok(std::move(text));
}

Answer stop(const RconContext& ctx) {
  OSTREL_INFO(kTarget, "stop requested over RCON");
  ctx.hub->control()->request_stop();
  if (ctx.on_stop) ctx.on_stop();
  return Reply{"ok: stopping", true};
}

Answer mods(const RconContext& ctx) {
  if (ctx.mods.empty()) return Reply::ok("no mods loaded");
  std::string text;
  for (const auto& m : ctx.mods) {
    if (!text.empty()) text += '\n';
    text += fmt::format("{} {}", m.id, m.version);
  }
  while (!text.empty() && ostrel_core::text::is_ascii_space(text.back())) text.pop_back();
  return Reply::ok(std::move(text));
}

asio::awaitable<Answer> kick(const RconContext& ctx, Words args) {
  if (args.empty()) co_return fail("usage: kick <name> [reason]");
  const std::string name(args[0]);
  const std::string reason =
      args.size() == 1 ? std::string("kicked by an operator") : fmt::format("{}", fmt::join(args.subspan(1), " "));
  std::optional<PlayerUuid> player;
  {
    auto registry = co_await sync::lock(ctx.hub->identities());
    if (auto it = registry->names().find(name); it != registry->names().end()) player = it->second;
  }
  if (!player) co_return fail(fmt::format("no player named `{}`", name));
  auto& hub = *ctx.hub;
  // A kick for a player with no connection would disconnect nobody; say so instead of "ok".
  if (!hub.is_online(*player)) {
    if (hub.online_players().empty()) co_return fail("nobody is connected to kick");
    co_return fail(fmt::format("`{}` is not online", name));
  }
  if (!hub.kick(*player, reason)) co_return fail("nobody is connected to kick");
  OSTREL_INFO(kTarget, "kicked over RCON", log::text("player", name), log::text("reason", reason));
  co_return Reply::ok(fmt::format("ok: kicked {}", name));
}

asio::awaitable<Answer> rename(const RconContext& ctx, Words args) {
  if (args.size() != 2) co_return fail("usage: rename <name> <new-name>");
  const std::string from(args[0]);
  const std::string to(args[1]);
  auto registry = co_await sync::lock(ctx.hub->identities());
  const auto& names = registry->names();
  const auto holder = names.find(from);
  if (holder == names.end()) co_return fail(fmt::format("no player named `{}`", from));
  const PlayerUuid player = holder->second;
  if (auto taken = names.find(to); taken != names.end() && taken->second != player) {
    co_return fail(fmt::format("`{}` is already held by someone else", to));
  }
  if (auto bound = registry->bind_name(to, player); !bound) co_return fail(bound.error().message());
  OSTREL_INFO(kTarget, "renamed over RCON", log::text("from", from), log::text("to", to));
  co_return Reply::ok(fmt::format("ok: {} is now {}", from, to));
}

std::uint64_t unix_seconds() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  const auto secs = std::chrono::duration_cast<std::chrono::seconds>(since).count();
  return secs < 0 ? 0 : static_cast<std::uint64_t>(secs);
}

asio::awaitable<Answer> rebind(const RconContext& ctx, Words args) {
  if (args.size() != 2) co_return fail("usage: rebind <uuid-hex> <new-root-pubkey-hex>");
  const auto player = PlayerUuid::from_hex(args[0]);
  if (!player) co_return fail(std::string(kBadUuid));
  const auto bytes = ostrel_core::text::bytes_from_hex(args[1]);
  if (!bytes) co_return fail("that is not a valid 64-character public key");
  const auto key = ostrel_core::identity::public_key_from_bytes(*bytes);
  if (!key) co_return fail("that is not a usable Ed25519 public key");
  {
    auto registry = co_await sync::lock(ctx.hub->identities());
    if (auto done = registry->admin_rebind(*player, *key, unix_seconds()); !done) {
      co_return fail(done.error().message());
    }
  }
  OSTREL_WARN(kTarget, "ADMIN REBIND: an identity's root key was replaced over RCON",
              log::value("uuid", player->to_hex()), log::text("new_root_key", args[1]));
  co_return Reply::ok(fmt::format("ok: {} rebound to {}", player->short_form(), args[1]));
}

Answer allowlist_list(const RconContext& ctx) {
  auto list = ctx.hub->allowlist().read();
  if (!list) return fail(std::string(kUnavailable));
  if (!(*list)->enforced) return Reply::ok("allowlist: open (everyone may join)");
  std::string text = fmt::format("allowlist: enforced, {} permitted", (*list)->permitted.size());
  if ((*list)->permitted.empty()) text += " (nobody may join)";
  for (const auto& id : (*list)->permitted) text += fmt::format("\n  {}", id.to_hex());
  return Reply::ok(std::move(text));
}

Answer allowlist(const RconContext& ctx, Words args) {
  const std::string_view action = args.empty() ? "list" : args[0];
  if (action == "list") return allowlist_list(ctx);
  if (action == "on" || action == "off") {
    const bool enforced = action == "on";
    {
      auto list = ctx.hub->allowlist().write();
      if (!list) return fail(std::string(kUnavailable));
      (*list)->enforced = enforced;
    }
    OSTREL_INFO(kTarget, "allowlist enforcement changed over RCON", log::value("enforced", enforced));
    return Reply::ok(fmt::format("ok: allowlist {}", action));
  }
  if (action == "add" || action == "remove") {
    if (args.size() < 2) return fail(fmt::format("usage: allowlist {} <uuid-hex>", action));
    const auto player = PlayerUuid::from_hex(args[1]);
    if (!player) return fail(std::string(kBadUuid));
    {
      auto list = ctx.hub->allowlist().write();
      if (!list) return fail(std::string(kUnavailable));
      if (action == "add") {
        (*list)->permitted.insert(*player);
      } else {
        (*list)->revoke(*player);
      }
    }
    OSTREL_INFO(kTarget, "allowlist changed over RCON", log::value("uuid", player->to_hex()),
                log::text("action", action));
    return Reply::ok(fmt::format("ok: {} {}", action, player->short_form()));
  }
  return fail(fmt::format("unknown allowlist action `{}`; try list, on, off, add, or remove", action));
}

}  // namespace

asio::awaitable<std::expected<Reply, std::string>> execute(std::string_view line, const RconContext& ctx) {
  const auto words = split_words(line);
  if (words.empty()) co_return fail("unknown command ``; try `help`");
  const std::string_view command = words[0];
  const Words args = Words(words).subspan(1);
  if (command == "help") co_return Reply::ok(std::string(kHelp));
  if (command == "status") co_return status(ctx);
  if (command == "save") {
    ctx.hub->control()->request_save();
    co_return Reply::ok("ok: save requested");
  }
  if (command == "stop") co_return stop(ctx);
  if (command == "mods") co_return mods(ctx);
  if (command == "kick") co_return co_await kick(ctx, args);
  if (command == "rename") co_return co_await rename(ctx, args);
  if (command == "rebind") co_return co_await rebind(ctx, args);
  if (command == "allowlist") co_return allowlist(ctx, args);
  if (command == "quit" || command == "exit") co_return Reply{"bye", true};
  co_return fail(fmt::format("unknown command `{}`; try `help`", command));
}

}  // namespace ostrel_server::rcon
