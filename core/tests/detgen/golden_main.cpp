// The golden check of the generation math, built alone by each compiler at each optimisation
// level (scripts/detgen_golden.sh): the noise must equal the independent reference bit for bit,
// the battery's digest and the chunk buffer recipe's digests must equal the committed ones, and
// the star catalog its goldens.

#include <cstdio>
#include <cstring>
#include <iterator>

#include "detgen/buffer/golden_buffer.hpp"
#include "detgen/golden_battery.hpp"
#include "detgen/reference_check.hpp"
#include "presentation/star_goldens.hpp"

// With --dump, writes each section's bytes to golden-<section>.bin in the working directory, to
// find where two builds part.
int main(int argc, char** argv) {
  using namespace ostrel_core::detgen;
  if (argc > 1 && std::strcmp(argv[1], "--dump") == 0) {
    for (const auto& section : golden::kSections) {
      const auto bytes = golden::section_bytes(section);
      const std::string path = std::string("golden-") + section.name + ".bin";
      if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
      }
      std::printf("%s %s\n", section.name,
                  ostrel_core::text::hex_bytes(ostrel_core::blake3::hash(bytes)).c_str());
    }
    return 0;
  }
  int failures = 0;
  for (const auto& line : test_reference::reference_mismatches()) {
    std::printf("reference: %s\n", line.c_str());
    ++failures;
  }
  const std::string digest = golden::digest_hex();
  if (digest != golden::kDigest) {
    std::printf("battery digest %s, committed %s\n", digest.c_str(), golden::kDigest);
    ++failures;
  }
  for (std::size_t i = 0; i < std::size(buffer::golden::kSeeds); ++i) {
    const auto d = buffer::golden::digest(buffer::golden::kSeeds[i]);
    if (d.hex != buffer::golden::kDigests[i]) {
      std::printf("buffer recipe digest for seed %llu %s, committed %s\n",
                  static_cast<unsigned long long>(buffer::golden::kSeeds[i]), d.hex.c_str(),
                  buffer::golden::kDigests[i]);
      ++failures;
    }
  }
  for (const auto& line : ostrel_core::sky::golden::mismatches()) {
    std::printf("stars: %s\n", line.c_str());
    ++failures;
  }
  if (failures == 0) std::printf("detgen golden: ok %s\n", digest.c_str());
  return failures == 0 ? 0 : 1;
}
