#pragma once
#include <cstdint>

namespace ostrel_core {

inline constexpr const char* kEngineVersion = "0.4.2";
inline constexpr std::uint32_t kProtocolVersion = 90;

}  // namespace ostrel_core
