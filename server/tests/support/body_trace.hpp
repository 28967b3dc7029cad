#pragma once
// A scripted run of 400 ticks: a player body stepped as the tick steps it, three entities moved
// by the population (one of them ridden through drive), crowd pushes between them all and what a
// viewer is sent, over a floor with a step, a ledge, ice, a pool and a chunk that is not in
// memory. Each tick's state is hashed; then seat offsets, look directions and aim distances
// over sweeps of facings are hashed, one line each. The hashes are checked in, and every build
// of the movement code on every compiler must give them.

#include <string>
#include <vector>

namespace ostrel_server::test {

inline constexpr int kTraceTicks = 400;
inline constexpr int kTraceLines = kTraceTicks + 3;

// One line per tick: the tick number, a blank and the BLAKE3 of that tick's state in hex; then
// "seat", "look" and "aim", each with the BLAKE3 of its sweep.
std::vector<std::string> body_trace();

}  // namespace ostrel_server::test
