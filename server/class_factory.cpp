#include "class_factory.h"

#include <atomic>
#include <new>

#include "call_boundary.h"

namespace telvario {
namespace {

constexpr LONG kDestroying = static_cast<LONG>(0xC0000001);

}  // namespace

CachedClassFactory::CachedClassFactory() {
  const HRESULT result = refLock_.Init();
  if (result != S_OK) throw CAtlException(result);
}

CachedClassFactory::~CachedClassFactory() {
  refCount_ = kDestroying;
  refLock_.Term();
}

HRESULT STDMETHODCALLTYPE CachedClassFactory::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, IID_IClassFactory)) {
    return E_NOINTERFACE;
  }
  *object = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE CachedClassFactory::AddRef() {
  GuardedLockHolder holder(refLock_);
  holder.Lock();
  const LONG count = InterlockedIncrement(&refCount_);
  if (count == 2) TheModule().Lock();
  return static_cast<ULONG>(count);
}

ULONG STDMETHODCALLTYPE CachedClassFactory::Release() {
  LONG count = 0;
  {
    GuardedLockHolder holder(refLock_);
    holder.Lock();
    InterlockedDecrement(&refCount_);
    count = refCount_;
    if (count == 1) TheModule().Unlock();  // paired with the Lock at 2, under the same lock
  }
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CachedClassFactory::CreateInstance(IUnknown* outer, REFIID iid,
                                                             void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr && !IsEqualGUID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return AtBoundary([&] { return creator_(outer, iid, object); });
}

HRESULT STDMETHODCALLTYPE CachedClassFactory::LockServer(BOOL lock) {
  if (lock) {
    TheModule().Lock();
  } else {
    TheModule().Unlock();
  }
  return S_OK;
}

HRESULT CreateClassFactory(CreateInstanceFn creator, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  CachedClassFactory* created = nullptr;
  try {
    created = new (std::nothrow) CachedClassFactory;
  } catch (...) {
    created = nullptr;  // the allocation is freed when its construction throws
  }
  if (created == nullptr) return E_OUTOFMEMORY;
  created->SetCreator(creator);
  const HRESULT result = created->QueryInterface(iid, object);
  if (result != S_OK) delete created;
  return result;
}

HRESULT GetClassObject(ObjectMapEntry* map, REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  HRESULT result = S_OK;
  for (ObjectMapEntry* row = map; row != nullptr && row->clsid != nullptr; ++row) {
    if (row->createClassObject == nullptr || !IsEqualGUID(clsid, *row->clsid)) continue;
    // The class object is published with release and read with acquire, so a thread that
    // finds it without the lock also sees it fully built.
    std::atomic_ref<IUnknown*> cached(row->classObject);
    if (cached.load(std::memory_order_acquire) == nullptr) {
      GuardedLockHolder holder(TheClassTable().ClassLock());
      const HRESULT entered = holder.Lock();
      if (entered != S_OK) return entered;
      // Checked again inside the lock: concurrent first requests make one class object.
      if (cached.load(std::memory_order_relaxed) == nullptr) {
        IUnknown* created = nullptr;
        result = row->createClassObject(row->createInstance, IID_IUnknown,
                                        reinterpret_cast<void**>(&created));
        if (created != nullptr) cached.store(created, std::memory_order_release);
      }
    }
    if (IUnknown* classObject = cached.load(std::memory_order_acquire)) {
      result = classObject->QueryInterface(iid, object);
    }
    break;
  }
  if (*object == nullptr && result == S_OK) {
    return TheClassTable().Alive() ? CLASS_E_CLASSNOTAVAILABLE : E_UNEXPECTED;
  }
  return result;
}

}  // namespace telvario
