#pragma once
// Helpers for death tests whose child may block: an alarm that ends it, and log lines written
// to standard error where the parent matches them.

#include <sys/time.h>

#include <chrono>
#include <cstdio>
#include <string_view>

namespace ostrel_server::test {

// SIGALRM ends the process after `ms`, unless re-armed.
inline void alarm_in(std::chrono::milliseconds ms) {
  itimerval t{};
  t.it_value.tv_sec = ms.count() / 1000;
  t.it_value.tv_usec = (ms.count() % 1000) * 1000;
  setitimer(ITIMER_REAL, &t, nullptr);
}

// A log sink: each line to standard error, flushed.
inline void log_to_stderr(std::string_view line, void*) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace ostrel_server::test
