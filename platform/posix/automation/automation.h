// OLE Automation on a POSIX system: VARIANT and its coercions, the parameters of a late-bound
// call, and the type-library services (ITypeLib, ITypeInfo, loading and registration).
//
// What differs from Windows: a type library is not stored in the MSFT format but as a
// description in code (type_description.h) that a module exports under the symbol
// TELVARIO_TYPELIB_SYMBOL, whether it is the module itself or a ".tlb" module of its own. As on
// Windows, "path\N" names the module's type library N: its symbol carries N after the name
// (TelvarioTypeLibrary2), the first's none.
// ITypeInfo::Invoke calls the member through the object's slot table with libffi.
#ifndef TELVARIO_PLATFORM_POSIX_AUTOMATION_H
#define TELVARIO_PLATFORM_POSIX_AUTOMATION_H

#include "com.h"
#include "windows_types.h"

using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;
using SCODE = LONG;
using DATE = double;
using HREFTYPE = DWORD;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    char cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    float* pfltVal;
    double* pdblVal;
    VARIANT_BOOL* pboolVal;
    BSTR* pbstrVal;
    VARIANT* pvarVal;
    void* byref;
  };
};
using VARIANTARG = VARIANT;

struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr MEMBERID MEMBERID_NIL = -1;

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = static_cast<HRESULT>(0x80020001);
constexpr HRESULT DISP_E_PARAMNOTFOUND = static_cast<HRESULT>(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005);
constexpr HRESULT DISP_E_NONAMEDARGS = static_cast<HRESULT>(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000A);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = static_cast<HRESULT>(0x8002000F);
constexpr HRESULT DISP_E_NOTACOLLECTION = static_cast<HRESULT>(0x80020011);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = static_cast<HRESULT>(0x8002801D);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = static_cast<HRESULT>(0x8002802B);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = static_cast<HRESULT>(0x80029C4A);
constexpr HRESULT TYPE_E_REGISTRYACCESS = static_cast<HRESULT>(0x8002801C);

void VariantInit(VARIANT* value);
HRESULT VariantClear(VARIANT* value);
HRESULT VariantCopy(VARIANT* destination, const VARIANT* source);
// Coerces source (by reference or not) to the type vt into destination, which may be source.
HRESULT VariantChangeType(VARIANT* destination, const VARIANT* source, USHORT flags, VARTYPE vt);

// Text to an unsigned 32-bit number by the coercion rules above.
HRESULT VarUI4FromStr(LPCOLESTR text, LCID locale, ULONG flags, ULONG* out);

// Type descriptions.
enum TYPEKIND {
  TKIND_ENUM,
  TKIND_RECORD,
  TKIND_MODULE,
  TKIND_INTERFACE,
  TKIND_DISPATCH,
  TKIND_COCLASS,
  TKIND_ALIAS,
  TKIND_UNION,
  TKIND_MAX
};
enum FUNCKIND { FUNC_VIRTUAL, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH };
enum INVOKEKIND {
  INVOKE_FUNC = 1,
  INVOKE_PROPERTYGET = 2,
  INVOKE_PROPERTYPUT = 4,
  INVOKE_PROPERTYPUTREF = 8
};
enum CALLCONV {
  CC_FASTCALL,
  CC_CDECL,
  CC_MSCPASCAL,
  CC_PASCAL = CC_MSCPASCAL,
  CC_MACPASCAL,
  CC_STDCALL
};
enum SYSKIND { SYS_WIN16, SYS_WIN32, SYS_MAC, SYS_WIN64 };

constexpr USHORT PARAMFLAG_NONE = 0;
constexpr USHORT PARAMFLAG_FIN = 0x1;
constexpr USHORT PARAMFLAG_FOUT = 0x2;
constexpr USHORT PARAMFLAG_FRETVAL = 0x8;
constexpr WORD FUNCFLAG_FRESTRICTED = 0x1;
constexpr WORD TYPEFLAG_FCANCREATE = 0x2;
constexpr INT IMPLTYPEFLAG_FDEFAULT = 0x1;
constexpr INT IMPLTYPEFLAG_FSOURCE = 0x2;
constexpr WORD TYPEFLAG_FHIDDEN = 0x10;
constexpr WORD TYPEFLAG_FDUAL = 0x40;
constexpr WORD TYPEFLAG_FOLEAUTOMATION = 0x100;
constexpr WORD TYPEFLAG_FDISPATCHABLE = 0x1000;

struct TYPEDESC {
  union {
    TYPEDESC* lptdesc;
    HREFTYPE hreftype;
  };
  VARTYPE vt;
};

struct PARAMDESC {
  void* pparamdescex;
  USHORT wParamFlags;
};

struct ELEMDESC {
  TYPEDESC tdesc;
  PARAMDESC paramdesc;
};

struct FUNCDESC {
  MEMBERID memid;
  SCODE* lprgscode;
  ELEMDESC* lprgelemdescParam;
  FUNCKIND funckind;
  INVOKEKIND invkind;
  CALLCONV callconv;
  SHORT cParams;
  SHORT cParamsOpt;
  SHORT oVft;
  SHORT cScodes;
  ELEMDESC elemdescFunc;
  WORD wFuncFlags;
};

struct TYPEATTR {
  GUID guid;
  LCID lcid;
  DWORD dwReserved;
  MEMBERID memidConstructor;
  MEMBERID memidDestructor;
  OLECHAR* lpstrSchema;
  ULONG cbSizeInstance;
  TYPEKIND typekind;
  WORD cFuncs;
  WORD cVars;
  WORD cImplTypes;
  WORD cbSizeVft;
  WORD cbAlignment;
  WORD wTypeFlags;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  TYPEDESC tdescAlias;
};

struct TLIBATTR {
  GUID guid;
  LCID lcid;
  SYSKIND syskind;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  WORD wLibFlags;
};

// The members of an enumeration: constants, their values in lpvarValue.
enum VARKIND { VAR_PERINSTANCE, VAR_STATIC, VAR_CONST, VAR_DISPATCH };

struct VARDESC {
  MEMBERID memid;
  OLECHAR* lpstrSchema;
  union {
    ULONG oInst;
    VARIANT* lpvarValue;
  };
  ELEMDESC elemdescVar;
  WORD wVarFlags;
  VARKIND varkind;
};

class ITypeLib;
class ITypeComp;  // never handed out here

// The slots a caller of the type information uses, in Windows' order; the rest answer
// E_NOTIMPL.
class ITypeInfo : public IUnknown {
 public:
  virtual HRESULT GetTypeAttr(TYPEATTR** attributes) = 0;
  virtual HRESULT GetTypeComp(ITypeComp** comp) = 0;
  virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** function) = 0;
  virtual HRESULT GetVarDesc(UINT index, VARDESC** variable) = 0;
  virtual HRESULT GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) = 0;
  virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* type) = 0;
  virtual HRESULT GetImplTypeFlags(UINT index, INT* flags) = 0;
  virtual HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* memids) = 0;
  virtual HRESULT Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argumentError) = 0;
  virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* docString, DWORD* helpContext,
                                   BSTR* helpFile) = 0;
  virtual HRESULT GetDllEntry(MEMBERID memid, INVOKEKIND kind, BSTR* dll, BSTR* name,
                              WORD* ordinal) = 0;
  virtual HRESULT GetRefTypeInfo(HREFTYPE type, ITypeInfo** info) = 0;
  virtual HRESULT AddressOfMember(MEMBERID memid, INVOKEKIND kind, void** address) = 0;
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
  virtual HRESULT GetMops(MEMBERID memid, BSTR* mops) = 0;
  virtual HRESULT GetContainingTypeLib(ITypeLib** library, UINT* index) = 0;
  virtual void ReleaseTypeAttr(TYPEATTR* attributes) = 0;
  virtual void ReleaseFuncDesc(FUNCDESC* function) = 0;
  virtual void ReleaseVarDesc(VARDESC* variable) = 0;

 protected:
  ~ITypeInfo() = default;
};

class ITypeInfo2 : public ITypeInfo {
 protected:
  ~ITypeInfo2() = default;
};

class ITypeLib : public IUnknown {
 public:
  virtual UINT GetTypeInfoCount() = 0;
  virtual HRESULT GetTypeInfo(UINT index, ITypeInfo** info) = 0;
  virtual HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) = 0;
  virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) = 0;
  virtual HRESULT GetLibAttr(TLIBATTR** attributes) = 0;
  virtual HRESULT GetTypeComp(ITypeComp** comp) = 0;
  virtual HRESULT GetDocumentation(INT index, BSTR* name, BSTR* docString, DWORD* helpContext,
                                   BSTR* helpFile) = 0;
  virtual HRESULT IsName(LPOLESTR name, ULONG hash, BOOL* found) = 0;
  virtual HRESULT FindName(LPOLESTR name, ULONG hash, ITypeInfo** infos, MEMBERID* memids,
                           USHORT* found) = 0;
  virtual void ReleaseTLibAttr(TLIBATTR* attributes) = 0;

 protected:
  ~ITypeLib() = default;
};

constexpr IID IID_ITypeInfo2 = {0x00020412, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The symbol under which a module exports its type library description.
#define TELVARIO_TYPELIB_SYMBOL "TelvarioTypeLibrary"

HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** library);
HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID locale, ITypeLib** library);
// Records the library under HKCR\TypeLib\{libid}\major.minor (name, path for win32, help
// directory) and its interfaces under HKCR\Interface, as Windows does.
HRESULT RegisterTypeLib(ITypeLib* library, LPOLESTR fullPath, LPOLESTR helpDirectory);
HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID locale, SYSKIND syskind);

#endif
