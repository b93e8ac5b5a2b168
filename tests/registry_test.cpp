// The registry as the component uses it, under a scratch key of the current user's that the
// tests make and remove: the real registry on Windows, the SQLite one elsewhere.
#include <gtest/gtest.h>

#include <string>

#include "windows_api.h"

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = "Software\\TelvarioTest-" + std::to_string(GetCurrentThreadId()) + "-" +
               std::to_string(GetTickCount());
    DWORD disposition = 0;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, scratch_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key_, &disposition),
        ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  }
  void TearDown() override {
    if (key_ != nullptr) RegCloseKey(key_);
    RemoveTree(HKEY_CURRENT_USER, scratch_);
  }

  // Deletes a key and everything below it, the deepest first. Names go relative to their
  // parent: a full path may be longer than the narrow calls take.
  static void RemoveTree(HKEY parent, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    char child[256];
    DWORD length = sizeof child;
    DWORD index = 0;  // past the children that could not be removed
    while (RegEnumKeyExA(key, index, child, &length, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS) {
      RemoveTree(key, child);
      HKEY left = nullptr;
      if (RegOpenKeyExA(key, child, 0, KEY_READ, &left) == ERROR_SUCCESS) {
        RegCloseKey(left);
        ++index;
      }
      length = sizeof child;
    }
    RegCloseKey(key);
    RegDeleteKeyA(parent, name.c_str());
  }

  HKEY Create(const char* subKey, DWORD* disposition = nullptr) {
    HKEY created = nullptr;
    EXPECT_EQ(RegCreateKeyExA(key_, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &created, disposition),
              ERROR_SUCCESS);
    return created;
  }

  std::string scratch_;
  HKEY key_ = nullptr;
};

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirCase) {
  DWORD disposition = 0;
  HKEY sub = Create("Alpha\\Beta", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  RegCloseKey(sub);
  sub = Create("ALPHA\\beta", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  const DWORD seven = 7;
  EXPECT_EQ(RegSetValueExA(sub, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&seven), 4),
            ERROR_SUCCESS);
  RegCloseKey(sub);

  HKEY opened = nullptr;
  ASSERT_EQ(RegOpenKeyExA(key_, "alpha\\BETA", 0, KEY_READ, &opened), ERROR_SUCCESS);
  DWORD type = 0, value = 0, size = sizeof value;
  EXPECT_EQ(
      RegQueryValueExA(opened, "COUNT", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 7u);
  RegCloseKey(opened);

  char name[16];
  DWORD length = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "Alpha");
  EXPECT_EQ(length, 5u);
}

TEST_F(RegistryTest, MissingKeysAndValuesGiveFileNotFound) {
  HKEY missing = nullptr;
  EXPECT_EQ(RegOpenKeyExA(key_, "Nowhere", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
  DWORD size = 4;
  BYTE data[4];
  EXPECT_EQ(RegQueryValueExA(key_, "Nothing", nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(key_, "Nothing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(key_, "Nowhere"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ShortBufferGivesMoreDataAndTheSizeNeeded) {
  const char text[] = "Apartment";
  ASSERT_EQ(RegSetValueExA(key_, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                           sizeof text),
            ERROR_SUCCESS);
  BYTE data[4];
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(key_, "ThreadingModel", nullptr, nullptr, data, &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof text);
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key_, "ThreadingModel", nullptr, nullptr, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, sizeof text);
  char whole[32] = {};
  size = sizeof whole;
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExA(key_, "threadingmodel", nullptr, &type, reinterpret_cast<BYTE*>(whole),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(whole, "Apartment");
}

TEST_F(RegistryTest, DefaultValueHasNoName) {
  const char text[] = "Sonde Class";
  ASSERT_EQ(
      RegSetValueExA(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
      ERROR_SUCCESS);
  char read[32] = {};
  DWORD size = sizeof read;
  EXPECT_EQ(RegQueryValueExA(key_, "", nullptr, nullptr, reinterpret_cast<BYTE*>(read), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(read, "Sonde Class");
  EXPECT_EQ(RegDeleteValueA(key_, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key_, ""), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, KeyWithSubkeysIsNotDeleted) {
  RegCloseKey(Create("Parent\\Child"));
  EXPECT_NE(RegDeleteKeyA(key_, "Parent"), ERROR_SUCCESS);
  HKEY still = nullptr;
  ASSERT_EQ(RegOpenKeyExA(key_, "Parent\\Child", 0, KEY_READ, &still), ERROR_SUCCESS);
  RegCloseKey(still);
  EXPECT_EQ(RegDeleteKeyA(key_, "Parent\\Child"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(key_, "Parent"), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(key_, "Parent", 0, KEY_READ, &still), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, EnumerationAndInformationCountWhatIsThere) {
  RegCloseKey(Create("One"));
  RegCloseKey(Create("Three"));
  RegCloseKey(Create("Two"));
  const DWORD zero = 0;
  RegSetValueExA(key_, "A", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), 4);
  DWORD subKeys = 0, values = 0, longest = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, &subKeys, &longest, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 3u);
  EXPECT_EQ(values, 1u);
  EXPECT_EQ(longest, 5u);

  char name[16];
  DWORD length = 3;  // "One" needs 4 with its NUL
  EXPECT_EQ(RegEnumKeyExA(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  length = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(key_, 3, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
}

// Names longer than Windows allows cannot be made: a key name of 255 characters is the longest
// (Windows refuses longer ones; where a system accepts a few more, the test's 300 is still
// refused), a value name of 16,383.
TEST_F(RegistryTest, NamesPastWindowsLimitsAreRefused) {
  const std::string longest(255, 'k');
  RegCloseKey(Create(longest.c_str()));
  const std::string tooLong(300, 'k');
  HKEY made = nullptr;
  EXPECT_NE(RegCreateKeyExA(key_, tooLong.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &made, nullptr),
            ERROR_SUCCESS);
  EXPECT_NE(RegCreateKeyExA(key_, ("Parent\\" + tooLong).c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &made, nullptr),
            ERROR_SUCCESS);
  EXPECT_NE(RegOpenKeyExA(key_, tooLong.c_str(), 0, KEY_READ, &made), ERROR_SUCCESS);
  EXPECT_NE(RegDeleteKeyA(key_, tooLong.c_str()), ERROR_SUCCESS);

  // Only the longest name is there, and it fits the 256 bytes sized for a key name.
  char name[256];
  DWORD length = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(name), longest);
  length = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(key_, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);

  const DWORD one = 1;
  const auto* data = reinterpret_cast<const BYTE*>(&one);
  EXPECT_EQ(RegSetValueExA(key_, std::string(16383, 'v').c_str(), 0, REG_DWORD, data, 4),
            ERROR_SUCCESS);
  const std::string tooLongValue(16384, 'v');
  EXPECT_EQ(RegSetValueExA(key_, tooLongValue.c_str(), 0, REG_DWORD, data, 4),
            ERROR_INVALID_PARAMETER);
  DWORD size = 4, read = 0;
  EXPECT_EQ(RegQueryValueExA(key_, tooLongValue.c_str(), nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&read), &size),
            ERROR_FILE_NOT_FOUND);
}

}  // namespace
