// The posix registry between processes: what one process wrote another reads after it has
// ended, and two processes writing at once lose nothing.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "windows_api.h"

namespace {

const std::string kKey = "Software\\TelvarioProcessTest-" + std::to_string(getpid());

// Runs body in a child process; true when it exited with 0.
template <typename Body>
pid_t Spawn(Body body) {
  const pid_t child = fork();
  if (child == 0) _exit(body() ? 0 : 1);
  return child;
}

bool Succeeded(pid_t child) {
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool WriteValues(const char* prefix, int count) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool ok = true;
  for (int i = 0; i < count && ok; ++i) {
    const std::string name = prefix + std::to_string(i);
    const DWORD value = static_cast<DWORD>(i);
    ok = RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        4) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return ok;
}

// Both cases fork before this process opens the registry: a connection is not shared across
// a fork.
TEST(RegistryProcesses, TwoWritersAtOnceLoseNothingAndTheirWritesOutliveThem) {
  const pid_t first = Spawn([] { return WriteValues("first", 150); });
  const pid_t second = Spawn([] { return WriteValues("second", 150); });
  ASSERT_TRUE(Succeeded(first));
  ASSERT_TRUE(Succeeded(second));

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 300u);
  DWORD value = 0, size = 4;
  EXPECT_EQ(
      RegQueryValueExA(key, "SECOND149", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(value, 149u);
  RegCloseKey(key);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kKey.c_str()), ERROR_SUCCESS);
}

}  // namespace
