#include "transport/frame.hpp"

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include "proto/codec.hpp"
#include "proto/server.hpp"
#include "support/heap.hpp"
#include "support/hex.hpp"
#include "support/memory_stream.hpp"
#include "support/run.hpp"

namespace ostrel_server::transport::frame {
namespace {

using ostrel_core::test::from_hex;
using ostrel_core::test::to_hex;
using test::heap_in_use;
using test::MemoryStream;
using test::run_sync;

struct Note {
  std::uint32_t id = 0;
  std::string text;
  static constexpr auto fields() { return std::tuple{&Note::id, &Note::text}; }
  friend bool operator==(const Note&, const Note&) = default;
};

using Blob = std::vector<std::uint8_t>;  // encodes as a count varint and the bytes

// Encodes any record and writes it as one frame.
template <class Msg>
asio::awaitable<std::expected<void, FrameError>> write_record(MemoryStream& stream, const Msg& message) {
  const std::vector<std::uint8_t> payload = ostrel_core::proto::encode(message);
  co_return co_await write_encoded(stream, payload);
}

// A byte string whose encoding is exactly `total` bytes (a 3-byte count for these sizes).
Blob blob_encoding_to(std::size_t total) { return Blob(total - 3, 0xab); }

TEST(FrameWrite, WritesHeaderThenPayload) {
  asio::io_context io;
  MemoryStream s(io.get_executor());
  s.set_max_write(1);  // every partial write is continued
  auto r = run_sync(io, write_record(s, Note{7, "hi"}));
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(to_hex(s.written()), "00 00 00 04 07 02 68 69");
}

TEST(FrameWrite, RefusesOversizeMessagesWithoutWriting) {
  struct Case { const char* name; std::size_t encoded; bool sent; };
  const Case cases[] = {{"at_limit", kMaxPayloadBytes, true}, {"one_over", kMaxPayloadBytes + 1, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    asio::io_context io;
    MemoryStream s(io.get_executor());
    auto r = run_sync(io, write_record(s, blob_encoding_to(c.encoded)));
    if (c.sent) {
      ASSERT_TRUE(r.has_value());
      EXPECT_EQ(s.written().size(), kHeaderBytes + c.encoded);
      EXPECT_EQ(to_hex({s.written().begin(), s.written().begin() + 4}), "00 10 00 00");
    } else {
      ASSERT_FALSE(r.has_value());
      EXPECT_EQ(r.error().kind(), FrameErrorKind::Protocol);
      EXPECT_EQ(r.error().message(), "message is 1048577 bytes, over the 1048576-byte limit");
      EXPECT_TRUE(s.written().empty());
    }
  }
}

TEST(FrameWrite, WritesServerFramesAsEncodedAndRefusesOversizeOnes) {
  namespace proto = ostrel_core::proto;
  asio::io_context io;
  MemoryStream s(io.get_executor());
  auto r = run_sync(io, write(s, proto::encode(proto::server::ChatLine{std::nullopt, "hi"})));
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(to_hex(s.written()), "00 00 00 05 09 00 02 68 69");

  // ChunkData: index, pos (3 bytes), count varint (3 bytes), data, tint (3), fog (1).
  proto::server::ChunkData over{{0, 0, 0}, std::vector<std::uint8_t>(kMaxPayloadBytes - 10), {}, {}};
  MemoryStream refused(io.get_executor());
  r = run_sync(io, write(refused, proto::encode(over)));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message(), "message is 1048577 bytes, over the 1048576-byte limit");
  EXPECT_TRUE(refused.written().empty());
}

TEST(FrameWrite, StreamTakingNothingIsWriteZero) {
  asio::io_context io;
  MemoryStream s(io.get_executor());
  s.set_write_budget(6);  // the header and two payload bytes fit
  auto r = run_sync(io, write_record(s, Note{7, "hi"}));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), FrameErrorKind::Stream);
  EXPECT_EQ(ostrel_core::report(r.error()), "connection stream failed\n  caused by: write zero");
  EXPECT_EQ(r.error().io().code(), make_error_code(StreamErrc::WriteZero));
}

struct BadFrame {
  const char* name;
  const char* hex;          // the whole stream, which then ends
  FrameErrorKind kind;
  const char* report;       // message and sources
  std::size_t consumed;     // bytes read before the error
};

const BadFrame kBadFrames[] = {
    {"declared_empty", "00 00 00 00 07 02 68 69", FrameErrorKind::DeclaredEmpty, "peer declared an empty message", 4},
    {"declared_too_large", "00 10 00 01 07 02 68 69", FrameErrorKind::DeclaredTooLarge,
     "peer declared a 1048577-byte message, over the 1048576-byte limit", 4},
    {"declared_max_u32", "ff ff ff ff 00", FrameErrorKind::DeclaredTooLarge,
     "peer declared a 4294967295-byte message, over the 1048576-byte limit", 4},
    {"eof_in_header", "00 00", FrameErrorKind::Stream, "connection stream failed\n  caused by: early eof", 2},
    {"eof_before_header", "", FrameErrorKind::Stream, "connection stream failed\n  caused by: early eof", 0},
    {"eof_in_payload", "00 00 00 04 07 02", FrameErrorKind::Stream, "connection stream failed\n  caused by: early eof",
     6},
    {"trailing_bytes", "00 00 00 07 07 02 68 69 01 02 03", FrameErrorKind::Protocol,
     "message decoded with 3 trailing bytes", 11},
    {"malformed_utf8", "00 00 00 04 07 02 ff fe", FrameErrorKind::Protocol, "malformed message", 8},
    {"malformed_short", "00 00 00 02 07 05", FrameErrorKind::Protocol, "malformed message", 6},
};

TEST(FrameRead, RefusesBadFrames) {
  for (const auto& c : kBadFrames) {
    SCOPED_TRACE(c.name);
    asio::io_context io;
    MemoryStream s(io.get_executor());
    s.push(from_hex(c.hex));
    s.finish();
    auto r = run_sync(io, read<Note>(s));
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind(), c.kind);
    EXPECT_EQ(ostrel_core::report(r.error()), c.report);
    EXPECT_EQ(s.consumed(), c.consumed);
    EXPECT_EQ(r.error().is_early_eof(), c.kind == FrameErrorKind::Stream);
  }
}

TEST(FrameRead, StreamErrorIsPassedOn) {
  asio::io_context io;
  MemoryStream s(io.get_executor());
  s.push(from_hex("00 00 00 04 07"));
  s.fail(ostrel_core::IoError("stream reset by peer", make_error_code(StreamErrc::Reset)));
  auto r = run_sync(io, read<Note>(s));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(ostrel_core::report(r.error()), "connection stream failed\n  caused by: stream reset by peer");
  EXPECT_FALSE(r.error().is_early_eof());
}

TEST(FrameRead, ReadsFramesSplitAnywhere) {
  // The same stream read in pieces of every size from 1 to 9 bytes gives the same messages.
  const std::vector<Note> notes = {{1, "a"}, {300, ""}, {0xffffffff, std::string(200, 'x')}};
  for (std::size_t piece = 1; piece <= 9; ++piece) {
    SCOPED_TRACE(piece);
    asio::io_context io;
    MemoryStream out(io.get_executor());
    for (const auto& n : notes) ASSERT_TRUE(run_sync(io, write_record(out, n)).has_value());
    MemoryStream in(io.get_executor());
    in.push(out.written());
    in.finish();
    in.set_max_read(piece);
    for (const auto& n : notes) {
      auto r = run_sync(io, read<Note>(in));
      ASSERT_TRUE(r.has_value()) << r.error().message();
      EXPECT_EQ(*r, n);
    }
    auto end = run_sync(io, read<Note>(in));
    ASSERT_FALSE(end.has_value());
    EXPECT_TRUE(end.error().is_early_eof());
  }
}

TEST(FrameRead, AcceptsPayloadAtTheLimit) {
  asio::io_context io;
  MemoryStream s(io.get_executor());
  Blob big = blob_encoding_to(kMaxPayloadBytes);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(run_sync(io, write_record(s, big)).has_value());
  MemoryStream in(io.get_executor());
  in.push(s.written());
  in.finish();
  auto r = run_sync(io, read<Blob>(in));
  ASSERT_TRUE(r.has_value()) << r.error().message();
  EXPECT_EQ(*r, big);
  EXPECT_EQ(in.consumed(), kHeaderBytes + kMaxPayloadBytes);
}


TEST(FrameRead, BufferGrowsInBoundedSteps) {
  struct Case { const char* name; std::size_t declared, held, want; };
  constexpr std::size_t kMiB = 1 << 20;
  const Case cases[] = {
      {"small_frame_at_once", 30, 0, 30},
      {"first_step", kMiB, 0, 1024},
      {"doubling", kMiB, 1024, 2048},
      {"doubling_up_to_the_step", kMiB, 32 * 1024, 64 * 1024},
      {"then_by_the_step", kMiB, 64 * 1024, 128 * 1024},
      {"step_never_more", kMiB, 512 * 1024, 576 * 1024},
      {"never_past_declared", kMiB, kMiB - 100, kMiB},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(grown_size(c.declared, c.held), c.want);
  }
}

// Reads that have the header of a 1 MiB frame and nothing more hold the first step of their
// buffer, not the declared length; further bytes grow it step by step; the whole frame still
// arrives byte for byte.
TEST(FrameRead, PayloadBufferGrowsOnlyAsBytesArrive) {
  constexpr int kReads = 200;
  asio::io_context io;
  std::vector<MemoryStream> streams;
  for (int i = 0; i < kReads; ++i) streams.emplace_back(io.get_executor());
  std::vector<std::vector<std::uint8_t>> got(kReads);
  for (int i = 0; i < kReads; ++i) {
    asio::co_spawn(
        io,
        [&, i]() -> asio::awaitable<void> {
          auto r = co_await read_payload(streams[i]);
          if (r) got[i] = std::move(*r);
        },
        asio::detached);
  }
  io.poll();
  // Signed per-read differences: a heap that shrank shows as a negative count, never as a
  // wrapped one.
  const auto waiting = static_cast<std::ptrdiff_t>(heap_in_use());  // every read waits for its header
  const auto held_since = [&] { return (static_cast<std::ptrdiff_t>(heap_in_use()) - waiting) / kReads; };
  for (auto& s : streams) s.push(from_hex("00 10 00 00"));
  io.poll();
  const std::ptrdiff_t header_only = held_since();
  EXPECT_LT(header_only, 2048) << "each read holds " << header_only << " bytes more after its header";
  const std::vector<std::uint8_t> few(1500, 0x5a);
  for (auto& s : streams) s.push(few);
  io.poll();
  // The buffer goes from the first step, 1 KiB, to 2 KiB; the stream holds its own copy of the
  // pushed bytes besides.
  const std::ptrdiff_t grown = held_since() - header_only - std::ssize(few);
  EXPECT_GE(grown, 1024);
  EXPECT_LT(grown, 1024 + 256);

  std::vector<std::uint8_t> rest((1 << 20) - few.size());
  for (std::size_t i = 0; i < rest.size(); ++i) rest[i] = static_cast<std::uint8_t>(i * 13);
  // Two frames are completed in odd-sized pieces; the others end early.
  for (int i = 0; i < kReads; ++i) {
    if (i < 2) {
      streams[i].set_max_read(70000);
      streams[i].push(rest);
    }
    streams[i].finish();
  }
  io.run();
  std::vector<std::uint8_t> want(few);
  want.insert(want.end(), rest.begin(), rest.end());
  for (int i = 0; i < kReads; ++i) ASSERT_EQ(got[i], i < 2 ? want : std::vector<std::uint8_t>{}) << i;
}

}  // namespace
}  // namespace ostrel_server::transport::frame
