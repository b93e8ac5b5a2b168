// A Cancel made from another apartment, as a host with threads of its own makes it: the object
// lives in this thread's single-threaded apartment, and a second thread calls it through a
// marshalled proxy, which the system delivers as a message to this thread. The run waits with
// its thread's messages dispatched, so the call reaches the object while the run goes, and
// the run ends at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "dispatch_test_support.h"

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using RegisterFn = HRESULT(STDAPICALLTYPE*)();

TEST(CrossApartment, ACancelFromAnotherApartmentEndsTheRunAtOnce) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);  // a single-threaded apartment
  const HMODULE module = LoadLibraryA(TELVARIO_MODULE_PATH);
  ASSERT_NE(module, nullptr);
  const auto registerServer = reinterpret_cast<RegisterFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
  ASSERT_EQ(registerServer(), S_OK);  // the type library, which marshals the interface
  const auto getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  IClassFactory* factory = nullptr;
  ASSERT_EQ(getClassObject(CLSID_Sonde2, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  ISonde2* sonde = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISonde2, reinterpret_cast<void**>(&sonde)), S_OK);
  factory->Release();
  IStream* stream = nullptr;
  ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_ISonde2, sonde, &stream), S_OK);

  // Three requests fifteen seconds apart: a run of half a minute unless cancelled.
  sonde->put_Probes(3);
  sonde->put_ProbeInterval(15000);
  HRESULT cancelled = E_FAIL;
  DWORD cancelledAt = 0;
  std::atomic<bool> otherDone{false};
  std::thread other([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ISonde2* proxy = nullptr;
    if (SUCCEEDED(CoGetInterfaceAndReleaseStream(stream, IID_ISonde2,
                                                 reinterpret_cast<void**>(&proxy)))) {
      Sleep(1000);
      cancelledAt = GetTickCount();
      cancelled = proxy->Cancel();
      proxy->Release();
    }
    CoUninitialize();
    otherDone.store(true);
  });
  BSTR host = SysAllocString(OLESTR("127.0.0.1"));
  double median = 0;
  const DWORD began = GetTickCount();
  EXPECT_EQ(sonde->Latency(host, &median), S_OK);
  const DWORD returned = GetTickCount();
  // The proxy's release is a call to this apartment too: answered while waiting for it.
  while (!otherDone.load()) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    Sleep(10);
  }
  other.join();
  EXPECT_EQ(cancelled, S_OK);
  EXPECT_LE(returned - began, 2500u);
  EXPECT_LE(returned - cancelledAt, 500u);
  EXPECT_GT(median, 0);  // the first request's answer: what the run had measured
  SysFreeString(host);
  sonde->Release();
  const auto unregisterServer = reinterpret_cast<RegisterFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllUnregisterServer")));
  unregisterServer();
  CoUninitialize();
}

}  // namespace
