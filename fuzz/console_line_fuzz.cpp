// Bytes from a console peer: cut into lines in pieces whose size the first byte picks, then each
// line's text, words and authentication check. A line never holds a line feed or passes the
// limit, and the text is valid UTF-8 without surrounding space.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "base/text.hpp"
#include "console/line.hpp"

namespace {

void check_line(const std::string& bytes) {
  using namespace ostrel_server::rcon;
  if (bytes.find('\n') != std::string::npos || bytes.size() > kMaxLineBytes - 2) std::abort();
  const std::string text = line_text(bytes);
  if (text != ostrel_core::text::trim(text)) std::abort();
  for (auto word : split_words(text)) {
    if (word.empty()) std::abort();
  }
  (void)check_auth_line(text, "fuzzing-token-0123");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using ostrel_server::rcon::LineBuffer;
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] * 37u;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  LineBuffer lines;
  std::size_t at = 0;
  std::string line;
  for (;;) {
    const auto status = lines.next(line);
    if (status == LineBuffer::Status::TooLong) return 0;
    if (status == LineBuffer::Status::Line) {
      check_line(line);
      continue;
    }
    if (at == input.size()) break;
    const std::size_t n = std::min(piece, input.size() - at);
    at += lines.feed(std::span<const char>(input.data() + at, n));
  }
  if (auto last = lines.finish()) check_line(*last);
  return 0;
}
