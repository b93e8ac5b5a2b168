// Timers, threads, the last error, version and locale over POSIX clocks and Linux thread calls.
#include "kernel.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

constexpr LONGLONG kNanosecondsPerSecond = 1000000000;
// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr ULONGLONG kFileTimeUnixEpoch = 116444736000000000ULL;

LONGLONG ClockNanoseconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<LONGLONG>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

ULONGLONG FileTimeNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// Taken when the library is loaded, as the Windows runtime takes it when it starts.
const ULONGLONG runtimeStart = FileTimeNow();

// The Windows priority levels and the nice values that stand for them.
struct PriorityLevel {
  int priority;
  int nice;
};
constexpr PriorityLevel kPriorityLevels[] = {
    {THREAD_PRIORITY_IDLE, 19},           {THREAD_PRIORITY_LOWEST, 10},
    {THREAD_PRIORITY_BELOW_NORMAL, 5},    {THREAD_PRIORITY_NORMAL, 0},
    {THREAD_PRIORITY_ABOVE_NORMAL, -5},   {THREAD_PRIORITY_HIGHEST, -10},
    {THREAD_PRIORITY_TIME_CRITICAL, -20},
};

// The pseudo-handle GetCurrentThread returns on Windows.
HANDLE const kCurrentThreadHandle = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));

}  // namespace

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
  count->QuadPart = ClockNanoseconds(CLOCK_MONOTONIC);
  return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  frequency->QuadPart = kNanosecondsPerSecond;
  return TRUE;
}

DWORD GetTickCount() {
  return static_cast<DWORD>(ClockNanoseconds(CLOCK_BOOTTIME) / 1000000);
}

void GetSystemTimeAsFileTime(FILETIME* time) {
  const LONGLONG unixTime = ClockNanoseconds(CLOCK_REALTIME) / 100;
  const ULONGLONG fileTime = kFileTimeUnixEpoch + static_cast<ULONGLONG>(unixTime);
  time->dwLowDateTime = static_cast<DWORD>(fileTime);
  time->dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
}

LONG RuntimeClock() {
  return static_cast<LONG>((FileTimeNow() - runtimeStart) / 10000);
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  if (milliseconds == INFINITE) {
    for (;;) pause();
  }
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
  }
}

HANDLE GetCurrentThread() {
  return kCurrentThreadHandle;
}

DWORD GetCurrentThreadId() {
  return static_cast<DWORD>(syscall(SYS_gettid));
}

DWORD GetCurrentProcessId() {
  return static_cast<DWORD>(getpid());
}

char* PathFindExtensionA(const char* path) {
  if (path == nullptr) return nullptr;
  const char* extension = nullptr;
  const char* end = path;
  for (; *end != '\0'; ++end) {
    if (*end == '.') extension = end;
    if (*end == '/' || *end == '\\' || *end == ' ') extension = nullptr;
  }
  return const_cast<char*>(extension != nullptr ? extension : end);
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
  if (thread != kCurrentThreadHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  for (const PriorityLevel& level : kPriorityLevels) {
    if (level.priority != priority) continue;
    // On Linux a nice value belongs to the thread named by its id, not to the whole process.
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(GetCurrentThreadId()), level.nice) != 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    return TRUE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

int GetThreadPriority(HANDLE thread) {
  if (thread != kCurrentThreadHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(GetCurrentThreadId()));
  if (nice == -1 && errno != 0) return THREAD_PRIORITY_ERROR_RETURN;
  // The level whose nice value lies nearest: a nice value set by someone else still reads as
  // one of the Windows levels.
  const PriorityLevel* nearest = &kPriorityLevels[0];
  for (const PriorityLevel& level : kPriorityLevels) {
    const int distance = level.nice > nice ? level.nice - nice : nice - level.nice;
    const int best = nearest->nice > nice ? nearest->nice - nice : nice - nearest->nice;
    if (distance < best) nearest = &level;
  }
  return nearest->priority;
}

DWORD GetLastError() {
  return lastError;
}

void SetLastError(DWORD error) {
  lastError = error;
}

LONG InterlockedIncrement(volatile LONG* value) {
  return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(volatile LONG* value) {
  return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedExchange(volatile LONG* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

BOOL GetVersionExA(OSVERSIONINFOA* info) {
  if (info == nullptr || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->dwMajorVersion = 5;
  info->dwMinorVersion = 1;
  info->dwBuildNumber = 2600;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  info->szCSDVersion[0] = '\0';
  return TRUE;
}

DWORD GetVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  GetVersionExA(&info);
  return info.dwMajorVersion | (info.dwMinorVersion << 8) | ((info.dwBuildNumber & 0x7FFF) << 16);
}

LCID GetThreadLocale() {
  return 0x0409;
}

UINT GetACP() {
  return CP_UTF8;
}

int GetLocaleInfoA(LCID /*locale*/, LCTYPE type, LPSTR data, int size) {
  if (type != LOCALE_IDEFAULTANSICODEPAGE) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  char text[16];
  const int needed = std::snprintf(text, sizeof text, "%u", GetACP()) + 1;
  if (size == 0) return needed;
  if (data == nullptr || size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(data, text, static_cast<size_t>(needed));
  return needed;
}
