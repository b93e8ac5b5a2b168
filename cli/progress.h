// Shows, on a terminal, that a long measurement is still running: its label and the seconds
// passed, redrawn once a second on standard error until the measurement ends.
#ifndef TELVARIO_CLI_PROGRESS_H
#define TELVARIO_CLI_PROGRESS_H

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace telvario::cli {

class Progress {
 public:
  explicit Progress(std::string label);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

 private:
  void Run();

  std::string label_;
  std::mutex mutex_;
  std::condition_variable stop_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace telvario::cli

#endif
