#pragma once
// The error convention shared by every module.
//
// Each module has its own error type: a kind enumeration, the fields its message needs, a
// one-sentence `message()` and `source()`, the wrapped error or null. Sources form a chain that
// the top level prints as the message and then one "  caused by: {}" line per source.

#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

namespace ostrel_core {

// One link of an error chain, type-erased so that any module's error can be another's source.
class ErrorSource {
 public:
  virtual ~ErrorSource() = default;
  virtual std::string message() const = 0;
  virtual const ErrorSource* source() const = 0;
};

template <class E>
concept ErrorLike = requires(const E& e) {
  { e.message() } -> std::convertible_to<std::string>;
  { e.source() } -> std::convertible_to<const ErrorSource*>;
};

template <ErrorLike E>
class BoxedError final : public ErrorSource {
 public:
  explicit BoxedError(E e) : error_(std::move(e)) {}
  std::string message() const override { return error_.message(); }
  const ErrorSource* source() const override { return error_.source(); }
  const E& get() const { return error_; }

 private:
  E error_;
};

// Shared so that error values stay cheap to copy; the chain is immutable.
using SourcePtr = std::shared_ptr<const ErrorSource>;

template <ErrorLike E>
SourcePtr make_source(E e) {
  return std::make_shared<const BoxedError<std::decay_t<E>>>(std::move(e));
}

// Returns the error of type E behind `s`, or null when `s` holds another type.
template <ErrorLike E>
const E* source_as(const ErrorSource* s) {
  auto* boxed = dynamic_cast<const BoxedError<E>*>(s);
  return boxed ? &boxed->get() : nullptr;
}

// An operating-system or library error that ends a chain, e.g. a failed file read.
class IoError {
 public:
  IoError() = default;
  // `text` is shown as it is; use from_errno for operating system errors.
  explicit IoError(std::string text, std::error_code code = {}) : text_(std::move(text)), code_(code) {}
  // "No such file or directory (os error 2)".
  static IoError from_errno(int err);
  static IoError from_code(std::error_code code);

  std::string message() const { return text_; }
  const ErrorSource* source() const { return nullptr; }
  std::error_code code() const { return code_; }

 private:
  std::string text_;
  std::error_code code_;
};

// A text-only error, for sources that are no more than a sentence (e.g. a library's message).
class TextError {
 public:
  explicit TextError(std::string text, SourcePtr source = nullptr)
      : text_(std::move(text)), source_(std::move(source)) {}
  std::string message() const { return text_; }
  const ErrorSource* source() const { return source_.get(); }

 private:
  std::string text_;
  SourcePtr source_;
};

// A broken contract of the caller (an index past a buffer, a value too wide): logs `message`
// at ERROR under `target`, writes it to standard error and aborts, in every build.
[[noreturn]] void contract_stop(std::string_view target, const std::string& message);

// The message of `e` followed by the message of each source in chain order.
std::vector<std::string> error_chain(const ErrorSource& e);

template <ErrorLike E>
std::vector<std::string> error_chain(const E& e) {
  std::vector<std::string> out{e.message()};
  for (const ErrorSource* s = e.source(); s != nullptr; s = s->source()) out.push_back(s->message());
  return out;
}

// "{message}\n  caused by: {source}\n..." without a trailing newline.
template <ErrorLike E>
std::string report(const E& e) {
  auto lines = error_chain(e);
  std::string out = lines.front();
  for (std::size_t i = 1; i < lines.size(); ++i) {
    out += "\n  caused by: ";
    out += lines[i];
  }
  return out;
}

}  // namespace ostrel_core
