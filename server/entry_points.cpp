// The DLL's entry routine and exports, and its object map: Sonde, then Sonde2.
#include "call_boundary.h"
#include "class_factory.h"
#include "registration.h"
#include "server_module.h"
#include "sonde_object.h"

namespace telvario {
namespace {

void NoObjectHook(bool /*initialising*/) {}
const char* NoDescription() {
  return nullptr;
}
const void* NoCategories() {
  return nullptr;
}
HRESULT UpdateSondeRegistry(BOOL doRegister) {
  return TheModule().RegisterFromResource(kRegistryScriptResource, doRegister, nullptr);
}
HRESULT UpdateSonde2Registry(BOOL doRegister) {
  return TheModule().RegisterFromResource(kSonde2RegistryScriptResource, doRegister, nullptr);
}

ObjectMapEntry objectMap[] = {
    {&CLSID_Sonde, UpdateSondeRegistry, CreateClassFactory, CreateSondeInstance, nullptr, 0,
     NoDescription, NoCategories, NoObjectHook},
    {&CLSID_Sonde2, UpdateSonde2Registry, CreateClassFactory, CreateSonde2Instance, nullptr, 0,
     NoDescription, NoCategories, NoObjectHook},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
};

}  // namespace
}  // namespace telvario

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    telvario::TheModule().Init(telvario::objectMap);
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    telvario::TheModule().Term();
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() {
  return telvario::TheModule().GetLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  return telvario::AtBoundary(
      [&] { return telvario::GetClassObject(telvario::objectMap, clsid, iid, object); });
}

STDAPI DllRegisterServer() {
  return telvario::AtBoundary([] { return telvario::RegisterServer(telvario::objectMap); });
}

STDAPI DllUnregisterServer() {
  return telvario::AtBoundary([] { return telvario::UnregisterServer(telvario::objectMap); });
}
