#include "persist/compress.hpp"

#include <memory>

#include <fmt/format.h>
#include <zstd.h>

namespace ostrel_core::persist {

namespace {

struct CCtxFree {
  void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct DCtxFree {
  void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

TextError zstd_error(std::size_t code) { return TextError(ZSTD_getErrorName(code)); }

}  // namespace

std::expected<std::vector<std::uint8_t>, TextError> compress(std::span<const std::uint8_t> data,
                                                             const Dictionary* dict) {
  std::unique_ptr<ZSTD_CCtx, CCtxFree> cctx(ZSTD_createCCtx());
  if (!cctx) return std::unexpected(TextError("could not create a zstd compression context"));
  std::vector<std::uint8_t> out(ZSTD_compressBound(data.size()));
  std::size_t n;
  if (dict != nullptr) {
    n = ZSTD_compress_usingDict(cctx.get(), out.data(), out.size(), data.data(), data.size(),
                                dict->bytes.data(), dict->bytes.size(), kCompressionLevel);
  } else {
    n = ZSTD_compressCCtx(cctx.get(), out.data(), out.size(), data.data(), data.size(),
                          kCompressionLevel);
  }
  if (ZSTD_isError(n)) return std::unexpected(zstd_error(n));
  out.resize(n);
  return out;
}

std::expected<std::vector<std::uint8_t>, TextError> decompress(std::span<const std::uint8_t> frame,
                                                               std::size_t limit,
                                                               const Dictionary* dict) {
  std::unique_ptr<ZSTD_DCtx, DCtxFree> dctx(ZSTD_createDCtx());
  if (!dctx) return std::unexpected(TextError("could not create a zstd decompression context"));
  if (dict != nullptr) {
    std::size_t rc = ZSTD_DCtx_loadDictionary(dctx.get(), dict->bytes.data(), dict->bytes.size());
    if (ZSTD_isError(rc)) return std::unexpected(zstd_error(rc));
  }
  // The frame header may state its size; never trust it beyond the limit.
  unsigned long long declared = ZSTD_getFrameContentSize(frame.data(), frame.size());
  if (declared == ZSTD_CONTENTSIZE_ERROR) {
    return std::unexpected(TextError("not a zstd frame"));
  }
  if (declared != ZSTD_CONTENTSIZE_UNKNOWN && declared > limit) {
    return std::unexpected(
        TextError(fmt::format("frame holds {} bytes, more than the {} allowed", declared, limit)));
  }
  // Stream into a buffer one byte larger than the limit: filling it means the frame is too big.
  std::vector<std::uint8_t> out(declared != ZSTD_CONTENTSIZE_UNKNOWN ? declared + 1
                                                                     : std::min<std::size_t>(limit + 1, 64 * 1024));
  ZSTD_inBuffer in{frame.data(), frame.size(), 0};
  std::size_t produced = 0;
  for (;;) {
    ZSTD_outBuffer ob{out.data() + produced, out.size() - produced, 0};
    std::size_t rc = ZSTD_decompressStream(dctx.get(), &ob, &in);
    if (ZSTD_isError(rc)) return std::unexpected(zstd_error(rc));
    produced += ob.pos;
    if (produced > limit) {
      return std::unexpected(TextError(fmt::format("frame holds more than the {} bytes allowed", limit)));
    }
    if (rc == 0) break;  // frame complete
    if (produced == out.size()) {
      // reserve first: resize alone may allocate twice what it is asked for.
      const std::size_t grown = std::min(out.size() * 2, limit + 1);
      out.reserve(grown);
      out.resize(grown);
    } else if (in.pos == in.size) {
      return std::unexpected(TextError("zstd frame is truncated"));
    }
  }
  if (in.pos != in.size) return std::unexpected(TextError("bytes follow the zstd frame"));
  out.resize(produced);
  return out;
}

}  // namespace ostrel_core::persist
