#pragma once
// The chunk blob: the one serialized form of a Chunk, stored in `chunks` and sent to clients
// byte for byte. Material ids inside are world ids; encode and decode translate.
//
// Chunk blob
//   OFFSET  SIZE  DESCRIPTION
//      0      1   format version: 1 is written; 0 and 1 are read; higher is refused
//      1      1   dictionary id: 0 = none, else a dictionary of the world
//      2      *   one zstd frame (level 3); its content, the payload, is at most 4 MiB
//
// Payload, version 1, in the record encoding:
//   palette      varint count, then per slot (free ones too): content, refs (u32)
//                content: 0 Whole {material u16} | 1 Partial {material u16, mask u32}
//                         | 2 Mixed {mixed slot u16}
//   width        u8, bits per packed index
//   words        varint count, then 64 * width u64 varints (the packed indices)
//   mixed cells  varint count, then per mixed slot (freed ones too) 27 u16 material ids
//   mixed free   varint count, then u16 slots, the free stack bottom first
// Version 0 is the same without the mixed free list. A reader refuses a count above what a chunk
// can hold (palette 4096, words 1024, mixed cells and mixed free 65,536) before reserving.
// Example: an all-air chunk's payload is 01 00 00 80 20 00 00 00 00
//   (one entry Whole 0 with 4096 refs, width 0, no words, no mixed cells, no free slots).

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "world/chunk.hpp"
#include "base/error.hpp"
#include "persist/compress.hpp"
#include "persist/idmap.hpp"
#include "proto/protocol_error.hpp"

namespace ostrel_core::persist::codec {

// Blob header: format version (1 byte), dictionary id (1 byte).
inline constexpr std::size_t kBlobHeaderSize = 1 + 1;
inline constexpr std::uint8_t kFormatVersion = 1;
inline constexpr std::size_t kMaxPayloadBytes = 4 * 1024 * 1024;

enum class CodecErrorKind : std::uint8_t {
  Truncated,          // fewer than kBlobHeaderSize bytes: len
  FutureVersion,      // byte 0 above 1, written by a newer engine: found
  MissingDictionary,  // byte 1 names a dictionary the world does not hold: id
  Decompress,         // the frame is damaged or its payload is over 4 MiB; source: why
  Compress,           // the compressor failed; source: why
  Payload,            // the payload is not a version-1 payload; source: the ProtocolError
  Materials,          // an id has no counterpart; source: the IdMapError
  Invalid,            // the parts do not make a chunk; source: the CorruptChunk
  Migration,          // an older payload could not be upgraded: from; source: why
};

struct CodecError {
  CodecErrorKind kind;
  std::size_t len = 0;      // Truncated
  std::uint8_t value = 0;   // FutureVersion: found; MissingDictionary: id; Migration: from
  SourcePtr cause;

  std::string message() const;
  const ErrorSource* source() const { return cause.get(); }
  std::string debug() const;
};

// The blob of `chunk` with world material ids. Every palette material (free entries too) and
// every mixed cell must have a world id.
std::expected<std::vector<std::uint8_t>, CodecError> encode_chunk(const chunk::Chunk& chunk,
                                                                  const idmap::MaterialMap& map,
                                                                  const Dictionary* dict = nullptr);

// The chunk a blob holds, placed at `pos`, with runtime material ids; every invariant is
// checked before it is returned. Memory use is bounded by the 4 MiB payload limit.
std::expected<chunk::Chunk, CodecError> decode_chunk(coords::ChunkPos pos, std::span<const std::uint8_t> blob,
                                                     const idmap::MaterialMap& map,
                                                     std::span<const Dictionary> dictionaries);

// The payload fields of format versions 0 and 1; version 0 has no mixed free list. Bytes after
// the last field are ignored.
std::expected<chunk::ChunkParts, proto::ProtocolError> read_payload(std::span<const std::uint8_t> payload,
                                                                    bool has_mixed_free);
std::vector<std::uint8_t> write_payload(const chunk::ChunkParts& parts);

}  // namespace ostrel_core::persist::codec
