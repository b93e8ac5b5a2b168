// The module's string table and version record, read from its file as any program reads them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "windows_api.h"

namespace {

TEST(ModuleVersion, StringHundredNamesTheProduct) {
  HMODULE module = LoadLibraryExA(TELVARIO_MODULE_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  char text[64] = {};
  EXPECT_EQ(LoadStringA(module, 100, text, sizeof text), 8);
  EXPECT_STREQ(text, "Telvario");
  char small[5] = {};
  EXPECT_EQ(LoadStringA(module, 100, small, sizeof small), 4);  // cut to the buffer
  EXPECT_STREQ(small, "Telv");
  EXPECT_EQ(LoadStringA(module, 101, text, sizeof text), 0);
  FreeLibrary(module);
}

std::string Text(const std::vector<char>& record, const char* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueA(record.data(), path.c_str(), &value, &length)) return "(none)";
  return length == 0 ? "" : static_cast<const char*>(value);
}

TEST(ModuleVersion, VersionRecordSaysWhatTheModuleIs) {
  DWORD handle = 1;
  const DWORD size = GetFileVersionInfoSizeA(TELVARIO_MODULE_PATH, &handle);
  ASSERT_GT(size, 0u);
  EXPECT_EQ(handle, 0u);
  std::vector<char> record(size);
  ASSERT_TRUE(GetFileVersionInfoA(TELVARIO_MODULE_PATH, 0, size, record.data()));

  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(record.data(), "\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);  // 1.0.0.4
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000004u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000004u);
  EXPECT_EQ(fixed->dwFileType, 2u);  // a DLL

  EXPECT_EQ(Text(record, "FileDescription"), "Telvario Module");
  EXPECT_EQ(Text(record, "FileVersion"), "1, 0, 0, 4");
  EXPECT_EQ(Text(record, "InternalName"), "Telvario");
  EXPECT_EQ(Text(record, "OriginalFilename"), "Telvario.DLL");
  EXPECT_EQ(Text(record, "ProductName"), "Telvario Module");
  EXPECT_EQ(Text(record, "OLESelfRegister"), "");
  EXPECT_EQ(Text(record, "NoSuchValue"), "(none)");

  ASSERT_TRUE(VerQueryValueA(record.data(), "\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  DWORD translation = 0;
  memcpy(&translation, value, sizeof translation);
  EXPECT_EQ(translation, 0x04B00409u);  // U.S. English, Unicode
}

}  // namespace
