// Ctrl-C during a Sonde2 measurement. The first one cancels the run: the signal (posix) or
// console control (Windows) handler only wakes a watcher thread of this scope's own, which calls
// `cancel`; the run then ends at its next sample and the client prints what it had. A second
// Ctrl-C ends the process at once, as Ctrl-C does outside measurements.
#ifndef TELVARIO_CLI_INTERRUPT_H
#define TELVARIO_CLI_INTERRUPT_H

#include <functional>
#include <memory>

namespace telvario::cli {

class InterruptScope {
 public:
  explicit InterruptScope(std::function<void()> cancel);
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// While it lives, inside a scope, Ctrl-C acts as it does outside measurements: for a question
// that waits for a person's answer before the run begins.
class InterruptsAsBefore {
 public:
  InterruptsAsBefore();
  ~InterruptsAsBefore();
  InterruptsAsBefore(const InterruptsAsBefore&) = delete;
  InterruptsAsBefore& operator=(const InterruptsAsBefore&) = delete;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// Whether Ctrl-C cancelled a measurement of this process.
bool Interrupted();

// The exit status of a command cut short by Ctrl-C, as shells give for SIGINT.
constexpr int kInterruptedStatus = 130;

}  // namespace telvario::cli

#endif
