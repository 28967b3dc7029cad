#pragma once
// The record encoding: the one compact serial form of every message, chunk blob payload and
// stored record. No names, tags or lengths for fixed-size things: declaration order is the format.
//
//   value                     bytes
//   u8, i8                    one raw byte
//   bool                      one byte, 0 or 1; any other byte is malformed
//   u16, u32, u64, counts     LEB128 varint, 7 bits a byte, low group first, high bit = more.
//                             u16: at most 3 bytes, the third below 4; u32: at most 5, the fifth
//                             at most 15; u64: at most 10, the tenth at most 1. Non-minimal
//                             forms (80 00) are read.
//   i16, i32, i64             zigzag (0,-1,1,-2 -> 0,1,2,3), then the unsigned varint: -1 -> 01
//   f32, f64                  little-endian IEEE bytes
//   std::array<T, N>          N items, no count
//   std::string               varint byte count, UTF-8 bytes (invalid UTF-8 is malformed)
//   std::vector<T>            varint item count, then the items
//   Signature                 varint count that must be 64, then the 64 bytes
//   std::optional<T>          00 absent, or 01 and the value; any other byte is malformed
//   record, pair, tuple       the fields in declaration order
//   std::variant<...>, enum   variant index as a u32 varint, then that variant's fields
//
// Worked example: StackDef{material 12, count 5, no cells, no text} -> 0C 05 00 00 00.
//
// A record declares its fields once, and that list drives both directions:
//   struct StackDef {
//     std::uint16_t material; ...
//     static constexpr auto fields() { return std::tuple{&StackDef::material, ...}; }
//   };
// A plain enumeration declares how many variants it has, found by argument-dependent lookup:
//   constexpr std::uint32_t wire_variants(Anim) { return 4; }
// Anything else gets a specialization of Codec<T> with `write` and `read`.

#include <algorithm>
#include <array>
#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "proto/protocol_error.hpp"

namespace ostrel_core::proto {

struct Signature;  // proto/records/common.hpp

class Writer {
 public:
  explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}
  void byte(std::uint8_t b) { out_.push_back(b); }
  void bytes(std::span<const std::uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
  void varint(std::uint64_t v) {
    while (v >= 0x80) {
      out_.push_back(static_cast<std::uint8_t>(v) | 0x80);
      v >>= 7;
    }
    out_.push_back(static_cast<std::uint8_t>(v));
  }
  std::vector<std::uint8_t>& buffer() { return out_; }

 private:
  std::vector<std::uint8_t>& out_;
};

// Reads from a borrowed slice. The first failure is kept; later reads return zeros and fail.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> in) : in_(in) {}

  bool ok() const { return !failed_; }
  DecodeCode code() const { return code_; }
  std::size_t remaining() const { return in_.size() - pos_; }
  void fail(DecodeCode code) {
    if (!failed_) code_ = code;
    failed_ = true;
    pos_ = in_.size();
  }

  std::uint8_t byte() {
    if (pos_ >= in_.size()) {
      fail(DecodeCode::Truncated);
      return 0;
    }
    return in_[pos_++];
  }
  // Null (and failed) when fewer than n bytes remain.
  const std::uint8_t* take(std::size_t n) {
    if (n > remaining()) {
      fail(DecodeCode::Truncated);
      return nullptr;
    }
    const std::uint8_t* p = in_.data() + pos_;
    pos_ += n;
    return p;
  }
  // An unsigned varint of at most `max_bytes` bytes whose last byte is at most `last_max`.
  std::uint64_t varint(unsigned max_bytes, std::uint8_t last_max) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < max_bytes; ++i) {
      std::uint8_t b = byte();
      if (failed_) return 0;
      if (i + 1 == max_bytes) {
        if (b > last_max) {
          fail(DecodeCode::VarintOverflow);
          return 0;
        }
        return v | (static_cast<std::uint64_t>(b) << (7 * i));
      }
      v |= static_cast<std::uint64_t>(b & 0x7F) << (7 * i);
      if ((b & 0x80) == 0) return v;
    }
    return v;
  }
  std::uint64_t u64() { return varint(10, 0x01); }
  std::uint32_t u32() { return static_cast<std::uint32_t>(varint(5, 0x0F)); }
  std::uint16_t u16() { return static_cast<std::uint16_t>(varint(3, 0x03)); }
  // A count of items that must fit in the bytes that remain.
  std::size_t count() {
    std::uint64_t n = u64();
    if (n > remaining()) {
      fail(DecodeCode::CountTooLarge);
      return 0;
    }
    return static_cast<std::size_t>(n);
  }

 private:
  std::span<const std::uint8_t> in_;
  std::size_t pos_ = 0;
  bool failed_ = false;
  DecodeCode code_ = DecodeCode::Truncated;
};

template <class T, class = void>
struct Codec;  // specialised below, or by a type that needs its own form

template <class T>
concept Record = requires { T::fields(); };

template <class T>
concept PlainEnum = std::is_enum_v<T> && requires(T t) {
  { wire_variants(t) } -> std::convertible_to<std::uint32_t>;
};

template <class T>
void write_value(Writer& w, const T& v) {
  Codec<T>::write(w, v);
}
template <class T>
void read_value(Reader& r, T& v) {
  Codec<T>::read(r, v);
}

// Unsigned integers: u8 raw, wider ones varint.
template <std::unsigned_integral T>
  requires(!std::same_as<T, bool>)
struct Codec<T> {
  static void write(Writer& w, T v) {
    if constexpr (sizeof(T) == 1) w.byte(v);
    else w.varint(v);
  }
  static void read(Reader& r, T& v) {
    if constexpr (sizeof(T) == 1) v = r.byte();
    else if constexpr (sizeof(T) == 2) v = r.u16();
    else if constexpr (sizeof(T) == 4) v = r.u32();
    else v = r.u64();
  }
};

// Signed integers: i8 raw, wider ones zigzag varint.
template <std::signed_integral T>
struct Codec<T> {
  using U = std::make_unsigned_t<T>;
  static void write(Writer& w, T v) {
    if constexpr (sizeof(T) == 1) {
      w.byte(static_cast<std::uint8_t>(v));
    } else {
      U z = static_cast<U>(static_cast<U>(v) << 1) ^ static_cast<U>(v >> (sizeof(T) * 8 - 1));
      w.varint(z);
    }
  }
  static void read(Reader& r, T& v) {
    if constexpr (sizeof(T) == 1) {
      v = static_cast<T>(r.byte());
    } else {
      U z;
      Codec<U>::read(r, z);
      v = static_cast<T>((z >> 1) ^ static_cast<U>(-static_cast<T>(z & 1)));
    }
  }
};

template <>
struct Codec<bool> {
  static void write(Writer& w, bool v) { w.byte(v ? 1 : 0); }
  static void read(Reader& r, bool& v) {
    std::uint8_t b = r.byte();
    if (b > 1) r.fail(DecodeCode::BadBool);
    v = b == 1;
  }
};

template <std::floating_point T>
struct Codec<T> {
  using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
  static void write(Writer& w, T v) {
    Bits b = std::bit_cast<Bits>(v);
    for (std::size_t i = 0; i < sizeof(T); ++i) w.byte(static_cast<std::uint8_t>(b >> (8 * i)));
  }
  static void read(Reader& r, T& v) {
    const std::uint8_t* p = r.take(sizeof(T));
    Bits b = 0;
    if (p) {
      for (std::size_t i = 0; i < sizeof(T); ++i) b |= static_cast<Bits>(p[i]) << (8 * i);
    }
    v = std::bit_cast<T>(b);
  }
};

bool is_valid_utf8(std::span<const std::uint8_t> bytes);

template <>
struct Codec<std::string> {
  static void write(Writer& w, const std::string& s) {
    w.varint(s.size());
    w.bytes({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
  }
  static void read(Reader& r, std::string& s) {
    std::size_t n = r.count();
    const std::uint8_t* p = r.take(n);
    if (!p) return;
    if (!is_valid_utf8({p, n})) {
      r.fail(DecodeCode::BadUtf8);
      return;
    }
    s.assign(reinterpret_cast<const char*>(p), n);
  }
};

// A byte string whose count must be 64 (codec.cpp).
template <>
struct Codec<Signature> {
  static void write(Writer& w, const Signature& s);
  static void read(Reader& r, Signature& s);
};

template <class T>
struct Codec<std::vector<T>> {
  static void write(Writer& w, const std::vector<T>& v) {
    w.varint(v.size());
    if constexpr (std::is_same_v<T, std::uint8_t>) {
      w.bytes(v);
    } else {
      for (const auto& item : v) write_value(w, item);
    }
  }
  static void read(Reader& r, std::vector<T>& v) {
    std::size_t n = r.count();
    v.clear();
    if constexpr (std::is_same_v<T, std::uint8_t>) {
      if (const std::uint8_t* p = r.take(n)) v.assign(p, p + n);
    } else {
      // The count fits in the remaining bytes, but an item may take more room in memory than on
      // the wire: reserve no more memory than the remaining bytes; a genuine list grows past it.
      v.reserve(std::min(n, r.remaining() / sizeof(T) + 1));
      for (std::size_t i = 0; i < n && r.ok(); ++i) read_value(r, v.emplace_back());
    }
  }
};

template <class T, std::size_t N>
struct Codec<std::array<T, N>> {
  static void write(Writer& w, const std::array<T, N>& a) {
    if constexpr (std::is_same_v<T, std::uint8_t>) {
      w.bytes(a);
    } else {
      for (const auto& item : a) write_value(w, item);
    }
  }
  static void read(Reader& r, std::array<T, N>& a) {
    if constexpr (std::is_same_v<T, std::uint8_t>) {
      if (const std::uint8_t* p = r.take(N)) std::memcpy(a.data(), p, N);
    } else {
      for (auto& item : a) read_value(r, item);
    }
  }
};

template <class T>
struct Codec<std::optional<T>> {
  static void write(Writer& w, const std::optional<T>& o) {
    w.byte(o ? 1 : 0);
    if (o) write_value(w, *o);
  }
  static void read(Reader& r, std::optional<T>& o) {
    std::uint8_t tag = r.byte();
    if (tag == 0) {
      o.reset();
    } else if (tag == 1) {
      read_value(r, o.emplace());
    } else {
      r.fail(DecodeCode::BadOption);
    }
  }
};

template <>
struct Codec<std::monostate> {
  static void write(Writer&, std::monostate) {}
  static void read(Reader&, std::monostate&) {}
};

template <class A, class B>
struct Codec<std::pair<A, B>> {
  static void write(Writer& w, const std::pair<A, B>& p) {
    write_value(w, p.first);
    write_value(w, p.second);
  }
  static void read(Reader& r, std::pair<A, B>& p) {
    read_value(r, p.first);
    read_value(r, p.second);
  }
};

template <class... Ts>
struct Codec<std::tuple<Ts...>> {
  static void write(Writer& w, const std::tuple<Ts...>& t) {
    std::apply([&](const auto&... f) { (write_value(w, f), ...); }, t);
  }
  static void read(Reader& r, std::tuple<Ts...>& t) {
    std::apply([&](auto&... f) { (read_value(r, f), ...); }, t);
  }
};

template <class... Ts>
struct Codec<std::variant<Ts...>> {
  using V = std::variant<Ts...>;
  static void write(Writer& w, const V& v) {
    w.varint(v.index());
    std::visit([&](const auto& alt) { write_value(w, alt); }, v);
  }
  static void read(Reader& r, V& v) {
    std::uint32_t index = r.u32();
    if (!r.ok()) return;
    if (index >= sizeof...(Ts)) {
      r.fail(DecodeCode::BadVariant);
      return;
    }
    emplace_at<0>(r, v, index);
  }

 private:
  template <std::size_t I>
  static void emplace_at(Reader& r, V& v, std::uint32_t index) {
    if constexpr (I < sizeof...(Ts)) {
      if (index == I) {
        read_value(r, v.template emplace<I>());
      } else {
        emplace_at<I + 1>(r, v, index);
      }
    }
  }
};

template <PlainEnum E>
struct Codec<E> {
  static void write(Writer& w, E e) { w.varint(static_cast<std::uint32_t>(e)); }
  static void read(Reader& r, E& e) {
    std::uint32_t index = r.u32();
    if (r.ok() && index >= static_cast<std::uint32_t>(wire_variants(E{}))) {
      r.fail(DecodeCode::BadVariant);
      return;
    }
    e = static_cast<E>(index);
  }
};

template <Record T>
struct Codec<T> {
  static void write(Writer& w, const T& v) {
    std::apply([&](auto... member) { (write_value(w, v.*member), ...); }, T::fields());
  }
  static void read(Reader& r, T& v) {
    std::apply([&](auto... member) { (read_value(r, v.*member), ...); }, T::fields());
  }
};

// Appends the encoding of `v` to `out`.
template <class T>
void encode_into(std::vector<std::uint8_t>& out, const T& v) {
  Writer w(out);
  write_value(w, v);
}

template <class T>
std::vector<std::uint8_t> encode(const T& v) {
  std::vector<std::uint8_t> out;
  encode_into(out, v);
  return out;
}

// Reads one value from `r`; Malformed on the reader's first failure.
template <class T>
std::expected<T, ProtocolError> read_one(Reader& r) {
  T v{};
  read_value(r, v);
  if (!r.ok()) return std::unexpected(ProtocolError::malformed(r.code()));
  return v;
}

// Decodes one value that must use every byte: a short input is Malformed, spare bytes are
// TrailingBytes. No size limit: callers of message decoding check kMaxMessageBytes first.
template <class T>
std::expected<T, ProtocolError> decode_exact(std::span<const std::uint8_t> bytes) {
  Reader r(bytes);
  auto v = read_one<T>(r);
  if (v && r.remaining() != 0) return std::unexpected(ProtocolError::trailing_bytes(r.remaining()));
  return v;
}

// Decodes one value at the start of `bytes`; bytes after it are ignored (stored records that a
// later version may extend).
template <class T>
std::expected<T, ProtocolError> decode_leading(std::span<const std::uint8_t> bytes) {
  Reader r(bytes);
  return read_one<T>(r);
}

// The message decode rules (declared in proto/protocol_error.hpp): over the limit, empty,
// malformed, trailing bytes, in that order.
template <class T>
std::expected<T, ProtocolError> decode_message(std::span<const std::uint8_t> bytes) {
  if (auto fits = check_message_size(bytes.size()); !fits) return std::unexpected(std::move(fits.error()));
  if (bytes.empty()) return std::unexpected(ProtocolError::empty());
  return decode_exact<T>(bytes);
}

}  // namespace ostrel_core::proto
