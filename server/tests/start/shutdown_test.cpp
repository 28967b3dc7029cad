#include "start/shutdown.hpp"

#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "base/log.hpp"
#include "support/death.hpp"

// The handler is process-wide and installed once per process, so every case runs in a forked
// child (a death test). A wait that blocks is shown by SIGALRM ending the child; "woke" on
// standard error shows that the wait before it returned.

namespace ostrel_server::shutdown {
namespace {

using ::testing::ExitedWithCode;
using ::testing::KilledBySignal;

using test::alarm_in;
using test::log_to_stderr;

void woke() {
  std::fputs("woke\n", stderr);
  std::fflush(stderr);
}

// Wakes once on `sig`, then blocks: one notification per signal, and the process lives on.
[[noreturn]] void notify_once_then_block(int sig) {
  alarm_in(std::chrono::seconds(5));  // a first wait that never returns ends without "woke"
  auto signal = listen();
  struct sigaction installed {};
  sigaction(sig, nullptr, &installed);
  if (!(installed.sa_flags & SA_RESTART)) std::_Exit(3);
  raise(sig);
  signal.wait();
  woke();
  alarm_in(std::chrono::milliseconds(300));
  signal.wait();
  std::_Exit(0);
}

TEST(ShutdownDeathTest, EachSignalGivesOneNotification) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    EXPECT_EXIT(notify_once_then_block(sig), KilledBySignal(SIGALRM), "^woke\n$");
  }
}

TEST(ShutdownDeathTest, QuickSignalsGiveOneNotification) {
  auto run = [] {
    alarm_in(std::chrono::seconds(5));
    auto signal = listen();
    raise(SIGINT);
    raise(SIGTERM);
    raise(SIGINT);
    signal.settle(3, 0);  // the signal thread has taken every wake-up before the first wait
    signal.wait();
    woke();
    alarm_in(std::chrono::milliseconds(300));
    signal.wait();
    std::_Exit(0);
  };
  EXPECT_EXIT(run(), KilledBySignal(SIGALRM), "^woke\n$");
}

TEST(ShutdownDeathTest, SignalWhileWaitingWakesTheWaiter) {
  auto run = [] {
    alarm_in(std::chrono::seconds(5));
    auto signal = listen();
    std::thread sender([&signal] {
      signal.settle(0, 1);  // the main thread is blocked in wait()
      kill(getpid(), SIGTERM);
    });
    signal.wait();
    sender.join();
    std::_Exit(0);
  };
  EXPECT_EXIT(run(), ExitedWithCode(0), "");
}

// The console's stop wakes main as a signal would, whether it comes before main waits or while
// it waits; each notification wakes one wait.
TEST(ShutdownDeathTest, NotifierWakesTheWait) {
  auto run = [] {
    alarm_in(std::chrono::seconds(5));
    Notifier stop;
    stop.notify();  // before the listener exists: kept in the slot
    auto signal = listen(stop);
    signal.wait();
    woke();
    std::thread console([&signal, stop] {
      signal.settle(0, 1);
      stop.notify();
    });
    signal.wait();
    console.join();
    woke();
    alarm_in(std::chrono::milliseconds(300));
    signal.wait();
    std::_Exit(0);
  };
  EXPECT_EXIT(run(), KilledBySignal(SIGALRM), "^woke\nwoke\n$");
}

TEST(ShutdownDeathTest, SignalsBlockedAtStartArriveOnceListening) {
  auto run = [] {
    alarm_in(std::chrono::seconds(5));
    sigset_t ours;
    sigemptyset(&ours);
    sigaddset(&ours, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &ours, nullptr);
    raise(SIGTERM);  // pending: without the listener it would end the process
    auto signal = listen();
    signal.wait();
    woke();
    std::_Exit(0);
  };
  EXPECT_EXIT(run(), ExitedWithCode(0), "^woke\n$");
}

TEST(ShutdownDeathTest, InstalledOncePerProcess) {
  auto run = [] {
    alarm_in(std::chrono::seconds(5));
    ostrel_core::log::install(ostrel_core::log::Options{.filter = {}, .colour = false});
    ostrel_core::log::set_sink(log_to_stderr, nullptr);
    auto first = listen();
    auto second = listen();
    second.wait();  // no sender: returns at once
    raise(SIGHUP);  // the first listener still turns it into a notification
    first.wait();
    std::_Exit(0);
  };
  EXPECT_EXIT(run(), ExitedWithCode(0),
              " WARN ostrel_server::shutdown: could not install shutdown handler: a shutdown handler is already "
              "installed in this process\n$");
}

}  // namespace
}  // namespace ostrel_server::shutdown
