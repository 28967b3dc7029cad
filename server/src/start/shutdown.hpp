#pragma once
// Turns SIGINT, SIGTERM and SIGHUP into one notification the main thread waits for.
//
//   signal handler --sem_post--> signal thread --offer, never blocks--> one-slot channel --> Signal::wait
//
// The handler only posts a semaphore (async-signal-safe). The signal thread offers a
// notification per wake-up; one that finds the slot full is dropped, so any number of signals
// before the main thread wakes make one notification.

#include <memory>

namespace ostrel_server::shutdown {

struct Channel;  // the one-slot channel, defined in shutdown.cpp

class Signal {
 public:
  explicit Signal(std::shared_ptr<Channel> channel);
  Signal(Signal&&) noexcept = default;
  Signal& operator=(Signal&&) noexcept = default;
  ~Signal();

  // Blocks until a notification is available and takes it, or until no sender exists (the
  // handler could not be installed). No timeout.
  void wait();

 private:
  std::shared_ptr<Channel> channel_;
};

// Installs the process-wide handler for SIGINT, SIGTERM and SIGHUP (system calls restarted) and
// starts the signal thread. Once per process: a second call, or a refusal by the system, logs
// "could not install shutdown handler: {}" at WARN and returns a Signal whose wait returns at once.
[[nodiscard]] Signal listen();

}  // namespace ostrel_server::shutdown
