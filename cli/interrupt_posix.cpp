// SIGINT: the handler writes a byte to a pipe that the watcher thread reads. The measuring
// thread, and the threads the component starts from it, block SIGINT meanwhile, so that no wait
// of theirs is cut short by it: the watcher alone takes it.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "interrupt.h"

namespace telvario::cli {
namespace {

std::atomic<bool> interrupted{false};
std::atomic<int> wakeWrite{-1};  // the pipe's end the handler writes to, while a scope lives

constexpr char kInterrupt = 'i';
constexpr char kStop = 's';

void OnInterrupt(int) {
  const int saved = errno;
  const char byte = kInterrupt;
  const int wake = wakeWrite.load();
  if (wake >= 0) (void)!write(wake, &byte, 1);
  errno = saved;
}

sigset_t InterruptOnly() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  return set;
}

}  // namespace

struct InterruptScope::State {
  int pipe[2] = {-1, -1};
  struct sigaction previous = {};
  sigset_t previousMask = {};
  bool installed = false;
  std::thread watcher;
};

namespace {

// The scope that lives, for a question asked inside it: one at a time.
std::atomic<const InterruptScope::State*> activeScope{nullptr};

}  // namespace

InterruptScope::InterruptScope(std::function<void()> cancel) : state_(std::make_unique<State>()) {
  State& state = *state_;
  // A program started with SIGINT ignored (in the background of a script) keeps ignoring it.
  struct sigaction current = {};
  if (sigaction(SIGINT, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) return;
  if (pipe2(state.pipe, O_CLOEXEC) != 0) return;  // Ctrl-C then ends the process, as before
  fcntl(state.pipe[1], F_SETFL, O_NONBLOCK);      // a handler never waits
  const sigset_t onlyInterrupt = InterruptOnly();
  pthread_sigmask(SIG_BLOCK, &onlyInterrupt, &state.previousMask);
  const int wakeRead = state.pipe[0];
  state.watcher = std::thread([wakeRead, cancel = std::move(cancel)] {
    const sigset_t set = InterruptOnly();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    for (;;) {
      char byte = 0;
      const ssize_t got = read(wakeRead, &byte, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0 || byte == kStop) return;
      interrupted.store(true);
      cancel();
    }
  });
  wakeWrite.store(state.pipe[1]);
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // The handler lasts for one Ctrl-C: the next one has the default action and ends the process.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  state.installed = sigaction(SIGINT, &action, &state.previous) == 0;
  activeScope.store(&state);
}

InterruptScope::~InterruptScope() {
  State& state = *state_;
  if (state.pipe[0] < 0) return;
  activeScope.store(nullptr);
  if (state.installed) sigaction(SIGINT, &state.previous, nullptr);
  if (state.watcher.joinable()) {
    const char byte = kStop;
    fcntl(state.pipe[1], F_SETFL, 0);
    while (write(state.pipe[1], &byte, 1) < 0 && errno == EINTR) {
    }
    state.watcher.join();
  }
  wakeWrite.store(-1);
  close(state.pipe[0]);
  close(state.pipe[1]);
  pthread_sigmask(SIG_SETMASK, &state.previousMask, nullptr);
}

struct InterruptsAsBefore::State {
  bool changed = false;
  struct sigaction during = {};
  sigset_t mask = {};
};

InterruptsAsBefore::InterruptsAsBefore() : state_(std::make_unique<State>()) {
  const InterruptScope::State* scope = activeScope.load();
  if (scope == nullptr || !scope->installed) return;  // Ctrl-C acts as before already
  state_->changed = sigaction(SIGINT, &scope->previous, &state_->during) == 0;
  pthread_sigmask(SIG_SETMASK, &scope->previousMask, &state_->mask);
}

InterruptsAsBefore::~InterruptsAsBefore() {
  if (!state_->changed) return;
  pthread_sigmask(SIG_SETMASK, &state_->mask, nullptr);
  sigaction(SIGINT, &state_->during, nullptr);
}

bool Interrupted() {
  return interrupted.load();
}

}  // namespace telvario::cli
