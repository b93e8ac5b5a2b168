// Self-registration: the class's registry script, its component categories and the module's
// type library, in both directions, for DllRegisterServer and DllUnregisterServer.
#ifndef TELVARIO_SERVER_REGISTRATION_H
#define TELVARIO_SERVER_REGISTRATION_H

#include "server_module.h"
#include "windows_api.h"

namespace telvario {

constexpr WORD kRegistryScriptResource = 101;
constexpr WORD kSonde2RegistryScriptResource = 102;

// A row of a class's category table: kind 1 an implemented category, another non-zero kind a
// required one, 0 the end.
struct CategoryRow {
  int kind;
  const CATID* catid;
};

HRESULT RegisterServer(ObjectMapEntry* map);
HRESULT UnregisterServer(ObjectMapEntry* map);

}  // namespace telvario

#endif
