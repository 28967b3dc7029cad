#include "detgen/density.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>

#include "base/num.hpp"
#include "detgen/fp.hpp"

namespace ostrel_core::detgen::density {
namespace {

// The key by which plan_memo compares noise operations, bit for bit.
struct Identity {
  std::uint8_t kind;  // 1 Noise, 2 Contour, 3 Noise2
  std::uint32_t octaves;
  std::uint8_t shaping;
  std::uint32_t frequency, lacunarity, gain;
  std::uint32_t fifth;  // amplitude, or the contour's signed flag
  std::uint64_t stream;
  std::uint32_t sx, sy, sz;  // stretch; 0 for Contour and Noise2
  friend bool operator==(const Identity&, const Identity&) = default;
};

Identity identity(std::uint8_t kind, const noise::NoiseOptions& o, std::uint32_t fifth, std::uint64_t stream,
                  std::array<float, 3> stretch) {
  return {kind,
          o.octaves,
          static_cast<std::uint8_t>(o.shaping),
          fp::bits(o.frequency),
          fp::bits(o.lacunarity),
          fp::bits(o.gain),
          fifth,
          stream,
          fp::bits(stretch[0]),
          fp::bits(stretch[1]),
          fp::bits(stretch[2])};
}

std::optional<Identity> identity_of(const Op& op) {
  if (const auto* n = std::get_if<Op::Noise>(&op.v)) {
    return identity(1, n->options, fp::bits(n->amplitude), n->stream, n->stretch);
  }
  if (const auto* c = std::get_if<Op::Contour>(&op.v)) {
    return identity(2, c->options, c->is_signed ? 1u : 0u, c->stream, {0.0f, 0.0f, 0.0f});
  }
  if (const auto* n2 = std::get_if<Op::Noise2>(&op.v)) {
    return identity(3, n2->options, fp::bits(n2->amplitude), n2->stream, {0.0f, 0.0f, 0.0f});
  }
  return std::nullopt;
}

bool same_op(const Op& a, const Op& b) {
  if (a.tag() != b.tag()) return false;
  if (const auto id = identity_of(a)) return id == identity_of(b);
  return std::visit(
      [&](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        const T& y = std::get<T>(b.v);
        if constexpr (std::is_same_v<T, Op::Const>) {
          return fp::bits(x.value) == fp::bits(y.value);
        } else if constexpr (std::is_same_v<T, Op::Coord>) {
          return x.axis == y.axis;
        } else if constexpr (std::is_same_v<T, Op::MapLookup>) {
          return x.map == y.map;
        } else if constexpr (std::is_same_v<T, Op::Clamp>) {
          return fp::bits(x.low) == fp::bits(y.low) && fp::bits(x.high) == fp::bits(y.high);
        } else {
          return true;  // the operators: the tag is all they hold
        }
      },
      a.v);
}

DensityError not_finite(std::string_view what) {
  DensityError e{DensityErrorKind::NotFinite};
  e.what = what;
  return e;
}

// The first value of the operation that is infinite or NaN, in the order the checks name them.
std::optional<DensityError> check_finite(const Op& op) {
  auto bad = [](float v) { return !std::isfinite(v); };
  if (const auto* c = std::get_if<Op::Const>(&op.v)) {
    if (bad(c->value)) return not_finite("a constant");
  } else if (const auto* n = std::get_if<Op::Noise>(&op.v)) {
    if (bad(n->amplitude)) return not_finite("a noise amplitude");
    if (bad(n->options.frequency)) return not_finite("a noise frequency");
    if (bad(n->options.lacunarity)) return not_finite("a noise lacunarity");
    if (bad(n->options.gain)) return not_finite("a noise gain");
    for (float s : n->stretch) {
      if (bad(s)) return not_finite("a noise stretch");
    }
  } else if (const auto* n2 = std::get_if<Op::Noise2>(&op.v)) {
    if (bad(n2->amplitude)) return not_finite("a noise amplitude");
    if (bad(n2->options.frequency)) return not_finite("a noise frequency");
    if (bad(n2->options.lacunarity)) return not_finite("a noise lacunarity");
    if (bad(n2->options.gain)) return not_finite("a noise gain");
  } else if (const auto* cl = std::get_if<Op::Clamp>(&op.v)) {
    if (bad(cl->low) || bad(cl->high)) return not_finite("a clamp bound");
  }
  return std::nullopt;
}

}  // namespace

std::string DensityError::message() const {
  switch (kind) {
    case DensityErrorKind::TooManyOps:
      return fmt::format("a density program may hold at most {} operations, not {}", kMaxOps, count);
    case DensityErrorKind::TooManyBuffers:
      return fmt::format("a density program may use at most {} buffers at once, not {}", kMaxBuffers, count);
    case DensityErrorKind::StackUnderflow:
      return fmt::format("operation {} wanted {} values and the stack held {}", index, wanted, held);
    case DensityErrorKind::LeftOver:
      return fmt::format("a density program must leave exactly one value, not {}", count);
    case DensityErrorKind::Empty:
      return "a density program must have at least one operation";
    case DensityErrorKind::NotFinite:
      return fmt::format("a density program may not contain {}, which is not a finite number", what);
    case DensityErrorKind::BadStretch:
      return fmt::format("a noise stretch must be greater than zero, not {}", num::format_number(stretch));
    case DensityErrorKind::Size:
      return size.message();
  }
  return "density error";
}

Op map_lookup(std::shared_ptr<const map::Map> snapshot) {
  Op::MapLookup m;
  m.low = std::numeric_limits<float>::infinity();
  m.high = -m.low;
  for (float v : snapshot->samples) {
    m.low = fp::min_num(m.low, v);
    m.high = fp::max_num(m.high, v);
    m.holds_nan = m.holds_nan || std::isnan(v);
  }
  m.map = std::move(snapshot);
  return Op(std::move(m));
}

MemoPlan plan_memo(std::span<const Op> ops) {
  MemoPlan plan;
  plan.steps.assign(ops.size(), Memo{});
  std::vector<std::optional<Identity>> ids;
  ids.reserve(ops.size());
  for (const Op& op : ops) ids.push_back(identity_of(op));
  std::vector<Identity> slots;
  for (std::size_t j = 0; j < ops.size(); ++j) {
    if (!ids[j]) continue;
    const auto kept = std::find(slots.begin(), slots.end(), *ids[j]);
    if (kept != slots.end()) {
      plan.steps[j] = {MemoKind::Reuse, static_cast<std::size_t>(kept - slots.begin())};
      continue;
    }
    const bool used_later = std::any_of(ids.begin() + static_cast<std::ptrdiff_t>(j) + 1, ids.end(),
                                        [&](const std::optional<Identity>& id) { return id == ids[j]; });
    if (used_later) {
      plan.steps[j] = {MemoKind::Store, slots.size()};
      slots.push_back(*ids[j]);
    }
  }
  plan.slots = slots.size();
  return plan;
}

std::span<std::vector<float>> Scratch::grow_list(std::vector<std::vector<float>>& list, std::size_t count,
                                                 std::size_t n) {
  while (list.size() < count) list.emplace_back(n, 0.0f);
  for (std::size_t i = 0; i < count; ++i) list[i].resize(n, 0.0f);
  return std::span(list.data(), count);
}

std::span<std::vector<float>> Scratch::grow(std::size_t count, std::size_t n) {
  return grow_list(stack_, count, n);
}

bool Density::same_program(const Density& other) const {
  return std::equal(ops_.begin(), ops_.end(), other.ops_.begin(), other.ops_.end(), same_op);
}

std::expected<Density, DensityError> Density::compile(std::vector<Op> ops) {
  if (ops.empty()) return std::unexpected(DensityError{DensityErrorKind::Empty});
  if (ops.size() > kMaxOps) {
    DensityError e{DensityErrorKind::TooManyOps};
    e.count = ops.size();
    return std::unexpected(e);
  }
  std::size_t d = 0;
  std::size_t peak = 0;
  for (std::size_t k = 0; k < ops.size(); ++k) {
    const Op& op = ops[k];
    if (auto e = check_finite(op)) return std::unexpected(*e);
    const std::size_t want = op.pops();
    if (d < want) {
      DensityError e{DensityErrorKind::StackUnderflow};
      e.index = k;
      e.wanted = want;
      e.held = d;
      return std::unexpected(e);
    }
    d = d - want + 1;
    if (const auto* n = std::get_if<Op::Noise>(&op.v)) {
      for (float s : n->stretch) {
        if (!(s > 0.0f)) {
          DensityError e{DensityErrorKind::BadStretch};
          e.stretch = s;
          return std::unexpected(e);
        }
      }
    }
    peak = std::max(peak, d);
  }
  if (d != 1) {
    DensityError e{DensityErrorKind::LeftOver};
    e.count = d;
    return std::unexpected(e);
  }
  if (peak > kMaxBuffers) {
    DensityError e{DensityErrorKind::TooManyBuffers};
    e.count = peak;
    return std::unexpected(e);
  }
  MemoPlan plan = plan_memo(ops);
  return Density(std::move(ops), std::move(plan), peak);
}

}  // namespace ostrel_core::detgen::density
