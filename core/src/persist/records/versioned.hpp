#pragma once
// Versioned stored records: the one migration error and the one upgrade ladder shared by the
// chunk payload, the entity record, the player record and the container record.
//
// A ladder is a table of rungs, one per stored version its record can read; each rung reads
// the bytes of its version's layout and upgrades them to the current form. A version without a
// rung is refused with NoStep, a rung whose reader refuses the bytes with Decode.
//
// Example: the player ladder has rungs 1, 2 and 3 (current 3); climbing version 4 answers
// "player data is version 4; this build writes 3".

#include <cstdint>
#include <expected>
#include <span>
#include <string>

#include "base/error.hpp"

namespace ostrel_core::persist::versioned {

// Which record a ladder reads; it chooses the wording of the error.
enum class Record : std::uint8_t { Chunk, Entity, Player, Container };

enum class MigrationErrorKind : std::uint8_t {
  NoStep,  // no rung for this version (too old, or newer than this build): version
  Decode,  // the bytes are not a record of that version; source: why, when the reader says
};

struct MigrationError {
  Record record = Record::Chunk;
  MigrationErrorKind kind = MigrationErrorKind::NoStep;
  std::uint8_t version = 0;  // the stored version
  std::uint8_t current = 0;  // the version this build writes
  SourcePtr cause;           // Decode, when the reader gave a reason

  std::string message() const;
  const ErrorSource* source() const { return cause.get(); }
  // "MigrationError::NoStep { from: 5 }".
  std::string debug() const;
};

template <class T>
struct Rung {
  std::uint8_t version;
  // The bytes read in this version's layout and upgraded; the error is the reason (may be null).
  std::expected<T, SourcePtr> (*read)(std::span<const std::uint8_t> bytes);
};

template <class T>
struct Ladder {
  Record record;
  std::uint8_t current;  // the version this build writes
  std::span<const Rung<T>> rungs;
};

template <class T>
std::expected<T, MigrationError> climb(const Ladder<T>& ladder, std::uint8_t version,
                                       std::span<const std::uint8_t> bytes) {
  for (const Rung<T>& rung : ladder.rungs) {
    if (rung.version != version) continue;
    auto got = rung.read(bytes);
    if (got) return std::move(*got);
    return std::unexpected(MigrationError{ladder.record, MigrationErrorKind::Decode, version, ladder.current,
                                          std::move(got.error())});
  }
  return std::unexpected(
      MigrationError{ladder.record, MigrationErrorKind::NoStep, version, ladder.current, nullptr});
}

}  // namespace ostrel_core::persist::versioned
