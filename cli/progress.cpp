#include "progress.h"

#include <chrono>
#include <cstdio>

#include <unistd.h>

namespace telvario::cli {

Progress::Progress(std::string label) : label_(std::move(label)) {
  if (isatty(fileno(stderr)) != 0) thread_ = std::thread([this] { Run(); });
}

Progress::~Progress() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  stop_.notify_one();
  thread_.join();
  std::fprintf(stderr, "\r\033[K");
}

void Progress::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (int seconds = 0; !done_; ++seconds) {
    std::fprintf(stderr, "\r%s ... %d s", label_.c_str(), seconds);
    std::fflush(stderr);
    stop_.wait_for(lock, std::chrono::seconds(1), [this] { return done_; });
  }
}

}  // namespace telvario::cli
