// Sonde2's result codes and setting bounds as a script's host finds them: from the object's type
// information to the library that contains it, and there as enumerations read member by member,
// against the one list the interface definition takes them from.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "dispatch_test_support.h"

namespace {

using telvario::testing::Narrow;

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using RegisterFn = HRESULT(STDAPICALLTYPE*)();

struct Constant {
  std::string name;
  LONG value;
  std::string help;
};

struct Enumeration {
  std::string name;
  std::string help;
  std::vector<Constant> members;
};

// The members' help is compared apart: widl writes none.
bool operator==(const Constant& a, const Constant& b) {
  return a.name == b.name && a.value == b.value;
}

bool operator==(const Enumeration& a, const Enumeration& b) {
  return a.name == b.name && a.help == b.help && a.members == b.members;
}

std::ostream& operator<<(std::ostream& out, const Enumeration& e) {
  out << e.name << " (" << e.help << "):";
  for (const Constant& member : e.members) out << ' ' << member.name << '=' << member.value;
  return out;
}

// clang-format off
#define TELVARIO_ENUM(name, help) {#name, help, {
#define TELVARIO_ENUM_MEMBER(name, value, help) {#name, value, help},
#define TELVARIO_ENUM_END(name) }},
// clang-format on
const std::vector<Enumeration> kDefined = {
#include "sonde2_constants.def"
};
#undef TELVARIO_ENUM
#undef TELVARIO_ENUM_MEMBER
#undef TELVARIO_ENUM_END

std::string Take(BSTR text) {
  std::string narrow = Narrow(text);
  SysFreeString(text);
  return narrow;
}

// The constants of an enumeration's type information, in order.
void ReadMembers(ITypeInfo* info, Enumeration* read) {
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  const WORD count = attributes->cVars;
  EXPECT_EQ(attributes->cFuncs, 0);
  EXPECT_EQ(attributes->cbSizeInstance, 4u);
  info->ReleaseTypeAttr(attributes);
  for (WORD i = 0; i < count; ++i) {
    VARDESC* variable = nullptr;
    ASSERT_EQ(info->GetVarDesc(i, &variable), S_OK);
    EXPECT_EQ(variable->varkind, VAR_CONST);
    ASSERT_EQ(variable->lpvarValue->vt, VT_I4);
    BSTR name = nullptr;
    BSTR help = nullptr;
    EXPECT_EQ(info->GetDocumentation(variable->memid, &name, &help, nullptr, nullptr), S_OK);
    read->members.push_back({Take(name), variable->lpvarValue->lVal, Take(help)});
    info->ReleaseVarDesc(variable);
  }
  VARDESC* past = nullptr;
  EXPECT_EQ(info->GetVarDesc(count, &past), TYPE_E_ELEMENTNOTFOUND);
}

class Sonde2Enumerations : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    module_ = LoadLibraryA(TELVARIO_MODULE_PATH);
    ASSERT_NE(module_, nullptr);
    ASSERT_EQ(Export<RegisterFn>("DllRegisterServer")(), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(Export<GetClassObjectFn>("DllGetClassObject")(CLSID_Sonde2, IID_IClassFactory,
                                                            reinterpret_cast<void**>(&factory)),
              S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&sonde_)),
              S_OK);
    factory->Release();
  }
  void TearDown() override {
    if (sonde_ != nullptr) sonde_->Release();
    Export<RegisterFn>("DllUnregisterServer")();
    CoUninitialize();
  }
  template <typename Fn>
  Fn Export(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

  HMODULE module_ = nullptr;
  IDispatch* sonde_ = nullptr;
};

TEST_F(Sonde2Enumerations, TheObjectsLibraryListsThemAsDefined) {
  ITypeInfo* own = nullptr;
  ASSERT_EQ(sonde_->GetTypeInfo(0, 0, &own), S_OK);
  ITypeLib* library = nullptr;
  UINT ownIndex = 0;
  ASSERT_EQ(own->GetContainingTypeLib(&library, &ownIndex), S_OK);
  own->Release();
  BSTR ownName = nullptr;
  ASSERT_EQ(
      library->GetDocumentation(static_cast<INT>(ownIndex), &ownName, nullptr, nullptr, nullptr),
      S_OK);
  EXPECT_EQ(Take(ownName), "ISonde2");

  std::vector<Enumeration> read;
  const UINT count = library->GetTypeInfoCount();
  for (UINT index = 0; index < count; ++index) {
    TYPEKIND kind = TKIND_MAX;
    ASSERT_EQ(library->GetTypeInfoType(index, &kind), S_OK);
    if (kind != TKIND_ENUM) continue;
    BSTR name = nullptr;
    BSTR help = nullptr;
    ASSERT_EQ(library->GetDocumentation(static_cast<INT>(index), &name, &help, nullptr, nullptr),
              S_OK);
    read.push_back({Take(name), Take(help), {}});
    ITypeInfo* info = nullptr;
    ASSERT_EQ(library->GetTypeInfo(index, &info), S_OK);
    ReadMembers(info, &read.back());

    // A member by its name, whatever the case a script writes it in.
    LPOLESTR names[1] = {const_cast<LPOLESTR>(OLESTR("SONDE2MOSTSTREAMS"))};
    MEMBERID ids[1] = {};
    const HRESULT lookedUp = info->GetIDsOfNames(names, 1, ids);
    EXPECT_EQ(lookedUp == S_OK, read.back().name == "Sonde2Bound") << read.back().name;
    if (lookedUp == S_OK) {
      BSTR found = nullptr;
      UINT foundCount = 0;
      ASSERT_EQ(info->GetNames(ids[0], &found, 1, &foundCount), S_OK);
      ASSERT_EQ(foundCount, 1u);
      EXPECT_EQ(Take(found), "Sonde2MostStreams");
    }
    info->Release();
  }
  TYPEKIND past = TKIND_MAX;
  EXPECT_EQ(library->GetTypeInfoType(count, &past), TYPE_E_ELEMENTNOTFOUND);
  library->Release();

  EXPECT_EQ(read, kDefined);
  // widl writes no help for an enumeration's member; where the library has it, it is the list's.
  for (std::size_t e = 0; e < read.size() && e < kDefined.size(); ++e) {
    for (std::size_t m = 0; m < read[e].members.size(); ++m) {
      const std::string& help = read[e].members[m].help;
      if (!help.empty()) {
        EXPECT_EQ(help, kDefined[e].members[m].help);
      }
    }
  }
}

}  // namespace
