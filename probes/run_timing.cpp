#include "run_timing.h"

namespace telvario {

LONGLONG PerformanceTicks() {
  LARGE_INTEGER now = {};
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

LONGLONG PerformanceFrequency() {
  LARGE_INTEGER frequency = {};
  QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart > 0 ? frequency.QuadPart : 1;
}

}  // namespace telvario
