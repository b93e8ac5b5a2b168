// The objects behind ITypeLib and ITypeInfo on posix: a type library description that a module
// exports, and the type information of one of its enumerations, interfaces or classes.
#ifndef TELVARIO_PLATFORM_POSIX_TYPE_LIBRARY_H
#define TELVARIO_PLATFORM_POSIX_TYPE_LIBRARY_H

#include <atomic>

#include "automation.h"
#include "type_description.h"

namespace automation {

class TypeLibrary;

class TypeInfo final : public ITypeInfo {
 public:
  // The type at that index of the library, which it holds a reference to: that keeps the module
  // with the description loaded.
  TypeInfo(TypeLibrary* library, UINT index);

  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetTypeAttr(TYPEATTR** attributes) override;
  HRESULT GetTypeComp(ITypeComp** comp) override;
  HRESULT GetFuncDesc(UINT index, FUNCDESC** function) override;
  HRESULT GetVarDesc(UINT index, VARDESC** variable) override;
  HRESULT GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) override;
  HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* type) override;
  HRESULT GetImplTypeFlags(UINT index, INT* flags) override;
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* memids) override;
  HRESULT Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argumentError) override;
  HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* docString, DWORD* helpContext,
                           BSTR* helpFile) override;
  HRESULT GetDllEntry(MEMBERID memid, INVOKEKIND kind, BSTR* dll, BSTR* name,
                      WORD* ordinal) override;
  HRESULT GetRefTypeInfo(HREFTYPE type, ITypeInfo** info) override;
  HRESULT AddressOfMember(MEMBERID memid, INVOKEKIND kind, void** address) override;
  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  HRESULT GetMops(MEMBERID memid, BSTR* mops) override;
  HRESULT GetContainingTypeLib(ITypeLib** library, UINT* index) override;
  void ReleaseTypeAttr(TYPEATTR* attributes) override;
  void ReleaseFuncDesc(FUNCDESC* function) override;
  void ReleaseVarDesc(VARDESC* variable) override;

 private:
  ~TypeInfo();
  const telvario::typelib::Function* FindFunction(MEMBERID memid) const;
  const telvario::typelib::EnumMember* FindMember(MEMBERID memid) const;
  bool HasImplType(UINT index) const;

  std::atomic<ULONG> references_{1};
  TypeLibrary* library_;
  UINT index_;
  const telvario::typelib::Enumeration* enumeration_;  // one of these three is set
  const telvario::typelib::Interface* interface_;
  const telvario::typelib::Coclass* coclass_;
};

class TypeLibrary final : public ITypeLib {
 public:
  // Takes over the module handle, closed with the last reference.
  TypeLibrary(const telvario::typelib::Library* description, void* module);

  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  UINT GetTypeInfoCount() override;
  HRESULT GetTypeInfo(UINT index, ITypeInfo** info) override;
  HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override;
  HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override;
  HRESULT GetLibAttr(TLIBATTR** attributes) override;
  HRESULT GetTypeComp(ITypeComp** comp) override;
  HRESULT GetDocumentation(INT index, BSTR* name, BSTR* docString, DWORD* helpContext,
                           BSTR* helpFile) override;
  HRESULT IsName(LPOLESTR name, ULONG hash, BOOL* found) override;
  HRESULT FindName(LPOLESTR name, ULONG hash, ITypeInfo** infos, MEMBERID* memids,
                   USHORT* found) override;
  void ReleaseTLibAttr(TLIBATTR* attributes) override;

  const telvario::typelib::Library& Description() const { return *description_; }

 private:
  ~TypeLibrary();

  std::atomic<ULONG> references_{1};
  const telvario::typelib::Library* description_;
  void* module_;
};

// Calls the member of the function description on an object through its slot table, with the
// script's arguments converted to the parameter types. See ITypeInfo::Invoke.
HRESULT InvokeFunction(void* instance, const telvario::typelib::Function& function, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                       UINT* argumentError);

}  // namespace automation

#endif
