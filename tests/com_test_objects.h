// Foreign COM objects for the frame's tests: a site and a controlling unknown that count the
// references they are given.
#ifndef TELVARIO_TESTS_COM_TEST_OBJECTS_H
#define TELVARIO_TESTS_COM_TEST_OBJECTS_H

#include "windows_api.h"

namespace telvario::testing {

class CountedUnknown : public IUnknown {
 public:
  virtual ~CountedUnknown() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(iid, IID_IUnknown)) return E_NOINTERFACE;
    *object = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++count); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--count); }

  LONG count = 1;  // the test's own reference; never freed through Release
};

// A controlling unknown that hands every interface but IUnknown to the object it contains.
class Outer : public CountedUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualGUID(iid, IID_IUnknown) || inner == nullptr) {
      return CountedUnknown::QueryInterface(iid, object);
    }
    return inner->QueryInterface(iid, object);
  }
  IUnknown* inner = nullptr;
};

}  // namespace telvario::testing

#endif
