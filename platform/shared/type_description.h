// A type library written down as data: the library, its interfaces with their function
// descriptions in the order the type information reports them, and its classes. The posix
// type-library services serve this description; the Windows tests compare it with the type
// library that widl makes from the interface definition.
#ifndef TELVARIO_PLATFORM_SHARED_TYPE_DESCRIPTION_H
#define TELVARIO_PLATFORM_SHARED_TYPE_DESCRIPTION_H

#include "windows_api.h"

namespace telvario::typelib {

struct Parameter {
  const OLECHAR* name;  // null where the definition names none (a property put's value)
  VARTYPE type;         // VT_PTR for pointers other than the [out, retval] of members
  USHORT flags;         // PARAMFLAG_*
};

struct Function {
  const OLECHAR* name;
  MEMBERID memid;
  INVOKEKIND invkind;
  VARTYPE result;  // the type of the [out, retval], VT_VOID without one; HRESULT members
  SHORT slot;      // in the interface's slot table
  WORD funcFlags;
  const OLECHAR* help;
  const Parameter* parameters;  // without the [out, retval]
  SHORT parameterCount;
};

struct Interface {
  const IID* iid;
  const OLECHAR* name;
  const OLECHAR* help;
  WORD typeFlags;             // of the dispatch side
  const Function* functions;  // its own, after those of its base
  WORD functionCount;
  const Interface* base = nullptr;  // the interface it derives from, where that is described
};

// The functions of an interface as its dispatch side lists them: its base's first.
inline WORD FunctionCount(const Interface& described) {
  const WORD inherited = described.base != nullptr ? FunctionCount(*described.base) : 0;
  return static_cast<WORD>(inherited + described.functionCount);
}
inline const Function& FunctionAt(const Interface& described, WORD index) {
  const WORD inherited = described.base != nullptr ? FunctionCount(*described.base) : 0;
  return index < inherited ? FunctionAt(*described.base, index)
                           : described.functions[index - inherited];
}

struct Coclass {
  const CLSID* clsid;
  const OLECHAR* name;
  const OLECHAR* help;
  WORD typeFlags;
  const IID* defaultInterface;
  const IID* defaultSource = nullptr;  // the events it raises, where it raises any
};

struct Library {
  const GUID* libid;
  const OLECHAR* name;
  const OLECHAR* help;
  WORD majorVersion;
  WORD minorVersion;
  LCID lcid;
  const Interface* interfaces;
  UINT interfaceCount;
  const Coclass* coclasses;
  UINT coclassCount;
};

}  // namespace telvario::typelib

#endif
