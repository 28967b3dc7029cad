#include "mods/content.hpp"

#include <zstd.h>

#include <algorithm>
#include <limits>
#include <memory>

// The core module of the same file name: the content index.
#include "modload/content.hpp"
#include "base/log.hpp"

namespace ostrel_server::content {

namespace {

constexpr std::string_view kTarget = "ostrel_server::content";

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max()
                                                           : a + b;
}

}  // namespace

// One context for the connection's life: a fresh one per slice would allocate and clear its
// tables every time.
struct Transfers::Compressor {
  ZSTD_CCtx* ctx = ZSTD_createCCtx();
  ~Compressor() { ZSTD_freeCCtx(ctx); }

  // One complete zstd frame of `input`, or the compressor's error text.
  std::expected<std::vector<std::uint8_t>, std::string> frame(std::span<const std::uint8_t> input) {
    if (ctx == nullptr) return std::unexpected(std::string("could not allocate a zstd context"));
    // Uninitialised scratch: zeroing the bound for every slice costs more than compressing.
    const std::size_t bound = ZSTD_compressBound(input.size());
    std::unique_ptr<std::uint8_t[]> scratch(new std::uint8_t[bound]);
    const std::size_t n =
        ZSTD_compressCCtx(ctx, scratch.get(), bound, input.data(), input.size(), kSliceLevel);
    if (ZSTD_isError(n)) return std::unexpected(std::string(ZSTD_getErrorName(n)));
    return std::vector<std::uint8_t>(scratch.get(), scratch.get() + n);
  }
};

Transfers::Transfers() : compressor_(std::make_unique<Compressor>()) {}
Transfers::~Transfers() = default;
Transfers::Transfers(Transfers&&) noexcept = default;
Transfers& Transfers::operator=(Transfers&&) noexcept = default;

std::size_t Transfers::request(std::span<const Hash> hashes,
                               const ostrel_core::content::ContentIndex& index) {
  std::size_t queued = 0;
  for (const auto& h : hashes) {
    if (requested_.contains(h) || index.find(h) == nullptr) continue;
    requested_.insert(h);
    queue_.push_back(h);
    ++queued;
  }
  return queued;
}

void Transfers::finish_head() {
  queue_.pop_front();
  offset_ = 0;
}

std::vector<ostrel_core::proto::server::ContentSlice> Transfers::next_slices(
    const ostrel_core::content::ContentIndex& index) {
  std::vector<ostrel_core::proto::server::ContentSlice> out;
  if (sent_ >= kConnectionBudget) return out;
  if (!index.has_files()) {
    queue_.clear();
    offset_ = 0;
    return out;
  }
  while (!queue_.empty() && out.size() < kSlicesPerCall && sent_ < kConnectionBudget) {
    const Hash head = queue_.front();
    const ostrel_core::content::ContentItem* item = index.find(head);
    if (item == nullptr) {
      finish_head();
      continue;
    }
    const std::uint64_t total = item->bytes.size();
    // An offset past the end cannot happen while the index is unchanged; clamp all the same.
    const std::uint64_t start = std::min(offset_, total);
    const std::uint64_t end = std::min<std::uint64_t>(start + kSliceBytes, total);
    std::span<const std::uint8_t> slice(item->bytes.data() + start, end - start);
    auto frame = compressor_->frame(slice);
    if (!frame) {
      OSTREL_ERROR(kTarget, fmt::format("could not compress content slice: {}", frame.error()));
      finish_head();  // stays in requested_: not sent again on this connection
      continue;
    }
    out.push_back({.hash = head, .offset = start, .total = total, .data = std::move(*frame)});
    sent_ = saturating_add(sent_, slice.size());
    if (start + kSliceBytes < total) {
      offset_ = end;
    } else {
      finish_head();
    }
  }
  return out;
}

}  // namespace ostrel_server::content
