// The process-wide records of the in-process server: the module with its lock count and
// termination callbacks, the class table, and the object map of creatable classes.
#ifndef TELVARIO_SERVER_SERVER_MODULE_H
#define TELVARIO_SERVER_SERVER_MODULE_H

#include "guarded_lock.h"
#include "windows_api.h"

namespace telvario {

using CreateInstanceFn = HRESULT (*)(IUnknown* outer, REFIID iid, void** object);
using CreateClassObjectFn = HRESULT (*)(CreateInstanceFn creator, REFIID iid, void** object);

struct ObjectMapEntry {
  const CLSID* clsid;  // null ends the map
  HRESULT (*updateRegistry)(BOOL doRegister);
  CreateClassObjectFn createClassObject;
  CreateInstanceFn createInstance;
  IUnknown* classObject;  // cached, holding one reference
  DWORD registerCookie;
  const char* (*getDescription)();
  const void* (*getCategoryMap)();
  void (*objectHook)(bool initialising);
};

class ScriptRegistrar;

// A symbol for a registry script, in a list ended by a pair whose name is null.
struct SymbolPair {
  LPCOLESTR name;
  LPCOLESTR value;
};

class ServerModule {
 public:
  // The newest module is the process's; when it goes, the one before it is again.
  ServerModule();
  virtual ~ServerModule();
  ServerModule(const ServerModule&) = delete;
  ServerModule& operator=(const ServerModule&) = delete;

  // The function table: the lock count, then registration (see registration.cpp).
  virtual LONG Lock();
  virtual LONG Unlock();
  virtual LONG GetLockCount() const { return lockCount_; }
  virtual HRESULT GetGlobalInterfaceTable(IGlobalInterfaceTable** table);
  virtual HRESULT AddCommonSymbols(ScriptRegistrar* registrar);
  virtual HRESULT RegisterFromResourceUnsupported(WORD resourceId, BOOL doRegister,
                                                  const SymbolPair* extraSymbols);
  virtual HRESULT RegisterFromNamedResourceUnsupported(LPCSTR resourceName, BOOL doRegister,
                                                       const SymbolPair* extraSymbols);
  virtual HRESULT RegisterFromResource(WORD resourceId, BOOL doRegister,
                                       const SymbolPair* extraSymbols);
  virtual HRESULT RegisterFromNamedResource(LPCSTR resourceName, BOOL doRegister,
                                            const SymbolPair* extraSymbols);

  // Runs callback(context) at termination; the newest callback runs first.
  HRESULT AddTermCallback(void (*callback)(void* context), void* context);
  GuardedLock& ModuleLock() { return moduleLock_; }

  HRESULT Init(ObjectMapEntry* map);
  // Releases the cached class objects and runs the termination callbacks; once only.
  void Term();

  ObjectMapEntry* ObjectMap() const { return objectMap_; }
  bool Alive() const { return size_ != 0; }

 private:
  struct TermCallback {
    void (*callback)(void* context);
    void* context;
    TermCallback* next;
  };

  DWORD size_;
  volatile LONG lockCount_ = 0;
  TermCallback* termCallbacks_ = nullptr;
  GuardedLock moduleLock_;
  ObjectMapEntry* objectMap_ = nullptr;
  IGlobalInterfaceTable* globalInterfaceTable_ = nullptr;
  ServerModule* previous_;
};

class ClassTable {
 public:
  ClassTable();
  ~ClassTable() { Shutdown(); }
  ClassTable(const ClassTable&) = delete;
  ClassTable& operator=(const ClassTable&) = delete;

  void Shutdown();
  bool Alive() const { return size_ != 0; }
  GuardedLock& ClassLock() { return classLock_; }
  HINSTANCE TypeLibraryModule() const { return typeLibraryModule_; }

 private:
  DWORD size_;
  HINSTANCE typeLibraryModule_;
  GuardedLock classLock_;
};

// The records of this process, reached by every object and class object.
ServerModule& TheModule();
ClassTable& TheClassTable();
HINSTANCE ModuleInstance();

}  // namespace telvario

#endif
