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
  WORD typeFlags;  // of the dispatch side
  const Function* functions;
  WORD functionCount;
};

struct Coclass {
  const CLSID* clsid;
  const OLECHAR* name;
  const OLECHAR* help;
  WORD typeFlags;
  const IID* defaultInterface;
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
