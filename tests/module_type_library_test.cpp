// Finding a module's type library: embedded in it, or in a ".tlb" file of the same base name
// beside it, which is what registration loads.
#include <gtest/gtest.h>

#include <string>

#include "telvario_idl.h"
#include "test_strings.h"
#include "type_info_cache.h"

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void ExpectTelvarioLibrary(ITypeLib* library) {
  ASSERT_NE(library, nullptr);
  TLIBATTR* attributes = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_TELVARIOLib));
  library->ReleaseTLibAttr(attributes);
  library->Release();
}

TEST(ModuleTypeLib, EmbeddedInTheComponent) {
  const HMODULE component = LoadLibraryA(TELVARIO_MODULE_PATH);
  ASSERT_NE(component, nullptr);
  BSTR path = nullptr;
  ITypeLib* library = nullptr;
  ASSERT_EQ(telvario::LoadModuleTypeLib(component, &path, &library), S_OK);
  const std::string loaded = telvario::testing::TakeNarrow(path);
  EXPECT_FALSE(EndsWith(loaded, ".tlb")) << loaded;
  ExpectTelvarioLibrary(library);
}

TEST(ModuleTypeLib, BesideAModuleWithoutOne) {
  const HMODULE plain = LoadLibraryA(PLAIN_MODULE_PATH);
  ASSERT_NE(plain, nullptr);
  BSTR path = nullptr;
  ITypeLib* library = nullptr;
  ASSERT_EQ(telvario::LoadModuleTypeLib(plain, &path, &library), S_OK);
  const std::string loaded = telvario::testing::TakeNarrow(path);
  EXPECT_TRUE(EndsWith(loaded, "plain_module.tlb")) << loaded;
  ExpectTelvarioLibrary(library);
}

TEST(ModuleTypeLib, NeitherInNorBesideTheProgram) {
  BSTR path = reinterpret_cast<BSTR>(1);
  ITypeLib* library = reinterpret_cast<ITypeLib*>(1);
  EXPECT_TRUE(FAILED(telvario::LoadModuleTypeLib(nullptr, &path, &library)));
  EXPECT_EQ(path, nullptr);
  EXPECT_EQ(library, nullptr);
  EXPECT_EQ(telvario::LoadModuleTypeLib(nullptr, nullptr, &library), E_POINTER);
  EXPECT_EQ(telvario::LoadModuleTypeLib(nullptr, &path, nullptr), E_POINTER);
}

}  // namespace
