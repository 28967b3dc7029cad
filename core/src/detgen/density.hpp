#pragma once
// Density programs: an expression over world position compiled into a stack machine of at most
// 4096 operations and 16 buffers, evaluated natively over whole regions; positive means solid.
//
// A program is its operations in post-order (operands first, `a` before `b`). Evaluation runs
// each operation as one loop over every sample of the region, in single precision with one
// rounding per operation; min and max are minNum and maxNum (a NaN operand loses).
// Identical noise operations are computed once per evaluation (the memo plan).

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/error.hpp"
#include "detgen/map.hpp"
#include "detgen/noise.hpp"

namespace ostrel_core::detgen::density {

inline constexpr std::size_t kMaxOps = 4096;
inline constexpr std::size_t kMaxBuffers = 16;

using noise::Interval;

// One operation; the tag is the index of the alternative.
struct Op {
  struct Const {  // 0: push value
    float value;
  };
  struct Coord {  // 1: push the sample's coordinate on `axis` (0 x, 1 y, 2 z)
    std::uint8_t axis;
  };
  struct Noise {  // 2: push 3D fractal noise of seed (world seed ^ stream)
    float amplitude = 1.0f;
    std::array<float, 3> stretch{1.0f, 1.0f, 1.0f};
    noise::NoiseOptions options;
    std::uint64_t stream = 0;
  };
  struct Contour {  // 3: push the distance in blocks from the zero contour of ground noise
    bool is_signed = false;
    noise::NoiseOptions options;
    std::uint64_t stream = 0;
  };
  struct Noise2 {  // 4: push noise of the ground plane y = 0, the same at every y
    float amplitude = 1.0f;
    noise::NoiseOptions options;
    std::uint64_t stream = 0;
  };
  struct Add {};  // 5 to 10 pop b, then a, and push a op b
  struct Sub {};
  struct Mul {};
  struct Div {};
  struct Min {};
  struct Max {};
  struct Abs {};                          // 11
  struct MapLookup {                      // 12: push the map's value under the sample, ignoring y
    std::shared_ptr<const map::Map> map;  // a read-only snapshot, shared by every holder
    float low = 0.0f;                     // the map's finite range
    float high = 0.0f;
    bool holds_nan = false;  // any NaN sample: the bound of this operation is (-inf, +inf)
  };
  struct Clamp {  // 13: low when low > v, then high when v > high; NaN stays NaN
    float low = -1.0f;
    float high = 1.0f;
  };

  using Kind =
      std::variant<Const, Coord, Noise, Contour, Noise2, Add, Sub, Mul, Div, Min, Max, Abs, MapLookup, Clamp>;
  Kind v;

  template <class T>
  requires std::is_constructible_v<Kind, T&&> Op(T&& alt)
      : v(std::forward<T>(alt)) {}  // NOLINT: an Op is any of its alternatives

  std::size_t tag() const { return v.index(); }
  // Values the operation pops: 2 for Add to Max, 1 for Abs and Clamp, 0 for the leaves.
  std::size_t pops() const {
    const std::size_t t = tag();
    return (t >= 5 && t <= 10) ? 2 : (t == 11 || t == 13) ? 1 : 0;
  }
};

// A map lookup over `snapshot`: its finite range and whether it holds a NaN, found once here.
Op map_lookup(std::shared_ptr<const map::Map> snapshot);

enum class DensityErrorKind : std::uint8_t {
  TooManyOps,      // more than kMaxOps operations
  TooManyBuffers,  // the stack reaches deeper than kMaxBuffers
  StackUnderflow,  // an operation found fewer values than it pops
  LeftOver,        // the program does not end with exactly one value
  Empty,           // no operations at all
  NotFinite,       // a constant, noise option, stretch or clamp bound that is infinite or NaN
  BadStretch,      // a noise stretch component that is not above zero
  Size,            // an output buffer without one slot per sample
};

struct DensityError {
  DensityErrorKind kind;
  std::size_t count = 0;   // TooManyOps: the operations; TooManyBuffers: the depth; LeftOver: values left
  std::size_t index = 0;   // StackUnderflow: the operation, from 0
  std::size_t wanted = 0;  // StackUnderflow: values it pops
  std::size_t held = 0;    // StackUnderflow: values the stack held
  std::string_view what;   // NotFinite: "a constant", "a noise gain", ... (static text)
  float stretch = 0.0f;    // BadStretch
  noise::BufferSizeMismatch size;  // Size

  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
};

// How the evaluator treats one operation.
enum class MemoKind : std::uint8_t {
  None = 0,   // compute as usual
  Store = 1,  // compute this noise field and keep it in `slot`
  Reuse = 2,  // take the field kept in `slot` instead of computing it
};

struct Memo {
  MemoKind kind = MemoKind::None;
  std::size_t slot = 0;
  friend bool operator==(const Memo&, const Memo&) = default;
};

struct MemoPlan {
  std::vector<Memo> steps;  // one per operation
  std::size_t slots = 0;
};

// The first of several bit-identical noise operations (Noise, Contour, Noise2) stores its field
// and every later one reuses it; a field used once is computed as usual. Quadratic in the
// operation count; run once per program.
MemoPlan plan_memo(std::span<const Op> ops);

// The evaluator's working memory, reused across evaluations: a scratch kept across calls on one
// region size allocates only on its first use.
class Scratch {
 public:
  // The first `count` evaluation buffers, each exactly n long: missing ones are appended as
  // zeros, shorter ones extended with zeros, longer ones cut; values already held are kept.
  std::span<std::vector<float>> grow(std::size_t count, std::size_t n);

 private:
  friend class Density;
  static std::span<std::vector<float>> grow_list(std::vector<std::vector<float>>& list, std::size_t count,
                                                 std::size_t n);

  std::vector<std::vector<float>> stack_;  // one buffer per stack level
  std::vector<std::vector<float>> memo_;   // one buffer per memo slot
  std::vector<std::vector<float>> plane_;  // ground-plane fields: noise2, contour, map columns
};

class Density {
 public:
  // Checks, in order: at least one and at most kMaxOps operations; per operation its finite
  // values, its stack effect and (noise) its stretch; exactly one value left; at most
  // kMaxBuffers deep. The first failure is returned.
  [[nodiscard]] static std::expected<Density, DensityError> compile(std::vector<Op> ops);

  // The program's value at every sample of `grid` into `out` (storage order of Grid3). Noise
  // uses the seed (seed ^ stream). A buffer of another length is refused and left untouched.
  std::expected<void, DensityError> evaluate_with(std::uint64_t seed, const noise::Grid3& grid,
                                                  std::span<float> out, Scratch& scratch) const;
  // An interval that holds every value evaluate_with can give over `grid`, widened by
  // max(|low|, |high|) * 2^-12 + 1e-6 on each side. Allocates nothing.
  Interval bounds(std::uint64_t seed, const noise::Grid3& grid) const;

  // Whether `other` holds the same operations, bit for bit (a map lookup: the same snapshot), so
  // that both give the same bits over any grid and seed.
  bool same_program(const Density& other) const;

  std::size_t len() const { return ops_.size(); }
  std::span<const Op> ops() const { return ops_; }
  const MemoPlan& plan() const { return plan_; }
  std::size_t depth() const { return depth_; }

 private:
  Density(std::vector<Op> ops, MemoPlan plan, std::size_t depth)
      : ops_(std::move(ops)), plan_(std::move(plan)), depth_(depth) {}

  std::vector<Op> ops_;
  MemoPlan plan_;
  std::size_t depth_ = 1;  // the deepest the stack gets: stack buffers an evaluation needs
};

}  // namespace ostrel_core::detgen::density
