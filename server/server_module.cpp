#include "server_module.h"

#include <new>

namespace telvario {
namespace {

ServerModule* currentModule = nullptr;

}  // namespace

ServerModule::ServerModule() : size_(sizeof(ServerModule)), previous_(currentModule) {
  moduleLock_.Init();  // a failure here is reported to no one
  currentModule = this;
}

ServerModule::~ServerModule() {
  Term();
  if (currentModule == this) currentModule = previous_;
}

LONG ServerModule::Lock() {
  return InterlockedIncrement(&lockCount_);
}

LONG ServerModule::Unlock() {
  return InterlockedDecrement(&lockCount_);
}

HRESULT ServerModule::AddTermCallback(void (*callback)(void*), void* context) {
  auto* node = new (std::nothrow) TermCallback{callback, context, nullptr};
  if (node == nullptr) return E_OUTOFMEMORY;
  GuardedLockHolder holder(moduleLock_);
  const HRESULT entered = holder.Lock();
  if (entered != S_OK) {
    delete node;
    return entered;
  }
  node->next = termCallbacks_;
  termCallbacks_ = node;
  return S_OK;
}

HRESULT ServerModule::Init(ObjectMapEntry* map) {
  objectMap_ = map;
  for (ObjectMapEntry* row = map; row != nullptr && row->clsid != nullptr; ++row) {
    row->objectHook(true);
  }
  return S_OK;
}

void ServerModule::Term() {
  for (ObjectMapEntry* row = objectMap_; row != nullptr && row->clsid != nullptr; ++row) {
    if (row->classObject != nullptr) {
      row->classObject->Release();
      row->classObject = nullptr;
    }
    row->objectHook(false);
  }
  if (size_ == 0) return;
  while (termCallbacks_ != nullptr) {
    TermCallback* node = termCallbacks_;
    termCallbacks_ = node->next;
    node->callback(node->context);
    delete node;
  }
  if (globalInterfaceTable_ != nullptr) {
    globalInterfaceTable_->Release();
    globalInterfaceTable_ = nullptr;
  }
  moduleLock_.Term();
  size_ = 0;
}

ClassTable::ClassTable() : size_(sizeof(ClassTable)), typeLibraryModule_(ThisModuleInstance()) {
  classLock_.Init();
}

void ClassTable::Shutdown() {
  if (size_ == 0) return;
  classLock_.Term();
  size_ = 0;
}

ServerModule& TheModule() {
  return *currentModule;
}

}  // namespace telvario
