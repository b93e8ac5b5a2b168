// A type library written down as data: the library, its enumerations, its interfaces with their
// function descriptions in the order the type information reports them, and its classes. The
// posix type-library services serve this description; the Windows tests compare it with the type
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
  // Defined before the library block, which names it: widl lists it after the block's own types.
  bool outsideBlock = false;
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

// A member of an enumeration: a constant of type int, as widl writes a [v1_enum]'s members.
struct EnumMember {
  const OLECHAR* name;
  LONG value;
  const OLECHAR* help;  // widl can write none for an enumeration's member; the posix one has it
};

struct Enumeration {
  const OLECHAR* name;
  const OLECHAR* help;
  const EnumMember* members;
  WORD memberCount;
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
  const Enumeration* enumerations = nullptr;
  UINT enumerationCount = 0;
};

// One type of a library: one of the three is set (an interface as its dispatch side).
struct TypeAt {
  const Enumeration* enumeration = nullptr;
  const Interface* dispatch = nullptr;
  const Coclass* coclass = nullptr;
};

inline UINT TypeCount(const Library& library) {
  return library.enumerationCount + library.interfaceCount + library.coclassCount;
}

// Calls visit(type) for each type of the library in the order of widl's type library: the
// enumerations (which open the library block), the interfaces defined in the block, the classes,
// then the interfaces defined before the block. True where visit returned true and ended the walk.
template <typename Visit>
bool VisitTypes(const Library& library, Visit visit) {
  for (UINT i = 0; i < library.enumerationCount; ++i) {
    if (visit(TypeAt{&library.enumerations[i], nullptr, nullptr})) return true;
  }
  auto interfaces = [&](bool outside) {
    for (UINT i = 0; i < library.interfaceCount; ++i) {
      const Interface& described = library.interfaces[i];
      if (described.outsideBlock == outside && visit(TypeAt{nullptr, &described, nullptr})) {
        return true;
      }
    }
    return false;
  };
  if (interfaces(false)) return true;
  for (UINT i = 0; i < library.coclassCount; ++i) {
    if (visit(TypeAt{nullptr, nullptr, &library.coclasses[i]})) return true;
  }
  return interfaces(true);
}

// The type at an index of the library's type information; none past the end.
inline TypeAt TypeAtIndex(const Library& library, UINT index) {
  TypeAt found;
  UINT position = 0;
  VisitTypes(library, [&](const TypeAt& type) {
    if (position++ != index) return false;
    found = type;
    return true;
  });
  return found;
}

}  // namespace telvario::typelib

#endif
