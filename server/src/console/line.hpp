#pragma once
// The console's line protocol without I/O: cutting the byte stream into lines, turning a line's
// bytes into its text, the words of a command and the token check.
//
// A line is the bytes up to and including a line feed, or up to the end of the stream. One that
// would reach kMaxLineBytes counting its line feed is refused as soon as that is certain, so at
// most kMaxLineBytes - 1 bytes of a line are ever held:
//   8190 bytes + LF  -> a line
//   8191 bytes       -> refused at once (with its line feed it would be 8192)

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel_server::rcon {

inline constexpr std::size_t kMaxLineBytes = 8192;

class LineBuffer {
 public:
  enum class Status { Line, NeedMore, TooLong };

  // Appends received bytes. REQUIRES: the last next() answered NeedMore (or none was made).
  // Takes at most what the buffer may still hold; answers how many bytes it took, the rest
  // stays with the caller for the following lines.
  std::size_t feed(std::span<const char> bytes);
  // The next complete line (without its line feed) into `line`, NeedMore, or TooLong once the
  // line being assembled can no longer be accepted.
  Status next(std::string& line);
  // The end of the stream: the unterminated rest, when there is one, is a last line.
  std::optional<std::string> finish();

 private:
  std::string pending_;  // bytes of the line being assembled, then of the lines after it
};

// The line's text: invalid UTF-8 replaced by U+FFFD, leading and trailing white space removed
// (a carriage return included). Empty for a blank line.
std::string line_text(std::string_view bytes);

// Runs of white space separate the words.
std::vector<std::string_view> split_words(std::string_view text);

// Equal length and equal bytes, every byte compared whatever the earlier ones were.
bool token_matches(std::string_view offered, std::string_view token);

// What the first line of a session means.
enum class AuthOutcome { Accepted, BadToken, NotAuth };
AuthOutcome check_auth_line(std::string_view text, std::string_view token);

}  // namespace ostrel_server::rcon
