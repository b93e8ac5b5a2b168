// Kernel services of the Windows API on a POSIX system: the performance counter and tick count,
// system time, sleeping, thread priority and identity, the thread's last error, system version
// and locale queries, and code-page conversion between UTF-16 and multi-byte text.
//
// What differs from Windows:
// - The performance counter is CLOCK_MONOTONIC in nanoseconds (frequency 10^9); it never fails.
// - Thread priority maps the Windows levels onto the thread's nice value. Lowering it is within
//   anyone's reach; raising it (a lower nice value, also back from a level once lowered) needs
//   CAP_SYS_NICE or room under RLIMIT_NICE. Without that SetThreadPriority fails with
//   ERROR_ACCESS_DENIED, as Windows does for a thread handle without the right access, and the
//   thread keeps the level it had.
// - The system reports the NT family, version 5.1; the ANSI code page of every thread, and every
//   code page a caller may name through CP_ACP, CP_THREAD_ACP or CP_UTF8, is UTF-8.
#ifndef TELVARIO_PLATFORM_POSIX_KERNEL_H
#define TELVARIO_PLATFORM_POSIX_KERNEL_H

#include "windows_types.h"

// Performance counter, tick count and system time.
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
DWORD GetTickCount();
void GetSystemTimeAsFileTime(FILETIME* time);

// The runtime library's clock() of the Windows build: milliseconds since the runtime started,
// taken from the system time. (The C library's clock() here counts processor time instead.)
LONG RuntimeClock();

// Sleeping and threads.
constexpr DWORD INFINITE = 0xFFFFFFFF;
void Sleep(DWORD milliseconds);
// Sleeps as Sleep does; alertable, it runs the asynchronous procedure calls queued to this thread
// (apc_queue.h) and returns WAIT_IO_COMPLETION once they ran, or 0 when the time passed without.
constexpr DWORD WAIT_IO_COMPLETION = 0xC0;
DWORD SleepEx(DWORD milliseconds, BOOL alertable);
HANDLE GetCurrentThread();
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// Where the file-name extension of a path begins: its dot, or the terminating NUL.
char* PathFindExtensionA(const char* path);

// Threads. A thread's handle is signalled when the thread ends, and its exit code stays
// readable until the last handle is closed; closing the handle does not end the thread.
// Ending a thread by force is not available: it would leave the locks and memory the thread
// holds in an unknown state. TerminateThread therefore fails with ERROR_NOT_SUPPORTED and the
// thread runs on; the module holding its routine then stays loaded for the rest of the process,
// so that its code cannot be unloaded under it.
struct SECURITY_ATTRIBUTES;
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD STILL_ACTIVE = 259;
HANDLE CreateThread(SECURITY_ATTRIBUTES* security, SIZE_T stackSize, LPTHREAD_START_ROUTINE routine,
                    LPVOID parameter, DWORD flags, DWORD* threadId);
// Waits for a thread's handle only.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
BOOL TerminateThread(HANDLE thread, DWORD exitCode);
BOOL CloseHandle(HANDLE handle);

// Thread identity. A POSIX thread cannot impersonate another user: no thread has a token of
// its own, so OpenThreadToken fails with ERROR_NO_TOKEN, and a thread is given none back.
constexpr DWORD TOKEN_IMPERSONATE = 0x0004;
constexpr DWORD TOKEN_QUERY = 0x0008;
BOOL OpenThreadToken(HANDLE thread, DWORD access, BOOL openAsSelf, HANDLE* token);
// Only the removal of a thread's token (null) is provided.
BOOL SetThreadToken(HANDLE* thread, HANDLE token);

constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);

// Critical sections: re-entrant locks. Set-up and entry throw std::bad_alloc when memory is
// short, where Windows raises STATUS_NO_MEMORY.
struct CRITICAL_SECTION {
  void* lock;
};
void InitializeCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);

// Modules: this layer's stand-in for a DLL is a shared library, its handle the address at which
// it is loaded.
using HINSTANCE = void*;
using HMODULE = void*;
using FARPROC = void (*)();
constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
// In a process whose program file raised its privileges, a path loads only from the
// installation's library folder; another fails with ERROR_ACCESS_DENIED (module_trust.h).
HMODULE LoadLibraryA(LPCSTR fileName);
constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x2;
// A module's resources are read from a shared object too, so a data-file load opens it like
// any other (its initialisers run, unlike Windows' mapping of a data file).
HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE file, DWORD flags);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
BOOL DisableThreadLibraryCalls(HMODULE module);
// The file of a loaded module (a handle from LoadLibraryA), or of the program for null.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
// The module holding an address (with FROM_ADDRESS), kept loaded for good with PIN; other
// uses are not provided. With PIN the object is never unloaded, as Windows keeps a pinned DLL.
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_PIN = 0x1;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x4;
BOOL GetModuleHandleExA(DWORD flags, LPCSTR moduleName, HMODULE* module);

// The runtime library's pseudo-random numbers of the Windows build: a linear congruential
// generator per thread (state x 214013 + 2531011, bits 16 to 30 returned), seeded with 1.
// The C library's rand() here is another generator.
void RuntimeSeedRandom(unsigned int seed);
int RuntimeRandom();

// Formats as wsprintfA does: into at most 1024 bytes; integers without a size are 32 bits
// wide and "l" names 32 bits too; no floating point.
int wsprintfA(LPSTR buffer, LPCSTR format, ...);

// The calling thread's last error.
DWORD GetLastError();
void SetLastError(DWORD error);

// Interlocked operations on 32-bit counts.
LONG InterlockedIncrement(volatile LONG* value);
LONG InterlockedDecrement(volatile LONG* value);
LONG InterlockedExchange(volatile LONG* target, LONG value);

// System version and locale.
struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
};
constexpr DWORD VER_PLATFORM_WIN32s = 0;
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
BOOL GetVersionExA(OSVERSIONINFOA* info);
// The version word: major in the low byte, minor in the next, the build in the high word with
// its top bit clear for the NT family.
DWORD GetVersion();

constexpr LCTYPE LOCALE_IDEFAULTANSICODEPAGE = 0x1004;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
LCID GetThreadLocale();
int GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size);
UINT GetACP();

// Code-page conversion.
constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_THREAD_ACP = 3;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x00000080;
int lstrlenW(LPCWSTR text);

// Narrow text in the ANSI code page, UTF-8 here: CharNextA steps over one whole character (a
// malformed byte counts as one), never past the terminating NUL. UTF-8 has no lead bytes in the
// double-byte sense, so IsDBCSLeadByte is always false. lstrcmpiA folds ASCII letters only.
LPSTR CharNextA(LPCSTR text);
BOOL IsDBCSLeadByte(BYTE test);
int lstrcmpiA(LPCSTR a, LPCSTR b);
LPSTR lstrcpynA(LPSTR destination, LPCSTR source, int maxChars);
int lstrlenA(LPCSTR text);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceBytes, LPWSTR target,
                        int targetChars);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceChars, LPSTR target,
                        int targetBytes, LPCSTR defaultChar, BOOL* usedDefaultChar);

#endif
