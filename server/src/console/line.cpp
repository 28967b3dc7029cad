#include "console/line.hpp"

#include <algorithm>

#include "base/assert.hpp"
#include "base/text.hpp"
#include "script/lua_vm/convert.hpp"

namespace ostrel_server::rcon {

namespace {
// The most bytes of one line held before its line feed: one more and the line is refused.
constexpr std::size_t kHeldMax = kMaxLineBytes - 1;
}  // namespace

std::size_t LineBuffer::feed(std::span<const char> bytes) {
  OSTREL_ASSERT(pending_.find('\n') == std::string::npos && pending_.size() < kHeldMax);
  const std::size_t take = std::min(bytes.size(), kHeldMax - pending_.size());
  pending_.append(bytes.data(), take);
  return take;
}

LineBuffer::Status LineBuffer::next(std::string& line) {
  const auto lf = pending_.find('\n');
  if (lf == std::string::npos) return pending_.size() >= kHeldMax ? Status::TooLong : Status::NeedMore;
  line.assign(pending_, 0, lf);
  pending_.erase(0, lf + 1);
  return Status::Line;
}

std::optional<std::string> LineBuffer::finish() {
  if (pending_.empty()) return std::nullopt;
  return std::exchange(pending_, std::string());
}

std::string line_text(std::string_view bytes) {
  return std::string(ostrel_core::text::trim(ostrel_core::script::convert::valid_utf8(bytes)));
}

std::vector<std::string_view> split_words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t start = std::string_view::npos;
  for (std::size_t i = 0; i < text.size();) {
    const auto [cp, len] = ostrel_core::text::code_point_at(text, i);
    if (ostrel_core::text::is_space(cp)) {
      if (start != std::string_view::npos) words.push_back(text.substr(start, i - start));
      start = std::string_view::npos;
    } else if (start == std::string_view::npos) {
      start = i;
    }
    i += len;
  }
  if (start != std::string_view::npos) words.push_back(text.substr(start));
  return words;
}

bool token_matches(std::string_view offered, std::string_view token) {
  if (offered.size() != token.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < token.size(); ++i) {
    diff |= static_cast<unsigned char>(offered[i] ^ token[i]);
  }
  // Read through a volatile so the loop above cannot be cut short on the first difference.
  volatile unsigned char result = diff;
  return result == 0;
}

AuthOutcome check_auth_line(std::string_view text, std::string_view token) {
  constexpr std::string_view kAuth = "auth ";
  if (!text.starts_with(kAuth)) return AuthOutcome::NotAuth;
  const auto offered = ostrel_core::text::trim(text.substr(kAuth.size()));
  return token_matches(offered, token) ? AuthOutcome::Accepted : AuthOutcome::BadToken;
}

}  // namespace ostrel_server::rcon
