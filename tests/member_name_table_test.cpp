// Which side answers a name lookup: the member-name table, or the type information. The type
// information here is the component's real one, seen through a wrapper that counts the lookups
// it is asked for.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

#include "telvario_idl.h"
#include "test_strings.h"
#include "type_info_cache.h"

namespace telvario {
namespace {

class CountingTypeInfo final : public ITypeInfo {
 public:
  explicit CountingTypeInfo(ITypeInfo* real) : real_(real) {}
  int lookups = 0;

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
    ++lookups;
    return real_->GetIDsOfNames(names, count, ids);
  }

  // Everything else is the real type information's.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = nullptr;
    if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, IID_ITypeInfo)) return E_NOINTERFACE;
    *object = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** attributes) override {
    return real_->GetTypeAttr(attributes);
  }
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** comp) override {
    return real_->GetTypeComp(comp);
  }
  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** function) override {
    return real_->GetFuncDesc(index, function);
  }
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC** variable) override {
    return real_->GetVarDesc(index, variable);
  }
  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID id, BSTR* names, UINT most, UINT* count) override {
    return real_->GetNames(id, names, most, count);
  }
  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE* type) override {
    return real_->GetRefTypeOfImplType(index, type);
  }
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* flags) override {
    return real_->GetImplTypeFlags(index, flags);
  }
  HRESULT STDMETHODCALLTYPE Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) override {
    return real_->Invoke(instance, id, flags, params, result, exception, argumentError);
  }
  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID id, BSTR* name, BSTR* text,
                                             DWORD* helpContext, BSTR* helpFile) override {
    return real_->GetDocumentation(id, name, text, helpContext, helpFile);
  }
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID id, INVOKEKIND kind, BSTR* dll, BSTR* name,
                                        WORD* ordinal) override {
    return real_->GetDllEntry(id, kind, dll, name, ordinal);
  }
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE type, ITypeInfo** info) override {
    return real_->GetRefTypeInfo(type, info);
  }
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID id, INVOKEKIND kind, void** address) override {
    return real_->AddressOfMember(id, kind, address);
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    return real_->CreateInstance(outer, iid, object);
  }
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID id, BSTR* mops) override {
    return real_->GetMops(id, mops);
  }
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** library, UINT* index) override {
    return real_->GetContainingTypeLib(library, index);
  }
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* attributes) override {
    real_->ReleaseTypeAttr(attributes);
  }
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* function) override {
    real_->ReleaseFuncDesc(function);
  }
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC* variable) override {
    real_->ReleaseVarDesc(variable);
  }

 private:
  ITypeInfo* real_;
};

class MemberNameTable : public ::testing::Test {
 protected:
  void SetUp() override {
    const HMODULE component = LoadLibraryA(TELVARIO_MODULE_PATH);
    ASSERT_NE(component, nullptr);
    BSTR path = nullptr;
    ASSERT_EQ(LoadModuleTypeLib(component, &path, &library_), S_OK);
    SysFreeString(path);
    ASSERT_EQ(library_->GetTypeInfoOfGuid(IID_ISonde, &real_), S_OK);
    counting_ = std::make_unique<CountingTypeInfo>(real_);
    cache_.typeInfo = counting_.get();
    ASSERT_EQ(BuildNameTable(cache_, counting_.get()), S_OK);
  }
  void TearDown() override {
    cache_.typeInfo = nullptr;  // the wrapper is not reference counted
    ReleaseTypeInfo(&cache_);
    if (real_ != nullptr) real_->Release();
    if (library_ != nullptr) library_->Release();
  }

  // The DISPIDs for the names, and how many times the type information was asked.
  std::vector<DISPID> Look(std::vector<const char*> names, HRESULT expected = S_OK) {
    std::deque<testing::TestBstr> texts;
    for (const char* name : names) texts.emplace_back(name);
    std::vector<LPOLESTR> pointers;
    for (auto& text : texts) pointers.push_back(text.Get());
    std::vector<DISPID> ids(names.size(), 12345);
    counting_->lookups = 0;
    EXPECT_EQ(CachedGetIDsOfNames(cache_, IID_NULL, pointers.data(),
                                  static_cast<UINT>(pointers.size()), 0, ids.data()),
              expected);
    return ids;
  }

  TypeInfoCache cache_{&IID_ISonde, &LIBID_TELVARIOLib, 1, 0};
  ITypeLib* library_ = nullptr;
  ITypeInfo* real_ = nullptr;
  std::unique_ptr<CountingTypeInfo> counting_;
};

TEST_F(MemberNameTable, AMemberNameAloneIsAnsweredByTheTable) {
  EXPECT_EQ(Look({"PingTime"}), std::vector<DISPID>{3});
  EXPECT_EQ(counting_->lookups, 0);
  EXPECT_EQ(Look({"UploadTest"}), std::vector<DISPID>{16});
  EXPECT_EQ(counting_->lookups, 0);
}

TEST_F(MemberNameTable, OtherSpellingsGoToTheTypeInformation) {
  EXPECT_EQ(Look({"pingtime"}), std::vector<DISPID>{3});
  EXPECT_EQ(counting_->lookups, 1);
  Look({"NoSuchMember"}, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(counting_->lookups, 1);
}

// The parameter of HostName is called Addr and that of Addr HostName: both are member names
// too, and must be read as the parameter's position.
TEST_F(MemberNameTable, NamedArgumentsAreTheTypeInformationsToAnswer) {
  EXPECT_EQ(Look({"HostName", "Addr"}), (std::vector<DISPID>{1, 0}));
  EXPECT_EQ(counting_->lookups, 1);
  EXPECT_EQ(Look({"Addr", "HostName"}), (std::vector<DISPID>{2, 0}));
  EXPECT_EQ(Look({"TraceRouteTime", "Hop"}), (std::vector<DISPID>{8, 1}));
  EXPECT_EQ(counting_->lookups, 1);
}

}  // namespace
}  // namespace telvario
