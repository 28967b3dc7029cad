#include "console/line.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ostrel_server::rcon {
namespace {

// Feeds `input` in pieces of `piece` bytes and collects every line, as the session reads.
struct Cut {
  std::vector<std::string> lines;
  bool too_long = false;
};

Cut cut(const std::string& input, std::size_t piece) {
  Cut out;
  LineBuffer buf;
  std::size_t at = 0;
  std::string line;
  for (;;) {
    auto status = buf.next(line);
    if (status == LineBuffer::Status::Line) {
      out.lines.push_back(line);
      continue;
    }
    if (status == LineBuffer::Status::TooLong) {
      out.too_long = true;
      return out;
    }
    if (at == input.size()) break;
    const std::size_t n = std::min(piece, input.size() - at);
    at += buf.feed(std::span<const char>(input.data() + at, n));
  }
  if (auto last = buf.finish()) out.lines.push_back(*last);
  return out;
}

TEST(LineBuffer, CutsLinesAtTheLimit) {
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> lines;
    bool too_long;
  };
  const std::string longest(8190, 'x');
  const Case cases[] = {
      {"two_lines", "ab\ncd\n", {"ab", "cd"}, false},
      {"unterminated_last", "ab\ncd", {"ab", "cd"}, false},
      {"crlf_kept_for_trim", "ab\r\n", {"ab\r"}, false},
      {"empty_lines", "\n\n", {"", ""}, false},
      {"8190_and_lf", longest + "\nok\n", {longest, "ok"}, false},
      {"8190_at_end", longest, {longest}, false},
      {"8191_and_lf", longest + "y\n", {}, true},
      {"8191_no_lf", longest + "y", {}, true},
      {"long_after_a_line", "a\n" + longest + "yy\n", {"a"}, true},
  };
  for (const auto& c : cases) {
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, kMaxLineBytes, std::size_t{100000}}) {
      SCOPED_TRACE(testing::Message() << c.name << " in pieces of " << piece);
      auto got = cut(c.input, piece);
      EXPECT_EQ(got.lines, c.lines);
      EXPECT_EQ(got.too_long, c.too_long);
    }
  }
}

TEST(LineBuffer, HoldsNoMoreThanOneLineAllows) {
  LineBuffer buf;
  const std::string flood(20000, 'z');
  std::string line;
  EXPECT_EQ(buf.next(line), LineBuffer::Status::NeedMore);
  EXPECT_EQ(buf.feed(flood), kMaxLineBytes - 1);
  EXPECT_EQ(buf.next(line), LineBuffer::Status::TooLong);
}

TEST(LineText, ReplacesInvalidBytesAndTrims) {
  struct Case {
    std::string bytes;
    std::string text;
  };
  const Case cases[] = {
      {"  status  ", "status"},
      {"status\r", "status"},
      {"\t \r", ""},
      {"st\xff" "tus", "st\xef\xbf\xbdtus"},
      {"\xc3", "\xef\xbf\xbd"},
      {"\xe2\x80\x83kick\xc2\xa0", "kick"},  // Unicode spaces too
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(line_text(c.bytes), c.text);
  }
}

TEST(SplitWords, RunsOfSpaceSeparate) {
  using W = std::vector<std::string_view>;
  EXPECT_EQ(split_words("kick  bob   too \t rude"), (W{"kick", "bob", "too", "rude"}));
  EXPECT_EQ(split_words("status"), (W{"status"}));
  EXPECT_EQ(split_words("a\xe2\x80\x83" "b"), (W{"a", "b"}));
  EXPECT_EQ(split_words("\"quoted words\""), (W{"\"quoted", "words\""}));
  EXPECT_TRUE(split_words("  ").empty());
}

TEST(AuthLine, MatchesOnlyTheExactToken) {
  const std::string token = "0123456789abcdef";
  struct Case {
    std::string line;
    AuthOutcome want;
  };
  const Case cases[] = {
      {"auth 0123456789abcdef", AuthOutcome::Accepted},
      {"auth    0123456789abcdef  ", AuthOutcome::Accepted},
      {"auth 0123456789abcdeX", AuthOutcome::BadToken},   // one byte wrong
      {"auth 0123456789abcdefg", AuthOutcome::BadToken},  // one byte longer
      {"auth 0123456789abcde", AuthOutcome::BadToken},    // one byte shorter
      {"auth", AuthOutcome::NotAuth},
      {"AUTH 0123456789abcdef", AuthOutcome::NotAuth},
      {"authx 0123456789abcdef", AuthOutcome::NotAuth},
      {"auth\t0123456789abcdef", AuthOutcome::NotAuth},
      {"status", AuthOutcome::NotAuth},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(check_auth_line(c.line, token), c.want);
  }
  EXPECT_TRUE(token_matches("", ""));
  EXPECT_FALSE(token_matches(std::string("a\0", 2), "a"));
}

}  // namespace
}  // namespace ostrel_server::rcon
