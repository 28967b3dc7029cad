#include "persist/records/versioned.hpp"

#include <fmt/format.h>

namespace ostrel_core::persist::versioned {

std::string MigrationError::message() const {
  const bool no_step = kind == MigrationErrorKind::NoStep;
  switch (record) {
    case Record::Chunk:
      return no_step ? fmt::format("no upgrade step from chunk format version {}", version)
                     : fmt::format("format version {} payload is malformed", version);
    case Record::Entity:
      return no_step ? fmt::format("no migration step from format version {}", version)
                     : fmt::format("a blob does not decode as format version {}", version);
    case Record::Player:
      return no_step ? fmt::format("player data is version {}; this build writes {}", version, current)
                     : fmt::format("player data version {} did not decode", version);
    case Record::Container:
      return no_step ? fmt::format("container data is version {}; this build writes {}", version, current)
                     : fmt::format("container data version {} did not decode", version);
  }
  return "record migration failed";
}

std::string MigrationError::debug() const {
  if (kind == MigrationErrorKind::NoStep)
    return fmt::format("MigrationError::NoStep {{ from: {} }}", version);
  return fmt::format("MigrationError::Decode {{ version: {}, source: \"{}\" }}", version,
                     cause ? cause->message() : std::string());
}

}  // namespace ostrel_core::persist::versioned
