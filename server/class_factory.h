// The class object of a creatable class, cached in its object map row.
#ifndef TELVARIO_SERVER_CLASS_FACTORY_H
#define TELVARIO_SERVER_CLASS_FACTORY_H

#include "guarded_lock.h"
#include "server_module.h"
#include "windows_api.h"

namespace telvario {

class CachedClassFactory final : public IClassFactory {
 public:
  // Throws CAtlException when its lock cannot be set up.
  CachedClassFactory();
  ~CachedClassFactory();
  CachedClassFactory(const CachedClassFactory&) = delete;
  CachedClassFactory& operator=(const CachedClassFactory&) = delete;

  void SetCreator(CreateInstanceFn creator) { creator_ = creator; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  // A count of 2 means a client holds the object beside the cache: the module stays locked.
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  volatile LONG refCount_ = 0;
  CreateInstanceFn creator_ = nullptr;
  GuardedLock refLock_;
};

// An object map row's createClassObject: a new CachedClassFactory for the given creator.
HRESULT CreateClassFactory(CreateInstanceFn creator, REFIID iid, void** object);

// DllGetClassObject's lookup in an object map, creating the class object once.
HRESULT GetClassObject(ObjectMapEntry* map, REFCLSID clsid, REFIID iid, void** object);

}  // namespace telvario

#endif
