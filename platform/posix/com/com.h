// The COM contract as an in-process server meets it: interface identifiers, IUnknown and the
// interfaces the component implements or calls, with Windows' slot orders. An interface is a
// C++ class of pure virtual functions, so its slot table is the class's virtual table, in
// declaration order, as on Windows (with one calling convention here).
#ifndef TELVARIO_PLATFORM_POSIX_COM_H
#define TELVARIO_PLATFORM_POSIX_COM_H

#include <cstring>

#include "windows_types.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool operator==(REFGUID a, REFGUID b) {
  return IsEqualGUID(a, b);
}
inline bool operator!=(REFGUID a, REFGUID b) {
  return !IsEqualGUID(a, b);
}

// The identifier as registry text with braces; the characters written with the terminator
// (39), or 0 when maxChars is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR text, int maxChars);

// COM's task allocator.
void* CoTaskMemAlloc(SIZE_T size);
void* CoTaskMemRealloc(void* memory, SIZE_T size);
void CoTaskMemFree(void* memory);

#define STDMETHODIMP HRESULT
#define STDMETHODIMP_(type) type
// Exported from the library, as a .def file exports them on Windows.
#define STDAPICALLTYPE
#define STDAPI extern "C" __attribute__((visibility("default"))) HRESULT

constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003);

constexpr IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IObjectWithSite = {
    0xFC4801A3, 0x2BA9, 0x11CF, {0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D, 0x73, 0x52}};
constexpr IID IID_IObjectSafety = {
    0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};

constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_CALLER = 0x00000001;
constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_DATA = 0x00000002;

class IUnknown {
 public:
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;  // objects end through Release
};

class IClassFactory : public IUnknown {
 public:
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

// Automation's types as IDispatch's slots name them; their services come with late binding.
using DISPID = LONG;
using MEMBERID = DISPID;
class ITypeInfo;
struct VARIANT;
struct DISPPARAMS;
struct EXCEPINFO;

class IDispatch : public IUnknown {
 public:
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                DISPID* dispids) = 0;
  virtual HRESULT Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argumentError) = 0;

 protected:
  ~IDispatch() = default;
};

// Activation of in-process servers through the registry: the class's InprocServer32 module is
// loaded (and stays loaded) and asked for its class object. Other contexts are not served.
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x8004015F);
constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9);
// Apartments are not modelled: initialising succeeds and changes nothing.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" to an identifier; CO_E_CLASSSTRING otherwise.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);

class IGlobalInterfaceTable : public IUnknown {
 public:
  virtual HRESULT RegisterInterfaceInGlobal(IUnknown* object, REFIID iid, DWORD* cookie) = 0;
  virtual HRESULT RevokeInterfaceFromGlobal(DWORD cookie) = 0;
  virtual HRESULT GetInterfaceFromGlobal(DWORD cookie, REFIID iid, void** object) = 0;

 protected:
  ~IGlobalInterfaceTable() = default;
};

using CATID = GUID;
class ICatRegister : public IUnknown {
 public:
  virtual HRESULT RegisterCategories(ULONG count, void* info) = 0;
  virtual HRESULT UnRegisterCategories(ULONG count, CATID* catids) = 0;
  virtual HRESULT RegisterClassImplCategories(REFCLSID clsid, ULONG count, CATID* catids) = 0;
  virtual HRESULT UnRegisterClassImplCategories(REFCLSID clsid, ULONG count, CATID* catids) = 0;
  virtual HRESULT RegisterClassReqCategories(REFCLSID clsid, ULONG count, CATID* catids) = 0;
  virtual HRESULT UnRegisterClassReqCategories(REFCLSID clsid, ULONG count, CATID* catids) = 0;

 protected:
  ~ICatRegister() = default;
};

constexpr CLSID CLSID_StdGlobalInterfaceTable = {
    0x00000323, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IGlobalInterfaceTable = {
    0x00000146, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr CLSID CLSID_StdComponentCategoriesMgr = {
    0x0002E005, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_ICatRegister = {0x0002E012, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr CLSID CLSID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

class IObjectWithSite : public IUnknown {
 public:
  virtual HRESULT SetSite(IUnknown* site) = 0;
  virtual HRESULT GetSite(REFIID iid, void** site) = 0;

 protected:
  ~IObjectWithSite() = default;
};

class IObjectSafety : public IUnknown {
 public:
  virtual HRESULT GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) = 0;
  virtual HRESULT SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) = 0;

 protected:
  ~IObjectSafety() = default;
};

#endif
