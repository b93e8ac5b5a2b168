#include "type_library.h"

#include <dlfcn.h>

#include <new>

#include "no_throw.h"
#include "oleaut.h"

namespace automation {
namespace {

using telvario::typelib::EnumMember;
using telvario::typelib::Function;

constexpr WORD kDispatchSlots = 7;  // IUnknown's and IDispatch's
// widl numbers an enumeration's members from this, in their order.
constexpr MEMBERID kFirstEnumMember = 0x40000000;

BSTR Copy(const OLECHAR* text) {
  return text != nullptr ? SysAllocString(text) : nullptr;
}

void SetIfWanted(BSTR* out, const OLECHAR* text) {
  if (out != nullptr) *out = Copy(text);
}

// Case-insensitive comparison of member and parameter names.
bool SameName(const OLECHAR* a, const OLECHAR* b) {
  if (a == nullptr || b == nullptr) return false;
  for (;; ++a, ++b) {
    OLECHAR x = *a;
    OLECHAR y = *b;
    if (x >= u'a' && x <= u'z') x = static_cast<OLECHAR>(x - u'a' + u'A');
    if (y >= u'a' && y <= u'z') y = static_cast<OLECHAR>(y - u'a' + u'A');
    if (x != y) return false;
    if (x == 0) return true;
  }
}

// The pointer type's target: the descriptions give only the top level of a type.
TYPEDESC voidTarget{{nullptr}, VT_VOID};

}  // namespace

TypeInfo::TypeInfo(TypeLibrary* library, UINT index) : library_(library), index_(index) {
  const telvario::typelib::TypeAt type = TypeAtIndex(library->Description(), index);
  enumeration_ = type.enumeration;
  interface_ = type.dispatch;
  coclass_ = type.coclass;
  library_->AddRef();
}

TypeInfo::~TypeInfo() {
  library_->Release();
}

HRESULT TypeInfo::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_ITypeInfo) {
    *object = static_cast<ITypeInfo*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG TypeInfo::AddRef() {
  return ++references_;
}

ULONG TypeInfo::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

const Function* TypeInfo::FindFunction(MEMBERID memid) const {
  if (interface_ == nullptr) return nullptr;
  for (WORD i = 0; i < FunctionCount(*interface_); ++i) {
    if (FunctionAt(*interface_, i).memid == memid) return &FunctionAt(*interface_, i);
  }
  return nullptr;
}

const EnumMember* TypeInfo::FindMember(MEMBERID memid) const {
  if (enumeration_ == nullptr || memid < kFirstEnumMember ||
      memid - kFirstEnumMember >= enumeration_->memberCount) {
    return nullptr;
  }
  return &enumeration_->members[memid - kFirstEnumMember];
}

HRESULT TypeInfo::GetTypeAttr(TYPEATTR** attributes) {
  if (attributes == nullptr) return E_INVALIDARG;
  auto* attr = new (std::nothrow) TYPEATTR{};
  if (attr == nullptr) return E_OUTOFMEMORY;
  attr->memidConstructor = attr->memidDestructor = MEMBERID_NIL;
  *attributes = attr;
  if (enumeration_ != nullptr) {
    // A [v1_enum] as widl writes it: a 32-bit value, its members constants, no GUID.
    attr->typekind = TKIND_ENUM;
    attr->cVars = enumeration_->memberCount;
    attr->cbSizeInstance = sizeof(LONG);
    attr->cbAlignment = sizeof(LONG);
    return S_OK;
  }
  attr->cbAlignment = sizeof(void*);
  attr->cImplTypes = coclass_ != nullptr && coclass_->defaultSource != nullptr ? 2 : 1;
  if (interface_ != nullptr) {
    attr->guid = *interface_->iid;
    attr->typekind = TKIND_DISPATCH;
    attr->cFuncs = FunctionCount(*interface_);
    attr->cbSizeVft = kDispatchSlots * sizeof(void*);
    attr->wTypeFlags = interface_->typeFlags;
  } else if (coclass_ != nullptr) {
    attr->guid = *coclass_->clsid;
    attr->typekind = TKIND_COCLASS;
    attr->wTypeFlags = coclass_->typeFlags;
  }
  return S_OK;
}

HRESULT TypeInfo::GetTypeComp(ITypeComp** /*comp*/) {
  return E_NOTIMPL;
}

HRESULT TypeInfo::GetFuncDesc(UINT index, FUNCDESC** function) {
  if (function == nullptr) return E_INVALIDARG;
  if (interface_ == nullptr || index >= FunctionCount(*interface_)) return TYPE_E_ELEMENTNOTFOUND;
  const Function& source = FunctionAt(*interface_, static_cast<WORD>(index));
  auto* description = new (std::nothrow) FUNCDESC{};
  ELEMDESC* parameters = nullptr;
  if (source.parameterCount > 0) {
    parameters = new (std::nothrow) ELEMDESC[static_cast<std::size_t>(source.parameterCount)]{};
  }
  if (description == nullptr || (source.parameterCount > 0 && parameters == nullptr)) {
    delete description;
    delete[] parameters;  // whichever of the two was had
    return E_OUTOFMEMORY;
  }
  for (SHORT i = 0; i < source.parameterCount; ++i) {
    parameters[i].tdesc.vt = source.parameters[i].type;
    if (source.parameters[i].type == VT_PTR) parameters[i].tdesc.lptdesc = &voidTarget;
    parameters[i].paramdesc.wParamFlags = source.parameters[i].flags;
  }
  description->memid = source.memid;
  description->lprgelemdescParam = parameters;
  description->funckind = FUNC_DISPATCH;
  description->invkind = source.invkind;
  description->callconv = CC_STDCALL;
  description->cParams = source.parameterCount;
  description->oVft = static_cast<SHORT>(source.slot * static_cast<SHORT>(sizeof(void*)));
  description->elemdescFunc.tdesc.vt = source.result;
  description->wFuncFlags = source.funcFlags;
  *function = description;
  return S_OK;
}

namespace {

// A member's description with the value it points to, in one allocation.
struct HeldVariable {
  VARDESC description;
  VARIANT value;
};

}  // namespace

HRESULT TypeInfo::GetVarDesc(UINT index, VARDESC** variable) {
  if (variable == nullptr) return E_INVALIDARG;
  if (enumeration_ == nullptr || index >= enumeration_->memberCount) return TYPE_E_ELEMENTNOTFOUND;
  auto* held = new (std::nothrow) HeldVariable{};
  if (held == nullptr) return E_OUTOFMEMORY;
  held->value.vt = VT_I4;
  held->value.lVal = enumeration_->members[index].value;
  VARDESC& description = held->description;
  description.memid = kFirstEnumMember + static_cast<MEMBERID>(index);
  description.lpvarValue = &held->value;
  description.elemdescVar.tdesc.vt = VT_INT;  // widl's type for an enumeration's members
  description.varkind = VAR_CONST;
  *variable = &description;
  return S_OK;
}

HRESULT TypeInfo::GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) {
  if (names == nullptr || count == nullptr) return E_INVALIDARG;
  *count = 0;
  if (const EnumMember* member = FindMember(memid)) {
    if (maxNames > 0) names[(*count)++] = Copy(member->name);
    return S_OK;
  }
  const Function* function = FindFunction(memid);
  if (function == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  if (maxNames > 0) names[(*count)++] = Copy(function->name);
  for (SHORT i = 0; i < function->parameterCount && *count < maxNames; ++i) {
    if (function->parameters[i].name != nullptr) {
      names[(*count)++] = Copy(function->parameters[i].name);
    }
  }
  return S_OK;
}

// A class's implemented types: its default interface (0), then its default source (1).
bool TypeInfo::HasImplType(UINT index) const {
  return coclass_ != nullptr && (index == 0 || (index == 1 && coclass_->defaultSource != nullptr));
}

HRESULT TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* type) {
  if (type == nullptr) return E_INVALIDARG;
  if (!HasImplType(index)) return TYPE_E_ELEMENTNOTFOUND;
  *type = index;
  return S_OK;
}

HRESULT TypeInfo::GetImplTypeFlags(UINT index, INT* flags) {
  if (flags == nullptr) return E_INVALIDARG;
  if (!HasImplType(index)) return TYPE_E_ELEMENTNOTFOUND;
  *flags = index == 0 ? IMPLTYPEFLAG_FDEFAULT : IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE;
  return S_OK;
}

HRESULT TypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* memids) {
  if (names == nullptr || memids == nullptr || count == 0) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) memids[i] = DISPID_UNKNOWN;
  // An enumeration's member by its name; a constant has no parameters, and names after the
  // first go unanswered, as the system's type information leaves them.
  for (WORD i = 0; enumeration_ != nullptr && i < enumeration_->memberCount; ++i) {
    if (SameName(enumeration_->members[i].name, names[0])) {
      memids[0] = kFirstEnumMember + i;
      return S_OK;
    }
  }
  const Function* member = nullptr;
  for (WORD i = 0; interface_ != nullptr && i < FunctionCount(*interface_); ++i) {
    if (SameName(FunctionAt(*interface_, i).name, names[0])) {
      member = &FunctionAt(*interface_, i);
      break;
    }
  }
  if (member == nullptr) return DISP_E_UNKNOWNNAME;
  memids[0] = member->memid;
  // The names after the first are the member's parameters, by their position.
  HRESULT result = S_OK;
  for (UINT n = 1; n < count; ++n) {
    for (SHORT p = 0; p < member->parameterCount; ++p) {
      if (SameName(member->parameters[p].name, names[n])) memids[n] = p;
    }
    if (memids[n] == DISPID_UNKNOWN) result = DISP_E_UNKNOWNNAME;
  }
  return result;
}

HRESULT TypeInfo::Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  return WithoutThrowing(ReportsHresult{}, [&]() -> HRESULT {
    if (instance == nullptr || params == nullptr) return E_INVALIDARG;
    // The member of that identifier whose kind the flags ask for; a property put is asked for
    // only by the put flags, a get or a method by either of the others.
    const Function* chosen = nullptr;
    bool known = false;
    for (WORD i = 0; interface_ != nullptr && i < FunctionCount(*interface_); ++i) {
      const Function& function = FunctionAt(*interface_, i);
      if (function.memid != memid || (function.funcFlags & FUNCFLAG_FRESTRICTED) != 0) continue;
      known = true;
      const bool put = function.invkind == INVOKE_PROPERTYPUT;
      const bool wanted = put ? (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0
                              : (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) != 0;
      if (wanted) {
        chosen = &function;
        break;
      }
    }
    if (!known || chosen == nullptr) return DISP_E_MEMBERNOTFOUND;
    return InvokeFunction(instance, *chosen, flags, params, result, exception, argumentError);
  });
}

HRESULT TypeInfo::GetDocumentation(MEMBERID memid, BSTR* name, BSTR* docString, DWORD* helpContext,
                                   BSTR* helpFile) {
  const OLECHAR* foundName = nullptr;
  const OLECHAR* foundHelp = nullptr;
  if (memid == MEMBERID_NIL && enumeration_ != nullptr) {
    foundName = enumeration_->name;
    foundHelp = enumeration_->help;
  } else if (memid == MEMBERID_NIL && interface_ != nullptr) {
    foundName = interface_->name;
    foundHelp = interface_->help;
  } else if (memid == MEMBERID_NIL && coclass_ != nullptr) {
    foundName = coclass_->name;
    foundHelp = coclass_->help;
  } else if (const EnumMember* member = FindMember(memid)) {
    foundName = member->name;
    foundHelp = member->help;
  } else if (const Function* function = FindFunction(memid)) {
    foundName = function->name;
    foundHelp = function->help;
  } else {
    return TYPE_E_ELEMENTNOTFOUND;
  }
  SetIfWanted(name, foundName);
  SetIfWanted(docString, foundHelp);
  if (helpContext != nullptr) *helpContext = 0;
  SetIfWanted(helpFile, nullptr);
  return S_OK;
}

HRESULT TypeInfo::GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) {
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE type, ITypeInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = nullptr;
  if (!HasImplType(type)) return TYPE_E_ELEMENTNOTFOUND;
  return library_->GetTypeInfoOfGuid(
      type == 0 ? *coclass_->defaultInterface : *coclass_->defaultSource, info);
}

HRESULT TypeInfo::AddressOfMember(MEMBERID, INVOKEKIND, void**) {
  return E_NOTIMPL;
}

HRESULT TypeInfo::CreateInstance(IUnknown*, REFIID, void**) {
  return E_NOTIMPL;
}

HRESULT TypeInfo::GetMops(MEMBERID, BSTR* mops) {
  if (mops != nullptr) *mops = nullptr;
  return S_OK;
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** library, UINT* index) {
  if (library != nullptr) {
    library_->AddRef();
    *library = library_;
  }
  if (index != nullptr) *index = index_;
  return S_OK;
}

void TypeInfo::ReleaseTypeAttr(TYPEATTR* attributes) {
  delete attributes;
}

void TypeInfo::ReleaseFuncDesc(FUNCDESC* function) {
  if (function == nullptr) return;
  delete[] function->lprgelemdescParam;
  delete function;
}

void TypeInfo::ReleaseVarDesc(VARDESC* variable) {
  // The description is the first member of what GetVarDesc allocated.
  delete reinterpret_cast<HeldVariable*>(variable);
}

TypeLibrary::TypeLibrary(const telvario::typelib::Library* description, void* module)
    : description_(description), module_(module) {}

TypeLibrary::~TypeLibrary() {
  if (module_ != nullptr) dlclose(module_);
}

HRESULT TypeLibrary::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_ITypeLib) {
    *object = static_cast<ITypeLib*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG TypeLibrary::AddRef() {
  return ++references_;
}

ULONG TypeLibrary::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

UINT TypeLibrary::GetTypeInfoCount() {
  return TypeCount(*description_);
}

HRESULT TypeLibrary::GetTypeInfo(UINT index, ITypeInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = nullptr;
  if (index >= GetTypeInfoCount()) return TYPE_E_ELEMENTNOTFOUND;
  auto* made = new (std::nothrow) TypeInfo(this, index);
  if (made == nullptr) return E_OUTOFMEMORY;
  *info = made;
  return S_OK;
}

HRESULT TypeLibrary::GetTypeInfoType(UINT index, TYPEKIND* kind) {
  if (kind == nullptr) return E_INVALIDARG;
  const telvario::typelib::TypeAt type = TypeAtIndex(*description_, index);
  if (type.enumeration != nullptr) {
    *kind = TKIND_ENUM;
  } else if (type.dispatch != nullptr) {
    *kind = TKIND_DISPATCH;
  } else if (type.coclass != nullptr) {
    *kind = TKIND_COCLASS;
  } else {
    return TYPE_E_ELEMENTNOTFOUND;
  }
  return S_OK;
}

// The first type with that GUID; an enumeration has none (GUID_NULL), as widl writes it.
HRESULT TypeLibrary::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = nullptr;
  UINT index = 0;
  const bool found = VisitTypes(*description_, [&](const telvario::typelib::TypeAt& type) {
    const GUID own = type.dispatch != nullptr  ? *type.dispatch->iid
                     : type.coclass != nullptr ? *type.coclass->clsid
                                               : GUID{};
    if (own == guid) return true;
    ++index;
    return false;
  });
  return found ? GetTypeInfo(index, info) : TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeLibrary::GetLibAttr(TLIBATTR** attributes) {
  if (attributes == nullptr) return E_INVALIDARG;
  auto* attr = new (std::nothrow) TLIBATTR{};
  if (attr == nullptr) return E_OUTOFMEMORY;
  attr->guid = *description_->libid;
  attr->lcid = description_->lcid;
  attr->syskind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
  attr->wMajorVerNum = description_->majorVersion;
  attr->wMinorVerNum = description_->minorVersion;
  *attributes = attr;
  return S_OK;
}

HRESULT TypeLibrary::GetTypeComp(ITypeComp** /*comp*/) {
  return E_NOTIMPL;
}

HRESULT TypeLibrary::GetDocumentation(INT index, BSTR* name, BSTR* docString, DWORD* helpContext,
                                      BSTR* helpFile) {
  if (index == -1) {
    SetIfWanted(name, description_->name);
    SetIfWanted(docString, description_->help);
    if (helpContext != nullptr) *helpContext = 0;
    SetIfWanted(helpFile, nullptr);
    return S_OK;
  }
  ITypeInfo* info = nullptr;
  const HRESULT found = GetTypeInfo(static_cast<UINT>(index), &info);
  if (FAILED(found)) return found;
  const HRESULT result =
      info->GetDocumentation(MEMBERID_NIL, name, docString, helpContext, helpFile);
  info->Release();
  return result;
}

HRESULT TypeLibrary::IsName(LPOLESTR, ULONG, BOOL*) {
  return E_NOTIMPL;
}

HRESULT TypeLibrary::FindName(LPOLESTR, ULONG, ITypeInfo**, MEMBERID*, USHORT*) {
  return E_NOTIMPL;
}

void TypeLibrary::ReleaseTLibAttr(TLIBATTR* attributes) {
  delete attributes;
}

}  // namespace automation
