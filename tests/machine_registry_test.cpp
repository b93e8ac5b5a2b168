// The machine's registry beneath the user's, in the classes view: written by a process that
// registers for everyone, read by every other where its own registry has no answer.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "windows_api.h"

namespace {

namespace fs = std::filesystem;

bool SetText(HKEY root, const char* path, const char* text) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const LSTATUS status =
      RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                     static_cast<DWORD>(std::strlen(text) + 1));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

std::string Text(HKEY root, const char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<none>";
  char value[64] = {};
  DWORD size = sizeof value - 1;
  const LSTATUS status =
      RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? value : "<none>";
}

// Each case forks before this process first uses the registry: the machine's registry is
// written by a child of its own, as a package's installation writes it.
class MachineRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = fs::path(std::getenv("TELVARIO_REGISTRY")).parent_path() / "machine.sqlite3";
    setenv("TELVARIO_MACHINE_REGISTRY", path_.c_str(), 1);
    const pid_t child = fork();
    if (child == 0) {
      setenv("TELVARIO_REGISTRY_LAYER", "machine", 1);
      const bool written =
          SetText(HKEY_CLASSES_ROOT, "TelvarioMachineTest", "machine") &&
          SetText(HKEY_CLASSES_ROOT, "TelvarioShared", "machine") &&
          SetText(HKEY_CLASSES_ROOT, "CLSID\\{Machine}\\InprocServer32", "/machine/lib.so");
      _exit(written ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  fs::path path_;
};

TEST_F(MachineRegistry, AnswersWhatTheUsersRegistryDoesNot) {
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "TelvarioMachineTest"), "machine");
  // A key the user's registry has, and a subkey only the machine's has, opened below it.
  ASSERT_TRUE(SetText(HKEY_CLASSES_ROOT, "CLSID\\{User}", "user"));
  HKEY classes = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &classes), ERROR_SUCCESS);
  EXPECT_EQ(Text(classes, "{Machine}\\InprocServer32"), "/machine/lib.so");
  EXPECT_EQ(Text(classes, "{User}"), "user");
  RegCloseKey(classes);
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "NoSuchClass"), "<none>");
  // Only the classes view has the machine beneath it.
  EXPECT_EQ(Text(HKEY_CURRENT_USER, "Software\\Classes\\TelvarioMachineTest"), "<none>");
}

TEST_F(MachineRegistry, TheUsersOwnComesFirstAndTheMachinesIsNeverWritten) {
  ASSERT_TRUE(SetText(HKEY_CLASSES_ROOT, "TelvarioShared", "user"));
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "TelvarioShared"), "user");
  // What the user writes to a key the machine answered becomes the user's own.
  HKEY machine = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "TelvarioMachineTest", 0, KEY_ALL_ACCESS, &machine),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(machine, nullptr), ERROR_ACCESS_DENIED);
  const BYTE text[] = "mine";
  EXPECT_EQ(RegSetValueExA(machine, "Added", 0, REG_SZ, text, sizeof text), ERROR_SUCCESS);
  RegCloseKey(machine);
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "TelvarioMachineTest"), "<none>");  // the user's, no default
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "TelvarioMachineTest"), ERROR_SUCCESS);
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "TelvarioMachineTest"), "machine");  // the machine's again
}

// Users who may not write its folder read it: no write-ahead log beside it, readable by all.
TEST_F(MachineRegistry, EveryUserCanReadIt) {
  EXPECT_FALSE(fs::exists(path_.string() + "-wal"));
  struct stat info {};
  ASSERT_EQ(stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

}  // namespace
