// The fault labs' rows: cases run side by side, each on a thread of its own, so that those that
// wait out a time limit spend it asleep together; each prints what it gave and how long it took
// against its bound.
#ifndef TELVARIO_TESTS_FAULT_ROWS_H
#define TELVARIO_TESTS_FAULT_ROWS_H

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "windows_api.h"

namespace telvario::testing {

inline void Report(const std::string& name, const std::string& result, double seconds,
                   double bound) {
  static std::mutex printing;
  std::lock_guard<std::mutex> lock(printing);
  std::printf("%-28s %-36s %6.1f s (bound %.0f s)\n", name.c_str(), result.c_str(), seconds, bound);
  std::fflush(stdout);
}

// Runs the cases side by side and waits for all of them.
inline void SideBySide(const std::vector<std::function<void()>>& cases) {
  std::vector<std::thread> threads;
  for (const auto& run : cases) threads.emplace_back(run);
  for (std::thread& thread : threads) thread.join();
}

inline double SecondsSince(DWORD start) {
  return (GetTickCount() - start) / 1000.0;
}

}  // namespace telvario::testing

#endif
