#include "transport/endpoint_proto.hpp"

#include <string>
#include <variant>

#include <gtest/gtest.h>

namespace ostrel_server::transport::endpoint {
namespace {

namespace proto = ostrel_core::proto;
using ostrel_core::coords::BlockPos;
using ostrel_core::coords::ChunkPos;
using ostrel_core::coords::SubNodePos;

TEST(FrameErrorReason, EveryFrameErrorIsAProtocolViolationWithItsText) {
  struct Case {
    frame::FrameError error;
    std::string text;
  };
  const Case cases[] = {
      {frame::FrameError::declared_too_large(1048577), "peer declared a 1048577-byte message, over the 1048576-byte limit"},
      {frame::FrameError::declared_empty(), "peer declared an empty message"},
      {frame::FrameError::stream(transport::early_eof()), "connection stream failed"},
      {frame::FrameError::protocol(proto::ProtocolError::trailing_bytes(3)),
       proto::ProtocolError::trailing_bytes(3).message()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(c.error.message(), c.text);
    const proto::DisconnectReason reason = frame_error_reason(c.error);
    const auto* violation = std::get_if<proto::disconnect::ProtocolViolation>(&reason);
    ASSERT_NE(violation, nullptr);
    EXPECT_EQ(violation->text, c.text);
  }
}

TEST(ChunkOf, BlockEditsDivideBy16AndSubNodeEditsBy48RoundingDown) {
  struct Case {
    proto::Edit edit;
    ChunkPos chunk;
  };
  const Case cases[] = {
      {proto::edit::Set{BlockPos{-1, 15, 16}, 1}, ChunkPos{-1, 0, 1}},
      {proto::edit::Partial{BlockPos{-1, 15, 16}, 1, 7}, ChunkPos{-1, 0, 1}},
      {proto::edit::Set{BlockPos{-16, -17, 0}, 0}, ChunkPos{-1, -2, 0}},
      {proto::edit::Cell{SubNodePos{-1, 47, 48}, 1}, ChunkPos{-1, 0, 1}},
      // A sub-node coordinate is not a block coordinate: 47 would be chunk 2 as a block.
      {proto::edit::Cell{SubNodePos{-48, -49, 95}, 1}, ChunkPos{-1, -2, 1}},
      {proto::edit::Set{BlockPos{INT32_MIN, INT32_MAX, 0}, 1}, ChunkPos{INT32_MIN >> 4, INT32_MAX >> 4, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "edit variant " << c.edit.index());
    EXPECT_EQ(chunk_of(c.edit), c.chunk);
  }
}

}  // namespace
}  // namespace ostrel_server::transport::endpoint
