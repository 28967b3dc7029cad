#include "start/shutdown.hpp"

#include <pthread.h>
#include <semaphore.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <expected>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "base/error.hpp"
#include "base/log.hpp"

namespace ostrel_server::shutdown {

struct Channel {
  std::mutex mu;  // guards everything below
  std::condition_variable cv;       // pending set, or the counts below changed
  bool pending = false;             // the one slot
  bool has_sender = false;          // false once no notification can come
  std::size_t wakeups = 0;          // taken by the signal thread
  std::size_t waiters = 0;          // threads blocked in Signal::wait

  // Never blocks the caller beyond the short lock; a full slot drops the notification. `signal`:
  // a wake-up the signal thread took, counted for settle().
  void offer(bool signal) {
    {
      std::lock_guard lock(mu);
      if (signal) ++wakeups;
      pending = true;
    }
    cv.notify_all();
  }
};

namespace {

constexpr const char* kTarget = "ostrel_server::shutdown";
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Signal dispositions are process-wide, so is what the handler touches.
sem_t g_wakeups;
std::atomic<bool> g_installed{false};

extern "C" void on_signal(int) {
  int saved = errno;
  sem_post(&g_wakeups);
  errno = saved;
}

void run_signal_thread(std::shared_ptr<Channel> channel) {
  pthread_setname_np(pthread_self(), "ostrel-signal");
  while (true) {
    if (sem_wait(&g_wakeups) != 0) continue;  // EINTR
    channel->offer(true);
  }
}

// Installs on_signal for every signal in kSignals, or none of them.
std::expected<void, std::string> install_handlers() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  struct sigaction previous[std::size(kSignals)] = {};
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    if (sigaction(kSignals[i], &action, &previous[i]) != 0) {
      auto reason = ostrel_core::IoError::from_errno(errno).message();
      for (std::size_t j = 0; j < i; ++j) sigaction(kSignals[j], &previous[j], nullptr);
      return std::unexpected(std::move(reason));
    }
  }
  return {};
}

Signal without_sender(std::shared_ptr<Channel> channel, std::string_view reason) {
  OSTREL_WARN(kTarget, fmt::format("could not install shutdown handler: {}", reason));
  return Signal(std::move(channel));
}

}  // namespace

Notifier::Notifier() : channel_(std::make_shared<Channel>()) {}

void Notifier::notify() const { channel_->offer(false); }

Signal::Signal(std::shared_ptr<Channel> channel) : channel_(std::move(channel)) {}

Signal::~Signal() = default;

void Signal::wait() {
  std::unique_lock lock(channel_->mu);
  ++channel_->waiters;
  channel_->cv.notify_all();
  channel_->cv.wait(lock, [&] { return channel_->pending || !channel_->has_sender; });
  --channel_->waiters;
  channel_->pending = false;
}

void Signal::settle(std::size_t wakeups, std::size_t waiters) const {
  std::unique_lock lock(channel_->mu);
  channel_->cv.wait(lock, [&] { return channel_->wakeups >= wakeups && channel_->waiters == waiters; });
}

Signal listen(const Notifier& notifier) {
  auto channel = notifier.channel_;
  if (g_installed.exchange(true)) {
    return without_sender(std::move(channel), "a shutdown handler is already installed in this process");
  }
  if (sem_init(&g_wakeups, 0, 0) != 0) {
    return without_sender(std::move(channel), ostrel_core::IoError::from_errno(errno).message());
  }
  // The thread first, so that no wake-up is posted before anyone can take it.
  try {
    std::thread(run_signal_thread, channel).detach();
  } catch (const std::system_error& e) {
    return without_sender(std::move(channel), ostrel_core::IoError::from_code(e.code()).message());
  }
  if (auto installed = install_handlers(); !installed) {
    // The signal thread keeps waiting on a semaphore nobody posts; the slot stays the notifier's.
    return without_sender(std::move(channel), installed.error());
  }
  sigset_t ours;
  sigemptyset(&ours);
  for (int sig : kSignals) sigaddset(&ours, sig);
  pthread_sigmask(SIG_UNBLOCK, &ours, nullptr);
  // Only the Signal made here waits on has_sender, so it is set once the handler is in place.
  {
    std::lock_guard lock(channel->mu);
    channel->has_sender = true;
  }
  return Signal(std::move(channel));
}

}  // namespace ostrel_server::shutdown
