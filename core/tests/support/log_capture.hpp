#pragma once
// Captures every log line written while it lives (colour off, the default filter).

#include <string>
#include <string_view>
#include <vector>

#include "base/log.hpp"

namespace ostrel_core::test {

class LogCapture {
 public:
  LogCapture() {
    log::Options o;
    o.colour = false;
    log::install(o);
    log::set_sink(&LogCapture::sink, this);
  }
  ~LogCapture() { log::set_sink(nullptr, nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::vector<std::string>& lines() const { return lines_; }
  std::vector<std::string> containing(std::string_view part) const {
    std::vector<std::string> out;
    for (const auto& l : lines_) {
      if (l.find(part) != std::string::npos) out.push_back(l);
    }
    return out;
  }

 private:
  static void sink(std::string_view line, void* self) {
    static_cast<LogCapture*>(self)->lines_.emplace_back(line);
  }
  std::vector<std::string> lines_;
};

}  // namespace ostrel_core::test
