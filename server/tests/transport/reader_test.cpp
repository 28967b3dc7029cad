#include "transport/reader.hpp"

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include "proto/client.hpp"
#include "proto/codec.hpp"
#include "support/hex.hpp"
#include "support/memory_stream.hpp"

namespace ostrel_server::transport::reader {
namespace {

using ostrel_core::test::from_hex;
using test::MemoryStream;

using Msg = std::uint32_t;  // one varint per frame
constexpr const char* kFrameHex = "00 00 00 01 2a";  // 42
constexpr std::size_t kFrameBytes = 5;

// Everything a reader task sent, in order, once nothing more can run.
std::vector<Item<Msg>> drain(asio::io_context& io, Channel<Msg>& ch) {
  std::vector<Item<Msg>> got;
  for (;;) {
    io.restart();
    io.poll();
    bool any = ch.try_receive([&](asio::error_code, Item<Msg> item) { got.push_back(std::move(item)); });
    if (!any) break;
  }
  return got;
}

void spawn_reader(asio::io_context& io, const MemoryStream& s, const std::shared_ptr<Channel<Msg>>& ch, bool* done) {
  asio::co_spawn(io, run<Msg>(s, ch), [done](std::exception_ptr e) {
    if (e) std::rethrow_exception(e);
    *done = true;
  });
}

TEST(ReaderTask, FrameThenEndGivesMessageThenOneStreamError) {
  asio::io_context io;
  MemoryStream s(io.get_executor());
  s.push(from_hex(kFrameHex));
  s.finish();
  auto ch = make_channel<Msg>(io.get_executor());
  bool done = false;
  spawn_reader(io, s, ch, &done);
  auto got = drain(io, *ch);
  ASSERT_EQ(got.size(), 2u);
  ASSERT_TRUE(got[0].has_value());
  EXPECT_EQ(*got[0], 42u);
  ASSERT_FALSE(got[1].has_value());
  EXPECT_TRUE(got[1].error().is_early_eof());
  EXPECT_TRUE(done);
}

TEST(ReaderTask, StopsAfterFirstError) {
  // A bad frame followed by a good one: only the error is delivered.
  asio::io_context io;
  MemoryStream s(io.get_executor());
  s.push(from_hex("00 00 00 00"));
  s.push(from_hex(kFrameHex));
  auto ch = make_channel<Msg>(io.get_executor());
  bool done = false;
  spawn_reader(io, s, ch, &done);
  auto got = drain(io, *ch);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].error().kind(), frame::FrameErrorKind::DeclaredEmpty);
  EXPECT_TRUE(done);
  EXPECT_EQ(s.consumed(), 4u);
}

TEST(ReaderTask, StopsReadingWhileChannelIsFull) {
  asio::io_context io;
  MemoryStream s(io.get_executor());
  for (int i = 0; i < 100; ++i) s.push(from_hex(kFrameHex));
  auto ch = make_channel<Msg>(io.get_executor());
  bool done = false;
  spawn_reader(io, s, ch, &done);
  io.poll();
  // 64 items wait in the channel and the 65th is held by the task, which reads no further.
  EXPECT_EQ(s.consumed(), (kChannelCapacity + 1) * kFrameBytes);
  ASSERT_TRUE(ch->try_receive([](asio::error_code, Item<Msg>) {}));
  io.restart();
  io.poll();
  EXPECT_EQ(s.consumed(), (kChannelCapacity + 2) * kFrameBytes);
  auto rest = drain(io, *ch);
  EXPECT_EQ(rest.size(), 99u);
  EXPECT_EQ(s.consumed(), 100 * kFrameBytes);
  EXPECT_FALSE(done);  // waiting for more bytes
}

TEST(ReaderTask, EndsWhenChannelIsClosed) {
  asio::io_context io;
  MemoryStream s(io.get_executor());
  for (int i = 0; i < 70; ++i) s.push(from_hex(kFrameHex));
  auto ch = make_channel<Msg>(io.get_executor());
  bool done = false;
  spawn_reader(io, s, ch, &done);
  io.poll();
  EXPECT_FALSE(done);
  close_channel(*ch);  // the connection task has gone
  io.restart();
  io.poll();
  EXPECT_TRUE(done);
}

TEST(ReaderTask, DestroyedWhileWaitingLeaksNothing) {
  // A task waiting for bytes and one waiting for channel room are both freed with the runtime
  // (the sanitizer build checks for leaks and stale accesses).
  asio::io_context io;
  MemoryStream idle(io.get_executor());
  MemoryStream busy(io.get_executor());
  for (int i = 0; i < 80; ++i) busy.push(from_hex(kFrameHex));
  bool done1 = false, done2 = false;
  spawn_reader(io, idle, make_channel<Msg>(io.get_executor()), &done1);
  spawn_reader(io, busy, make_channel<Msg>(io.get_executor()), &done2);
  io.poll();
  EXPECT_FALSE(done1);
  EXPECT_FALSE(done2);
  EXPECT_EQ(busy.consumed(), (kChannelCapacity + 1) * kFrameBytes);
}

TEST(ReaderTask, DecodesClientMessages) {
  namespace proto = ostrel_core::proto;
  asio::io_context io;
  MemoryStream s(io.get_executor());
  s.push(from_hex("00 00 00 01 03"));           // JoinWorld
  s.push(from_hex("00 00 00 04 06 02 68 69"));  // Chat "hi"
  s.push(from_hex("00 00 00 01 16"));           // variant 22: there is none
  s.push(from_hex("00 00 00 01 03"));           // never read
  auto ch = make_channel<proto::ClientMessage>(io.get_executor());
  asio::co_spawn(io, run<proto::ClientMessage>(s, ch), asio::detached);
  io.poll();
  std::vector<Item<proto::ClientMessage>> got;
  while (ch->try_receive([&](asio::error_code, Item<proto::ClientMessage> item) { got.push_back(std::move(item)); })) {
  }
  ASSERT_EQ(got.size(), 3u);
  ASSERT_TRUE(got[0].has_value());
  EXPECT_TRUE(std::holds_alternative<proto::client::JoinWorld>(*got[0]));
  ASSERT_TRUE(got[1].has_value());
  ASSERT_TRUE(std::holds_alternative<proto::client::Chat>(*got[1]));
  EXPECT_EQ(std::get<proto::client::Chat>(*got[1]).text, "hi");
  ASSERT_FALSE(got[2].has_value());
  EXPECT_EQ(got[2].error().message(), "malformed message");
  EXPECT_EQ(s.consumed(), 5u + 8u + 5u);
}

}  // namespace
}  // namespace ostrel_server::transport::reader
