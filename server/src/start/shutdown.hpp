#pragma once
// Turns SIGINT, SIGTERM and SIGHUP into one notification the main thread waits for.
//
//   signal handler --sem_post--> signal thread --offer, never blocks--> one-slot channel --> Signal::wait
//
// The handler only posts a semaphore (async-signal-safe). The signal thread offers a
// notification per wake-up; one that finds the slot full is dropped, so any number of signals
// before the main thread wakes make one notification.
//
// The console's `stop` ends the wait as a signal does, through a Notifier: made before the
// server starts and handed to listen(), so a stop requested before main waits stays in the slot.
//
// A process started with the three signals blocked (as tests start the program, so that a
// signal sent early waits instead of killing it) gets them once the handler is in place:
// listen() unblocks them in the calling thread.

#include <cstddef>
#include <memory>

namespace ostrel_server::shutdown {

struct Channel;  // the one-slot channel, defined in shutdown.cpp
class Notifier;
class Signal;

Signal listen(const Notifier& notifier);

// Wakes Signal::wait from inside the process, as a signal would. Copies share one channel; any
// thread may notify, and it never blocks beyond a short lock.
class Notifier {
 public:
  Notifier();  // a channel of its own, until listen() waits on it
  void notify() const;

 private:
  friend Signal listen(const Notifier& notifier);
  std::shared_ptr<Channel> channel_;
};

class Signal {
 public:
  explicit Signal(std::shared_ptr<Channel> channel);
  Signal(Signal&&) noexcept = default;
  Signal& operator=(Signal&&) noexcept = default;
  ~Signal();

  // Blocks until a notification is available and takes it, or until no sender exists (the
  // handler could not be installed). No timeout.
  void wait();

  // For tests that order signals and waits: blocks until the signal thread has taken `wakeups`
  // wake-ups since listen() and `waiters` threads are blocked in wait().
  void settle(std::size_t wakeups, std::size_t waiters) const;

 private:
  std::shared_ptr<Channel> channel_;
};

// Installs the process-wide handler for SIGINT, SIGTERM and SIGHUP (system calls restarted) and
// starts the signal thread. Once per process: a second call, or a refusal by the system, logs
// "could not install shutdown handler: {}" at WARN and returns a Signal whose wait returns at once.
// The Signal waits on the notifier's channel: a notification given before is taken by the first
// wait.
[[nodiscard]] Signal listen(const Notifier& notifier = Notifier());

}  // namespace ostrel_server::shutdown
