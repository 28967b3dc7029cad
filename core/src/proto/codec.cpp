#include "proto/codec.hpp"

#include "proto/records/common.hpp"

namespace ostrel_core::proto {

// Well-formed UTF-8 as RFC 3629 defines it: no overlong forms, no surrogates, nothing past U+10FFFF.
bool is_valid_utf8(std::span<const std::uint8_t> s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    std::uint8_t c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (i + len > n) return false;
    if (s[i + 1] < lo || s[i + 1] > hi) return false;
    for (std::size_t k = 2; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

void Codec<Signature>::write(Writer& w, const Signature& s) {
  w.varint(s.bytes.size());
  w.bytes(s.bytes);
}

void Codec<Signature>::read(Reader& r, Signature& s) {
  if (r.u64() != s.bytes.size()) {
    r.fail(DecodeCode::BadSignatureLength);
    return;
  }
  if (const std::uint8_t* p = r.take(s.bytes.size())) std::memcpy(s.bytes.data(), p, s.bytes.size());
}

}  // namespace ostrel_core::proto
