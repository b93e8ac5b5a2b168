// Every allocation of a call failing in turn: each run of the call gives its specified result or
// a failure result, never a crash, and (under the sanitizers) nothing leaks. The library is
// loaded as a host loads it; its allocations fail through the test program's operator new.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "failing_allocator.h"
#include "telvario_idl.h"
#include "test_strings.h"

namespace {

#define TELVARIO_STRINGIFY2(x) #x
#define TELVARIO_STRINGIFY(x) TELVARIO_STRINGIFY2(x)

using telvario::testing::FailAllocation;
using telvario::testing::StopFailing;
using telvario::testing::TakeNarrow;
using telvario::testing::TestBstr;

using ExportFn = HRESULT(STDAPICALLTYPE*)();
using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using SetHandlerFn = MessageBoxHandler (*)(MessageBoxHandler);

// What one run of a call gave: its HRESULT, and whether its result is the one a run without a
// failed allocation gives (`Specified`), a failure result the call may report, or neither.
enum class Value { Specified, Failure, Wrong };
struct Outcome {
  HRESULT hr;
  Value value;
};

constexpr long kMostAllocations = 100000;  // a call that allocates more than this never ends

class AllocationFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA(TELVARIO_MODULE_PATH);
    ASSERT_NE(module_, nullptr);
    registerServer_ = Export<ExportFn>("DllRegisterServer");
    unregisterServer_ = Export<ExportFn>("DllUnregisterServer");
    getClassObject_ = Export<GetClassObjectFn>("DllGetClassObject");
    ASSERT_NE(getClassObject_, nullptr);
  }

  template <typename Fn>
  Fn Export(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

  ISonde* NewSonde() {
    IClassFactory* factory = nullptr;
    if (getClassObject_(CLSID_Sonde, IID_IClassFactory, reinterpret_cast<void**>(&factory)) !=
        S_OK) {
      return nullptr;
    }
    ISonde* sonde = nullptr;
    factory->CreateInstance(nullptr, IID_ISonde, reinterpret_cast<void**>(&sonde));
    factory->Release();
    return sonde;
  }

  // Runs the call once for each allocation it makes, with that allocation failing, and once
  // more with none failing. Gives the number of allocations of a whole run.
  long EveryAllocationFailing(
      const char* name, const std::function<Outcome()>& call,
      const std::function<void()>& afterwards = [] {}) {
    for (long n = 1; n < kMostAllocations; ++n) {
      FailAllocation(n);
      const Outcome outcome = call();
      const bool failedOne = StopFailing() >= n;
      afterwards();
      if (!failedOne) {
        EXPECT_EQ(outcome.hr, S_OK) << name;
        EXPECT_EQ(outcome.value, Value::Specified) << name;
        std::printf("%s: %ld allocations, each failed in turn\n", name, n - 1);
        return n - 1;
      }
      // A failed call says nothing of its result; a call that succeeded reports it.
      if (SUCCEEDED(outcome.hr)) {
        EXPECT_NE(outcome.value, Value::Wrong) << name << ", allocation " << n << " failing";
      }
      if (::testing::Test::HasFailure()) return n;
    }
    ADD_FAILURE() << name << " never ran without a failed allocation";
    return kMostAllocations;
  }

  // A string member's outcome: the expected text, or the empty text of a failure.
  static Outcome Text(HRESULT hr, BSTR text, const std::string& expected) {
    if (FAILED(hr)) {
      SysFreeString(text);
      return {hr, Value::Failure};
    }
    const std::string got = TakeNarrow(text);
    if (got == expected) return {hr, Value::Specified};
    return {hr, got.empty() ? Value::Failure : Value::Wrong};
  }

  HMODULE module_ = nullptr;
  ExportFn registerServer_ = nullptr;
  ExportFn unregisterServer_ = nullptr;
  GetClassObjectFn getClassObject_ = nullptr;
};

TEST_F(AllocationFailure, RegistrationAndUnregistration) {
  ASSERT_NE(registerServer_, nullptr);
  ASSERT_NE(unregisterServer_, nullptr);
  EveryAllocationFailing(
      "DllRegisterServer",
      [&] {
        const HRESULT hr = registerServer_();
        return Outcome{hr, SUCCEEDED(hr) ? Value::Specified : Value::Failure};
      },
      [&] { unregisterServer_(); });
  EveryAllocationFailing(
      "DllUnregisterServer",
      [&] {
        const HRESULT hr = unregisterServer_();
        return Outcome{hr, SUCCEEDED(hr) ? Value::Specified : Value::Failure};
      },
      [&] { registerServer_(); });
  EXPECT_EQ(unregisterServer_(), S_OK);
}

TEST_F(AllocationFailure, CreatingAnObject) {
  EveryAllocationFailing("CreateInstance", [&] {
    IClassFactory* factory = nullptr;
    HRESULT hr =
        getClassObject_(CLSID_Sonde, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return Outcome{hr, Value::Failure};
    ISonde* sonde = nullptr;
    hr = factory->CreateInstance(nullptr, IID_ISonde, reinterpret_cast<void**>(&sonde));
    factory->Release();
    if (FAILED(hr)) return Outcome{hr, sonde == nullptr ? Value::Failure : Value::Wrong};
    sonde->Release();
    return Outcome{hr, Value::Specified};
  });
}

TEST_F(AllocationFailure, MembersWithAStringArgument) {
  ISonde* sonde = NewSonde();
  ASSERT_NE(sonde, nullptr);
  sonde->put_PingReps(1);
  const TestBstr loopback("127.0.0.1");
  const TestBstr localhost("localhost");
  EveryAllocationFailing("HostName", [&] {
    BSTR name = nullptr;
    const HRESULT hr = sonde->get_HostName(loopback.Get(), &name);
    return Text(hr, name, "localhost");
  });
  EveryAllocationFailing("Addr", [&] {
    BSTR address = nullptr;
    const HRESULT hr = sonde->get_Addr(localhost.Get(), &address);
    return Text(hr, address, "127.0.0.1");
  });
  // Where this process may not send echo requests, every run is the failure -1.
  SHORT reference = 0;
  sonde->get_PingTime(loopback.Get(), &reference);
  const Value echoFailed = reference >= 0 ? Value::Failure : Value::Specified;
  EveryAllocationFailing("PingTime", [&] {
    SHORT time = -99;
    const HRESULT hr = sonde->get_PingTime(loopback.Get(), &time);
    if (time >= 0) return Outcome{hr, Value::Specified};
    return Outcome{hr, time == -1 || time == -3 ? echoFailed : Value::Wrong};
  });
  EveryAllocationFailing("TraceRouteTime", [&] {
    SHORT time = -99;
    const HRESULT hr = sonde->get_TraceRouteTime(loopback.Get(), 1, &time);
    if (time >= 0) return Outcome{hr, Value::Specified};
    return Outcome{hr, time == -1 || time == -3 || time == -4 ? echoFailed : Value::Wrong};
  });
  const std::string url =
      "http://127.0.0.1:" TELVARIO_STRINGIFY(TELVARIO_HTTP_TEST_PORT) "/bytes/100000";
  const TestBstr download(url);
  EveryAllocationFailing("ReadURL", [&] {
    float rate = -99;
    const HRESULT hr = sonde->get_ReadURL(download.Get(), &rate);
    EXPECT_EQ(hr, S_OK);  // a failed measurement is a result, not an error
    LONG count = 0;
    sonde->get_DataRead(&count);
    if (rate > 0 && count == 100000) return Outcome{hr, Value::Specified};
    const bool failed = (rate == 0 && count == 0) || rate == -1 || rate == -2;
    return Outcome{hr, failed ? Value::Failure : Value::Wrong};
  });
  sonde->Release();
}

// Late binding: the type information and the arguments' conversions allocate too.
TEST_F(AllocationFailure, LateBoundCall) {
  ASSERT_EQ(registerServer_(), S_OK);
  ISonde* sonde = NewSonde();
  ASSERT_NE(sonde, nullptr);
  EveryAllocationFailing("Invoke of HostName", [&] {
    OLECHAR member[] = {'H', 'o', 's', 't', 'N', 'a', 'm', 'e', 0};
    LPOLESTR names[] = {member};
    DISPID id = 0;
    HRESULT hr = sonde->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) return Outcome{hr, Value::Failure};
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocString(names[0] + 8);  // the empty text: no resolver needed
    DISPPARAMS params{&argument, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    hr = sonde->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &params, &result, nullptr, nullptr);
    VariantClear(&argument);
    Value value = FAILED(hr) ? Value::Failure : Value::Wrong;
    if (SUCCEEDED(hr) && result.vt == VT_BSTR) {
      value = SysStringLen(result.bstrVal) == 0 ? Value::Specified : Value::Wrong;
    }
    VariantClear(&result);
    return Outcome{hr, value};
  });
  sonde->Release();
  EXPECT_EQ(unregisterServer_(), S_OK);
}

// A session that cannot be opened gives -1: ReadURL keeps the last results, UploadTest sends
// nothing. The session's allocation is found by failing each in turn until it is the one.
TEST_F(AllocationFailure, ASessionThatCannotBeOpenedGivesMinusOne) {
  const auto setHandler = Export<SetHandlerFn>("SetMessageBoxHandler");
  ASSERT_NE(setHandler, nullptr);
  setHandler([](LPCSTR, LPCSTR, UINT) { return IDOK; });
  ISonde* sonde = NewSonde();
  ASSERT_NE(sonde, nullptr);
  const TestBstr url("http://127.0.0.1:" TELVARIO_STRINGIFY(TELVARIO_HTTP_TEST_PORT) "/bytes/5000");
  float rate = 0;
  ASSERT_EQ(sonde->get_ReadURL(url.Get(), &rate), S_OK);
  double elapsed = 0;
  sonde->get_ElapsedTime(&elapsed);

  bool download = false;
  for (long n = 1; n < 100 && !download; ++n) {
    FailAllocation(n);
    const HRESULT hr = sonde->get_ReadURL(url.Get(), &rate);
    StopFailing();
    download = hr == S_OK && rate == -1.0f;
  }
  EXPECT_TRUE(download);
  LONG count = 0;
  double after = -1;
  sonde->get_DataRead(&count);
  sonde->get_ElapsedTime(&after);
  EXPECT_EQ(count, 5000);
  EXPECT_EQ(after, elapsed);

  // Nothing listens on port 21 of this namespace's loopback: a run past the session gives -2.
  const TestBstr server("127.0.0.1");
  bool upload = false;
  for (long n = 1; n < 100 && !upload; ++n) {
    LONG result = 0;
    FailAllocation(n);
    const HRESULT hr = sonde->get_UploadTest(server.Get(), &result);
    StopFailing();
    upload = hr == S_OK && result == -1;
  }
  EXPECT_TRUE(upload);
  sonde->Release();
  setHandler(nullptr);
}

// In the upload tests' namespace, where an FTP server listens on port 21 of 127.0.0.1 and keeps
// what it is sent in kUploads.
const char* const kUploads = TELVARIO_FTP_STATE "/root/writable/temp";
TEST_F(AllocationFailure, UploadTest) {
  const auto setHandler = Export<SetHandlerFn>("SetMessageBoxHandler");
  ASSERT_NE(setHandler, nullptr);
  setHandler([](LPCSTR, LPCSTR, UINT) { return IDOK; });
  ISonde* sonde = NewSonde();
  ASSERT_NE(sonde, nullptr);
  const TestBstr server("127.0.0.1");
  // Short of memory the test gives its own result, never an error to the script: -1 where it
  // cannot start at all (the first allocation failing), a later step's code after that.
  long run = 0;
  EveryAllocationFailing("UploadTest", [&] {
    LONG rate = -99;
    const HRESULT hr = sonde->get_UploadTest(server.Get(), &rate);
    EXPECT_EQ(hr, S_OK) << "allocation " << run + 1 << " failing";
    if (++run == 1) {
      EXPECT_EQ(rate, -1);
    }
    if (rate > 0) return Outcome{hr, Value::Specified};
    return Outcome{hr, rate >= -4 ? Value::Failure : Value::Wrong};
  });
  sonde->Release();
  setHandler(nullptr);
  // A run whose deletion could not be sent (its command's text failed to allocate) leaves its
  // file: the test's own leftovers, removed here.
  std::error_code ignored;
  for (const auto& left : std::filesystem::directory_iterator(kUploads, ignored)) {
    std::filesystem::remove(left.path(), ignored);
  }
}

}  // namespace
