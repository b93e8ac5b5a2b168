// The library as a host meets it: loaded, asked for its class object, creating objects
// standalone and inside an aggregate, with the identity, reference and option rules of COM.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "com_test_objects.h"

#include "telvario_idl.h"

namespace {

using telvario::testing::CountedUnknown;
using telvario::testing::Outer;

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

class ComServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA(TELVARIO_MODULE_PATH);
    ASSERT_NE(module_, nullptr);
    getClassObject_ = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    canUnloadNow_ = reinterpret_cast<CanUnloadNowFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    ASSERT_NE(getClassObject_, nullptr);
    ASSERT_NE(canUnloadNow_, nullptr);
  }
  // The library stays loaded: a test that failed may still hold its objects.

  IClassFactory* Factory() {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(getClassObject_(CLSID_Sonde, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    return factory;
  }

  ISonde* NewSonde() {
    IClassFactory* factory = Factory();
    ISonde* sonde = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ISonde, reinterpret_cast<void**>(&sonde)), S_OK);
    factory->Release();
    return sonde;
  }

  HMODULE module_ = nullptr;
  GetClassObjectFn getClassObject_ = nullptr;
  CanUnloadNowFn canUnloadNow_ = nullptr;
};

TEST_F(ComServerTest, CanUnloadOnlyWhileNoObjectLives) {
  EXPECT_EQ(canUnloadNow_(), S_OK);
  ISonde* sonde = NewSonde();
  ASSERT_NE(sonde, nullptr);
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  EXPECT_EQ(sonde->Release(), 0u);
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(ComServerTest, RepeatedRequestsShareTheCachedClassObject) {
  IClassFactory* first = Factory();
  IClassFactory* second = Factory();
  EXPECT_EQ(first, second);
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  first->Release();
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  second->Release();
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(ComServerTest, ClassObjectDoesNotAnswerIDispatchButStaysCached) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject_(CLSID_Sonde, IID_IDispatch, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(canUnloadNow_(), S_OK);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(getClassObject_(CLSID_Sonde, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  IClassFactory* factory = Factory();
  EXPECT_EQ(static_cast<IUnknown*>(factory), unknown);
  factory->Release();
  unknown->Release();
}

TEST_F(ComServerTest, UnknownClassesAndNullOutPointers) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject_(IID_ISonde, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(getClassObject_(CLSID_Sonde, IID_IClassFactory, nullptr), E_POINTER);
  IClassFactory* factory = Factory();
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_ISonde, nullptr), E_POINTER);
  EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  factory->Release();
}

TEST_F(ComServerTest, LockServerCountsWithoutPairing) {
  IClassFactory* factory = Factory();
  factory->LockServer(TRUE);
  factory->LockServer(TRUE);
  factory->LockServer(FALSE);
  factory->Release();
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  factory->LockServer(FALSE);  // through the cache's reference, as a host may
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(ComServerTest, CreatingAnInterfaceTheObjectLacksLeavesNothingBehind) {
  IClassFactory* factory = Factory();
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  factory->Release();
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(ComServerTest, AggregationOnlyThroughIUnknownAndCountedOnTheOuterObject) {
  IClassFactory* factory = Factory();
  Outer outer;
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(&outer, IID_ISonde, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);

  IUnknown* inner = nullptr;
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  factory->Release();
  outer.inner = inner;
  ISonde* sonde = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_ISonde, reinterpret_cast<void**>(&sonde)), S_OK);
  const LONG before = outer.count;
  sonde->AddRef();
  EXPECT_EQ(outer.count, before + 1);
  sonde->Release();
  sonde->Release();
  EXPECT_EQ(outer.count, before - 1);

  IUnknown* identity = nullptr;  // the contained object's identity is the outer one
  IObjectSafety* safety = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety)), S_OK);
  ASSERT_EQ(safety->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
  identity->Release();
  safety->Release();

  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  EXPECT_EQ(inner->Release(), 0u);
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(ComServerTest, EveryInterfaceLeadsToTheSameIdentity) {
  ISonde* sonde = NewSonde();
  IObjectSafety* safety = nullptr;
  IObjectWithSite* withSite = nullptr;
  IDispatch* dispatch = nullptr;
  IUnknown* viaSafety = nullptr;
  IUnknown* viaSite = nullptr;
  ASSERT_EQ(sonde->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety)), S_OK);
  ASSERT_EQ(sonde->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite)), S_OK);
  ASSERT_EQ(sonde->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  ASSERT_EQ(safety->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaSafety)), S_OK);
  ASSERT_EQ(withSite->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaSite)), S_OK);
  EXPECT_EQ(viaSafety, static_cast<IUnknown*>(sonde));
  EXPECT_EQ(viaSite, static_cast<IUnknown*>(sonde));
  EXPECT_EQ(static_cast<IUnknown*>(dispatch), static_cast<IUnknown*>(sonde));
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(sonde->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  for (IUnknown* pointer : {static_cast<IUnknown*>(safety), static_cast<IUnknown*>(withSite),
                            static_cast<IUnknown*>(dispatch), viaSafety, viaSite}) {
    pointer->Release();
  }
  EXPECT_EQ(sonde->Release(), 0u);
}

TEST_F(ComServerTest, MembersAnswerThroughTheInterface) {
  ISonde* sonde = NewSonde();
  SHORT value = 0;
  EXPECT_EQ(sonde->put_PacketSize(1500), S_OK);
  EXPECT_EQ(sonde->get_PacketSize(&value), S_OK);
  EXPECT_EQ(value, 1500);
  EXPECT_EQ(sonde->get_RTT(-1, &value), S_OK);
  EXPECT_EQ(value, -10);
  sonde->Release();
}

TEST_F(ComServerTest, SiteIsKeptForwardedAndReleased) {
  ISonde* sonde = NewSonde();
  IObjectWithSite* withSite = nullptr;
  ASSERT_EQ(sonde->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite)), S_OK);
  void* found = reinterpret_cast<void*>(1);
  EXPECT_EQ(withSite->GetSite(IID_IUnknown, &found), E_FAIL);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(withSite->GetSite(IID_IUnknown, nullptr), E_POINTER);

  CountedUnknown site;
  EXPECT_EQ(withSite->SetSite(&site), S_OK);
  EXPECT_EQ(site.count, 2);
  ASSERT_EQ(withSite->GetSite(IID_IUnknown, &found), S_OK);
  EXPECT_EQ(found, static_cast<void*>(static_cast<IUnknown*>(&site)));
  site.Release();
  EXPECT_EQ(withSite->GetSite(IID_IDispatch, &found), E_NOINTERFACE);
  EXPECT_EQ(withSite->SetSite(nullptr), S_OK);
  EXPECT_EQ(site.count, 1);

  withSite->SetSite(&site);  // released with the object
  withSite->Release();
  sonde->Release();
  EXPECT_EQ(site.count, 1);
}

TEST_F(ComServerTest, SafetyOptionsAreOneSetForTheObject) {
  ISonde* sonde = NewSonde();
  IObjectSafety* safety = nullptr;
  ASSERT_EQ(sonde->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety)), S_OK);
  DWORD supported = 9, enabled = 9;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_ISonde, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, 1u);
  EXPECT_EQ(enabled, 0u);

  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1), S_OK);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_ISonde, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 1u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_ISonde, 2, 2), E_FAIL);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_ISonde, 0, 0), S_OK);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_ISonde, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 1u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IClassFactory, 1, 1), E_NOINTERFACE);

  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IClassFactory, &supported, &enabled),
            E_NOINTERFACE);
  EXPECT_EQ(supported, 0u);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_ISonde, nullptr, &enabled), E_POINTER);
  safety->Release();
  sonde->Release();
}

TEST_F(ComServerTest, ConcurrentFirstRequestsCreateOneClassObject) {
  constexpr int kThreads = 8;
  std::atomic<bool> go{false};
  std::vector<IClassFactory*> seen(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go) std::this_thread::yield();
      getClassObject_(CLSID_Sonde, IID_IClassFactory, reinterpret_cast<void**>(&seen[i]));
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
  for (IClassFactory* factory : seen) EXPECT_EQ(factory, seen[0]);
  for (IClassFactory* factory : seen) factory->Release();
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

}  // namespace
