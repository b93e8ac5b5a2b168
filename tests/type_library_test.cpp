// The type library that widl makes from the interface definition, read back through the
// system's own type-library services: the library, the class and ISonde's member table; and the
// posix descriptions against both libraries: their types in order, interfaces and enumerations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sonde2_type_library.h"
#include "sonde_type_library.h"
#include "telvario_idl.h"
#include "windows_api.h"

namespace {

using WideString = std::basic_string<OLECHAR>;

struct Member {
  const OLECHAR* name;
  MEMBERID dispid;
  INVOKEKIND kind;
  SHORT inputs;
  VARTYPE result;  // VT_EMPTY: none
};

// In slot order, after the three IUnknown and four IDispatch slots.
const Member kMembers[] = {
    {OLESTR("HostName"), 1, INVOKE_PROPERTYGET, 1, VT_BSTR},
    {OLESTR("Addr"), 2, INVOKE_PROPERTYGET, 1, VT_BSTR},
    {OLESTR("PingTime"), 3, INVOKE_PROPERTYGET, 1, VT_I2},
    {OLESTR("PacketSize"), 4, INVOKE_PROPERTYGET, 0, VT_I2},
    {OLESTR("PacketSize"), 4, INVOKE_PROPERTYPUT, 1, VT_EMPTY},
    {OLESTR("PingReps"), 5, INVOKE_PROPERTYGET, 0, VT_I2},
    {OLESTR("PingReps"), 5, INVOKE_PROPERTYPUT, 1, VT_EMPTY},
    {OLESTR("NGoodPings"), 6, INVOKE_PROPERTYGET, 0, VT_I2},
    {OLESTR("ReplyIP"), 7, INVOKE_PROPERTYGET, 0, VT_BSTR},
    {OLESTR("TraceRouteTime"), 8, INVOKE_PROPERTYGET, 2, VT_I2},
    {OLESTR("ReadURL"), 9, INVOKE_PROPERTYGET, 1, VT_R4},
    {OLESTR("DataRead"), 10, INVOKE_PROPERTYGET, 0, VT_I4},
    {OLESTR("ElapsedTime"), 11, INVOKE_PROPERTYGET, 0, VT_R8},
    {OLESTR("DHCPServer"), 12, INVOKE_PROPERTYGET, 0, VT_BSTR},
    {OLESTR("is_DNS_OK"), 13, INVOKE_PROPERTYGET, 0, VT_I4},
    {OLESTR("RTT"), 14, INVOKE_PROPERTYGET, 1, VT_I2},
    {OLESTR("Sleep"), 15, INVOKE_FUNC, 1, VT_EMPTY},
    {OLESTR("UploadTest"), 16, INVOKE_PROPERTYGET, 1, VT_I4},
};

class TypeLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The build's Unix path, as Wine shows it on drive Z:.
    const std::string path = std::string("Z:") + TELVARIO_TYPELIB_PATH;
    OLECHAR widePath[1024] = {};
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, 1024);
    ASSERT_EQ(LoadTypeLib(widePath, &library_), S_OK);
  }
  void TearDown() override {
    if (library_ != nullptr) library_->Release();
  }

  friend void ExpectAgreement(ITypeLib*, const telvario::typelib::Library&);

 public:
  static WideString Text(BSTR text) {
    WideString result = text != nullptr ? WideString(text, SysStringLen(text)) : WideString();
    SysFreeString(text);
    return result;
  }

  ITypeLib* library_ = nullptr;
};

TEST_F(TypeLibraryTest, LibraryHasItsNameVersionAndLocale) {
  TLIBATTR* attributes = nullptr;
  ASSERT_EQ(library_->GetLibAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_TELVARIOLib));
  EXPECT_EQ(attributes->wMajorVerNum, 1);
  EXPECT_EQ(attributes->wMinorVerNum, 0);
  EXPECT_EQ(attributes->lcid, 0u);
  library_->ReleaseTLibAttr(attributes);
  BSTR name = nullptr, help = nullptr;
  ASSERT_EQ(library_->GetDocumentation(-1, &name, &help, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), OLESTR("TELVARIOLib"));
  EXPECT_EQ(Text(help), OLESTR("Telvario 1.0 Type Library"));
}

TEST_F(TypeLibraryTest, SondeIsCreatableWithISondeAsItsDefault) {
  ITypeInfo* info = nullptr;
  ASSERT_EQ(library_->GetTypeInfoOfGuid(CLSID_Sonde, &info), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
  EXPECT_NE(attributes->wTypeFlags & TYPEFLAG_FCANCREATE, 0);
  EXPECT_EQ(attributes->cImplTypes, 1);
  info->ReleaseTypeAttr(attributes);
  BSTR name = nullptr, help = nullptr;
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), OLESTR("Sonde"));
  EXPECT_EQ(Text(help), OLESTR("Sonde Class"));
  INT flags = 0;
  ASSERT_EQ(info->GetImplTypeFlags(0, &flags), S_OK);
  EXPECT_NE(flags & IMPLTYPEFLAG_FDEFAULT, 0);
  info->Release();
}

TEST_F(TypeLibraryTest, ISondeListsEveryMemberInSlotOrder) {
  ITypeInfo* dispatch = nullptr;
  ASSERT_EQ(library_->GetTypeInfoOfGuid(IID_ISonde, &dispatch), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(dispatch->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
  EXPECT_NE(attributes->wTypeFlags & TYPEFLAG_FDUAL, 0);
  dispatch->ReleaseTypeAttr(attributes);

  // The dual interface's vtable side.
  HREFTYPE vtableRef = 0;
  ITypeInfo* vtable = nullptr;
  ASSERT_EQ(dispatch->GetRefTypeOfImplType(-1, &vtableRef), S_OK);
  ASSERT_EQ(dispatch->GetRefTypeInfo(vtableRef, &vtable), S_OK);
  ASSERT_EQ(vtable->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
  EXPECT_NE(attributes->wTypeFlags & TYPEFLAG_FOLEAUTOMATION, 0);
  ASSERT_EQ(attributes->cFuncs, 18);
  vtable->ReleaseTypeAttr(attributes);

  BSTR help = nullptr;
  ASSERT_EQ(vtable->GetDocumentation(MEMBERID_NIL, nullptr, &help, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(help), OLESTR("ISonde Interface"));

  for (UINT slot = 0; slot < 18; ++slot) {
    const Member& member = kMembers[slot];
    SCOPED_TRACE(testing::Message() << "slot " << slot + 1);
    FUNCDESC* function = nullptr;
    ASSERT_EQ(vtable->GetFuncDesc(slot, &function), S_OK);
    EXPECT_EQ(function->memid, member.dispid);
    EXPECT_EQ(function->invkind, member.kind);
    EXPECT_EQ(function->oVft, static_cast<SHORT>((7 + slot) * sizeof(void*)));
    const bool hasResult = member.result != VT_EMPTY;
    ASSERT_EQ(function->cParams, member.inputs + (hasResult ? 1 : 0));
    if (hasResult) {
      const TYPEDESC& last = function->lprgelemdescParam[function->cParams - 1].tdesc;
      ASSERT_EQ(last.vt, VT_PTR);
      EXPECT_EQ(last.lptdesc->vt, member.result);
    }
    BSTR name = nullptr;
    BSTR memberHelp = nullptr;
    ASSERT_EQ(vtable->GetDocumentation(function->memid, &name, &memberHelp, nullptr, nullptr),
              S_OK);
    const WideString expectedName = member.name;
    EXPECT_EQ(Text(name), expectedName);
    const WideString prefix = member.kind == INVOKE_FUNC ? OLESTR("method ") : OLESTR("property ");
    EXPECT_EQ(Text(memberHelp), prefix + expectedName);
    vtable->ReleaseFuncDesc(function);
  }
  vtable->Release();
  dispatch->Release();
}

}  // namespace

namespace {

namespace typelib = telvario::typelib;

ITypeLib* LoadFromBuild(const char* unixPath) {
  const std::string path = std::string("Z:") + unixPath;  // as Wine shows it on drive Z:
  OLECHAR widePath[1024] = {};
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, 1024);
  ITypeLib* library = nullptr;
  return LoadTypeLib(widePath, &library) == S_OK ? library : nullptr;
}

// One function of an interface against the type information's, by its index in the dispatch
// side.
void ExpectFunctionAgrees(ITypeInfo* info, const typelib::Interface& described, WORD f) {
  const typelib::Function& expected = FunctionAt(described, f);
  SCOPED_TRACE(testing::Message() << "function " << f);
  FUNCDESC* function = nullptr;
  ASSERT_EQ(info->GetFuncDesc(f, &function), S_OK);
  EXPECT_EQ(function->memid, expected.memid);
  EXPECT_EQ(function->invkind, expected.invkind);
  EXPECT_EQ(function->funckind, FUNC_DISPATCH);
  EXPECT_EQ(function->oVft, static_cast<SHORT>(expected.slot * sizeof(void*)));
  EXPECT_EQ(function->wFuncFlags, expected.funcFlags);
  EXPECT_EQ(function->elemdescFunc.tdesc.vt, expected.result);
  ASSERT_EQ(function->cParams, expected.parameterCount);
  for (SHORT p = 0; p < function->cParams; ++p) {
    EXPECT_EQ(function->lprgelemdescParam[p].tdesc.vt, expected.parameters[p].type) << p;
    EXPECT_EQ(function->lprgelemdescParam[p].paramdesc.wParamFlags, expected.parameters[p].flags)
        << p;
  }
  BSTR names[16] = {};
  UINT count = 0;
  ASSERT_EQ(info->GetNames(function->memid, names, 16, &count), S_OK);
  std::vector<WideString> got;
  for (UINT n = 0; n < count; ++n) got.push_back(TypeLibraryTest::Text(names[n]));
  std::vector<WideString> want{expected.name};
  // A property's get and put share the names of the one listed first.
  const typelib::Function* first = &expected;
  for (WORD g = 0; g < f; ++g) {
    if (FunctionAt(described, g).memid == expected.memid) {
      first = &FunctionAt(described, g);
      break;
    }
  }
  for (SHORT p = 0; p < first->parameterCount; ++p) {
    if (first->parameters[p].name != nullptr) want.emplace_back(first->parameters[p].name);
  }
  EXPECT_EQ(got, want);
  BSTR memberHelp = nullptr;
  ASSERT_EQ(info->GetDocumentation(function->memid, nullptr, &memberHelp, nullptr, nullptr), S_OK);
  const WideString expectedHelp = expected.help != nullptr ? expected.help : WideString();
  EXPECT_EQ(TypeLibraryTest::Text(memberHelp), expectedHelp);
  info->ReleaseFuncDesc(function);
}

// The description that the posix build serves, member by member against widl's type library:
// Sonde's, and Sonde2's, whose ISonde2 lists ISonde's members first as its dispatch side does.
void ExpectAgreement(ITypeLib* library_, const typelib::Library& kSondeTypeLibrary) {
  auto Text = [](BSTR text) { return TypeLibraryTest::Text(text); };
  BSTR name = nullptr, help = nullptr;
  ASSERT_EQ(library_->GetDocumentation(-1, &name, &help, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), kSondeTypeLibrary.name);
  EXPECT_EQ(Text(help), kSondeTypeLibrary.help);

  for (UINT c = 0; c < kSondeTypeLibrary.coclassCount; ++c) {
    const typelib::Coclass& coclass = kSondeTypeLibrary.coclasses[c];
    ITypeInfo* info = nullptr;
    ASSERT_EQ(library_->GetTypeInfoOfGuid(*coclass.clsid, &info), S_OK);
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(Text(name), coclass.name);
    EXPECT_EQ(Text(help), coclass.help);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->wTypeFlags, coclass.typeFlags);
    info->ReleaseTypeAttr(attributes);
    info->Release();
  }

  for (UINT i = 0; i < kSondeTypeLibrary.interfaceCount; ++i) {
    const typelib::Interface& described = kSondeTypeLibrary.interfaces[i];
    ITypeInfo* info = nullptr;
    ASSERT_EQ(library_->GetTypeInfoOfGuid(*described.iid, &info), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attributes->wTypeFlags, described.typeFlags);
    ASSERT_EQ(attributes->cFuncs, FunctionCount(described));
    info->ReleaseTypeAttr(attributes);
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(Text(name), described.name);
    EXPECT_EQ(Text(help), described.help);

    for (WORD f = 0; f < FunctionCount(described); ++f) ExpectFunctionAgrees(info, described, f);
    info->Release();
  }
}

WideString OrEmpty(const OLECHAR* text) {
  return text != nullptr ? WideString(text) : WideString();
}

// Every index holds the same kind of type under the same name in both.
void ExpectSameOrder(ITypeLib* library, const typelib::Library& described) {
  ASSERT_EQ(library->GetTypeInfoCount(), TypeCount(described));
  for (UINT index = 0; index < TypeCount(described); ++index) {
    SCOPED_TRACE(testing::Message() << "type " << index);
    const typelib::TypeAt type = TypeAtIndex(described, index);
    TYPEKIND kind = TKIND_MAX;
    ASSERT_EQ(library->GetTypeInfoType(index, &kind), S_OK);
    EXPECT_EQ(kind, type.enumeration != nullptr ? TKIND_ENUM
                    : type.dispatch != nullptr  ? TKIND_DISPATCH
                                                : TKIND_COCLASS);
    BSTR name = nullptr;
    ASSERT_EQ(library->GetDocumentation(static_cast<INT>(index), &name, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(TypeLibraryTest::Text(name), type.enumeration != nullptr ? type.enumeration->name
                                           : type.dispatch != nullptr  ? type.dispatch->name
                                                                       : type.coclass->name);
  }
}

// An enumeration's members as widl writes them: constants of type int numbered from 0x40000000,
// each with one name. widl takes no helpstring on a member: it has no help to compare.
void ExpectMembersAgree(ITypeInfo* info, const typelib::Enumeration& described) {
  for (WORD m = 0; m < described.memberCount; ++m) {
    const typelib::EnumMember& expected = described.members[m];
    SCOPED_TRACE(testing::Message() << "member " << m);
    VARDESC* variable = nullptr;
    ASSERT_EQ(info->GetVarDesc(m, &variable), S_OK);
    EXPECT_EQ(variable->memid, 0x40000000 + m);
    EXPECT_EQ(variable->varkind, VAR_CONST);
    EXPECT_EQ(variable->wVarFlags, 0);
    EXPECT_EQ(variable->elemdescVar.tdesc.vt, VT_INT);
    ASSERT_EQ(variable->lpvarValue->vt, VT_I4);
    EXPECT_EQ(variable->lpvarValue->lVal, expected.value);
    BSTR names[2] = {};
    UINT count = 0;
    ASSERT_EQ(info->GetNames(variable->memid, names, 2, &count), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(TypeLibraryTest::Text(names[0]), expected.name);
    BSTR help = nullptr;
    ASSERT_EQ(info->GetDocumentation(variable->memid, nullptr, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(TypeLibraryTest::Text(help), WideString());
    info->ReleaseVarDesc(variable);
  }
  VARDESC* past = nullptr;
  EXPECT_EQ(info->GetVarDesc(described.memberCount, &past), TYPE_E_ELEMENTNOTFOUND);
}

void ExpectEnumerationsAgree(ITypeLib* library, const typelib::Library& described) {
  for (UINT index = 0; index < TypeCount(described); ++index) {
    const typelib::Enumeration* enumeration = TypeAtIndex(described, index).enumeration;
    if (enumeration == nullptr) continue;
    SCOPED_TRACE(testing::Message() << "type " << index);
    ITypeInfo* info = nullptr;
    ASSERT_EQ(library->GetTypeInfo(index, &info), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_ENUM);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, GUID_NULL));
    EXPECT_EQ(attributes->cVars, enumeration->memberCount);
    EXPECT_EQ(attributes->cFuncs, 0);
    EXPECT_EQ(attributes->cImplTypes, 0);
    EXPECT_EQ(attributes->cbSizeInstance, 4u);
    EXPECT_EQ(attributes->cbAlignment, 4);
    EXPECT_EQ(attributes->wTypeFlags, 0);
    info->ReleaseTypeAttr(attributes);
    BSTR name = nullptr, help = nullptr;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(TypeLibraryTest::Text(name), enumeration->name);
    EXPECT_EQ(TypeLibraryTest::Text(help), OrEmpty(enumeration->help));
    ExpectMembersAgree(info, *enumeration);
    info->Release();
  }
}

TEST_F(TypeLibraryTest, PosixDescriptionsAgreeWithTheTypeLibraries) {
  ExpectAgreement(library_, telvario::kSondeTypeLibrary);
  ExpectSameOrder(library_, telvario::kSondeTypeLibrary);
  ITypeLib* second = LoadFromBuild(TELVARIO_TYPELIB2_PATH);
  ASSERT_NE(second, nullptr);
  ExpectAgreement(second, telvario::kSonde2TypeLibrary);
  ExpectSameOrder(second, telvario::kSonde2TypeLibrary);
  ExpectEnumerationsAgree(second, telvario::kSonde2TypeLibrary);
  second->Release();
}

}  // namespace
