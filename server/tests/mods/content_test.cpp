#include "mods/content.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <zstd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// The core module of the same file name: the content index.
#include "modload/content.hpp"

namespace ostrel_server::content {
namespace {

namespace fs = std::filesystem;
using ostrel_core::content::ContentIndex;
using ostrel_core::content::hash_bytes;
using ostrel_core::proto::server::ContentSlice;

class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "ostrel-transfers-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

void write(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

// Bytes that compress somewhat but not to nothing.
std::string noise(std::size_t n, std::uint32_t seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = static_cast<char>((seed >> 16) % 7 + 'a');
  }
  return s;
}

Hash hash_of(const std::string& bytes) {
  return hash_bytes({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

// An index of one mod holding `files` (name, bytes).
ContentIndex index_of(const Scratch& dir, const std::vector<std::pair<std::string, std::string>>& files) {
  for (const auto& [name, bytes] : files) write(dir / "m" / name, bytes);
  ContentIndex index;
  auto r = index.add_mod_with("m", dir / "m", {});
  EXPECT_TRUE(r.has_value());
  return index;
}

std::string decompress(const std::vector<std::uint8_t>& frame) {
  const auto size = ZSTD_getFrameContentSize(frame.data(), frame.size());
  EXPECT_NE(size, ZSTD_CONTENTSIZE_ERROR);
  EXPECT_NE(size, ZSTD_CONTENTSIZE_UNKNOWN);
  std::string out(size, '\0');
  const auto n = ZSTD_decompress(out.data(), out.size(), frame.data(), frame.size());
  EXPECT_FALSE(ZSTD_isError(n));
  out.resize(ZSTD_isError(n) ? 0 : n);
  return out;
}

// Every slice until the queue is empty or the budget stops it.
std::vector<ContentSlice> drain(Transfers& t, const ContentIndex& index) {
  std::vector<ContentSlice> all;
  for (;;) {
    auto got = t.next_slices(index);
    EXPECT_LE(got.size(), kSlicesPerCall);
    if (got.empty()) return all;
    for (auto& s : got) all.push_back(std::move(s));
  }
}

TEST(Transfers, SliceCountFollowsTheSliceSize) {
  struct Case {
    std::size_t size;
    std::vector<std::uint64_t> offsets;
  };
  const Case kCases[] = {
      {0, {0}},
      {1, {0}},
      {196'608, {0}},
      {196'609, {0, 196'608}},
      {3 * 196'608 + 5, {0, 196'608, 393'216, 589'824}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.size);
    Scratch dir;
    const std::string file = noise(c.size, 1);
    auto index = index_of(dir, {{"f.png", file}});
    Transfers t;
    const Hash h = hash_of(file);
    ASSERT_EQ(t.request(std::span(&h, 1), index), 1u);
    auto slices = drain(t, index);
    ASSERT_EQ(slices.size(), c.offsets.size());
    std::string joined;
    for (std::size_t i = 0; i < slices.size(); ++i) {
      EXPECT_EQ(slices[i].hash, h);
      EXPECT_EQ(slices[i].offset, c.offsets[i]);
      EXPECT_EQ(slices[i].total, c.size);
      std::string part = decompress(slices[i].data);
      EXPECT_EQ(part.size(), std::min<std::size_t>(kSliceBytes, c.size - c.offsets[i]));
      joined += part;
    }
    EXPECT_EQ(joined, file);
    EXPECT_EQ(t.sent(), c.size);
    EXPECT_EQ(t.queued(), 0u);
  }
}

TEST(Transfers, EachSliceDecompressesAloneWithTheZstdProgram) {
  Scratch dir;
  const std::string big = noise(450'000, 2);
  auto index = index_of(dir, {{"big.png", big}, {"empty.png", ""}});
  const Hash hashes[] = {hash_of(big), hash_of("")};
  Transfers t;
  ASSERT_EQ(t.request(hashes, index), 2u);
  auto slices = drain(t, index);
  ASSERT_EQ(slices.size(), 4u);  // three of the big file, one of the empty one
  for (std::size_t i = 0; i < slices.size(); ++i) {
    SCOPED_TRACE(i);
    const fs::path in = dir / fmt::format("slice{}.zst", i);
    const fs::path out = dir / fmt::format("slice{}.out", i);
    write(in, std::string(slices[i].data.begin(), slices[i].data.end()));
    const std::string cmd = fmt::format("zstd -q -d -c '{}' > '{}'", in.string(), out.string());
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream f(out, std::ios::binary);
    std::string got((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const std::string& file = slices[i].hash == hashes[0] ? big : std::string();
    EXPECT_EQ(got, file.substr(slices[i].offset, kSliceBytes));
  }
  EXPECT_EQ(slices[3].hash, hashes[1]);
  EXPECT_EQ(slices[3].total, 0u);
}

TEST(Transfers, RequestsQueueEachKnownHashOnce) {
  Scratch dir;
  auto index = index_of(dir, {{"a.png", "aaa"}, {"b.png", "bbb"}});
  const Hash a = hash_of("aaa"), b = hash_of("bbb"), unknown = hash_of("not offered");
  Transfers t;
  const Hash first[] = {a, a, unknown};
  EXPECT_EQ(t.request(first, index), 1u);
  EXPECT_EQ(t.queued(), 1u);
  auto sent = drain(t, index);
  ASSERT_EQ(sent.size(), 1u);

  // Sent already: asking again queues nothing; a new file still comes.
  const Hash second[] = {a, b, b};
  EXPECT_EQ(t.request(second, index), 1u);
  sent = drain(t, index);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].hash, b);

  const Hash only_unknown[] = {unknown};
  EXPECT_EQ(t.request(only_unknown, index), 0u);
  EXPECT_TRUE(t.next_slices(index).empty());
}

TEST(Transfers, OneCallSendsTwoSmallFilesInQueueOrder) {
  Scratch dir;
  auto index = index_of(dir, {{"a.png", "first"}, {"b.png", "second"}, {"c.png", "third"}});
  const Hash order[] = {hash_of("second"), hash_of("first"), hash_of("third")};
  Transfers t;
  ASSERT_EQ(t.request(order, index), 3u);
  auto got = t.next_slices(index);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(decompress(got[0].data), "second");
  EXPECT_EQ(decompress(got[1].data), "first");
  got = t.next_slices(index);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(decompress(got[0].data), "third");
}

TEST(Transfers, AnIndexWithoutFilesEmptiesTheQueue) {
  Scratch dir;
  auto full = index_of(dir, {{"a.png", "aaa"}});
  ContentIndex empty;
  const Hash a = hash_of("aaa");
  Transfers t;
  ASSERT_EQ(t.request(std::span(&a, 1), full), 1u);
  EXPECT_TRUE(t.next_slices(empty).empty());
  EXPECT_EQ(t.queued(), 0u);
}

TEST(Transfers, NothingMoreIsSentPastTheConnectionBudget) {
  Scratch dir;
  // 32 distinct files of the per-file limit (512 MiB) in four mods of 128 MiB, after a small
  // file, so the budget runs out inside the last big file.
  ContentIndex index;
  std::vector<Hash> order;
  const std::string small = noise(100'000, 3);
  write(dir / "small" / "small.png", small);
  write(dir / "small" / "late.png", "late");
  ASSERT_TRUE(index.add_mod_with("small", dir / "small", {}).has_value());
  order.push_back(hash_of(small));
  for (int m = 0; m < 4; ++m) {
    const fs::path mod = dir / fmt::format("big{}", m);
    for (int f = 0; f < 8; ++f) {
      const fs::path p = mod / fmt::format("f{}.png", f);
      write(p, std::string(1, static_cast<char>(m * 8 + f)));  // distinct first byte, then zeros
      fs::resize_file(p, ostrel_core::content::kMaxFileBytes);
    }
    ASSERT_TRUE(index.add_mod_with(fmt::format("big{}", m), mod, {}).has_value());
  }
  for (const auto& [hash, item] : index.files())
    if (item.bytes.size() == ostrel_core::content::kMaxFileBytes) order.push_back(hash);
  order.push_back(hash_of("late"));
  ASSERT_EQ(order.size(), 34u);

  Transfers t;
  ASSERT_EQ(t.request(order, index), 34u);
  auto slices = drain(t, index);
  EXPECT_GE(t.sent(), kConnectionBudget);
  EXPECT_LT(t.sent(), kConnectionBudget + kSliceBytes);
  EXPECT_EQ(t.sent(), 100'000u + 31u * 16'777'216u + 85u * kSliceBytes);
  EXPECT_EQ(slices.back().hash, order[32]);  // stopped inside the last big file
  EXPECT_EQ(t.queued(), 2u);                 // it and the late file stay queued
  EXPECT_TRUE(t.next_slices(index).empty());
  const Hash fresh = hash_of("late");
  EXPECT_EQ(t.request(std::span(&fresh, 1), index), 0u);
  EXPECT_TRUE(t.next_slices(index).empty());
}

}  // namespace
}  // namespace ostrel_server::content
