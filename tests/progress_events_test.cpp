// Sonde2's events as a host meets them, through the library a host loads and its registration:
// the class information that tells a script host which events the class raises, a sink of the
// test's own advised on the connection point (Wine's script host connects none: its
// CreateObject prefix and ConnectObject are not implemented), Progress heard while a run goes,
// and a run cancelled from the event's handler.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dispatch_test_support.h"

namespace {

using telvario::testing::Narrow;

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using RegisterFn = HRESULT(STDAPICALLTYPE*)();

struct Heard {
  std::string phase;
  double fraction;
  double value;
  DWORD at;
};

// A sink as a host makes one: IDispatch answering the events' identifier too.
class Sink final : public IDispatch {
 public:
  std::vector<Heard> heard;
  ISonde2* cancelAfterQuarter = nullptr;
  std::function<void()> handler;  // runs in each event, after it is heard

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IDispatch) ||
        IsEqualGUID(iid, DIID__ISonde2Events)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT*, EXCEPINFO*, UINT*) override {
    EXPECT_EQ(member, 1);
    EXPECT_EQ(flags, DISPATCH_METHOD);
    EXPECT_EQ(params->cArgs, 3u);
    // Reverse order: value, fraction, phase.
    heard.push_back({Narrow(params->rgvarg[2].bstrVal), params->rgvarg[1].dblVal,
                     params->rgvarg[0].dblVal, GetTickCount()});
    if (cancelAfterQuarter != nullptr && heard.back().fraction > 0.25) {
      cancelAfterQuarter->Cancel();
    }
    if (handler) handler();
    return S_OK;
  }

  ULONG references = 1;
};

class ProgressEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    module_ = LoadLibraryA(TELVARIO_MODULE_PATH);
    ASSERT_NE(module_, nullptr);
    ASSERT_EQ(Export<RegisterFn>("DllRegisterServer")(), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(Export<GetClassObjectFn>("DllGetClassObject")(CLSID_Sonde2, IID_IClassFactory,
                                                            reinterpret_cast<void**>(&factory)),
              S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISonde2, reinterpret_cast<void**>(&sonde_)),
              S_OK);
    factory->Release();
  }
  void TearDown() override {
    if (sonde_ != nullptr) sonde_->Release();
    Export<RegisterFn>("DllUnregisterServer")();
    CoUninitialize();
  }
  template <typename Fn>
  Fn Export(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

  HMODULE module_ = nullptr;
  ISonde2* sonde_ = nullptr;
};

// What a script host reads to connect an event prefix: the class's default source.
TEST_F(ProgressEvents, TheClassInformationNamesItsEvents) {
  IProvideClassInfo2* provider = nullptr;
  ASSERT_EQ(sonde_->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&provider)),
            S_OK);
  GUID source = {};
  EXPECT_EQ(provider->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_TRUE(IsEqualGUID(source, DIID__ISonde2Events));
  ITypeInfo* classInfo = nullptr;
  ASSERT_EQ(provider->GetClassInfo(&classInfo), S_OK);
  provider->Release();
  INT flags = 0;
  ASSERT_EQ(classInfo->GetImplTypeFlags(1, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
  HREFTYPE reference = 0;
  ITypeInfo* events = nullptr;
  ASSERT_EQ(classInfo->GetRefTypeOfImplType(1, &reference), S_OK);
  ASSERT_EQ(classInfo->GetRefTypeInfo(reference, &events), S_OK);
  BSTR names[4] = {};
  UINT count = 0;
  ASSERT_EQ(events->GetNames(1, names, 4, &count), S_OK);
  std::vector<std::string> got;
  for (UINT i = 0; i < count; ++i) {
    got.push_back(Narrow(names[i]));
    SysFreeString(names[i]);
  }
  EXPECT_EQ(got, (std::vector<std::string>{"Progress", "phase", "fraction", "value"}));
  events->Release();
  classInfo->Release();

  // The first class raises none.
  IDispatch* first = nullptr;
  IClassFactory* factory = nullptr;
  Export<GetClassObjectFn>("DllGetClassObject")(CLSID_Sonde, IID_IClassFactory,
                                                reinterpret_cast<void**>(&factory));
  factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&first));
  factory->Release();
  IUnknown* container = nullptr;
  EXPECT_EQ(
      first->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)),
      E_NOINTERFACE);
  first->Release();
}

// Progress while a run goes, at most every 250 ms and once at its end; a cancel from the
// handler ends the run at its next sample, and Results says so; an unadvised sink hears no more.
TEST_F(ProgressEvents, ProgressIsHeardAndARunIsCancelledFromItsHandler) {
  IConnectionPointContainer* container = nullptr;
  ASSERT_EQ(
      sonde_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)),
      S_OK);
  IConnectionPoint* point = nullptr;
  ASSERT_EQ(container->FindConnectionPoint(DIID__ISonde2Events, &point), S_OK);
  container->Release();
  Sink sink;
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);

  BSTR host = SysAllocString(OLESTR("127.0.0.1"));
  sonde_->put_Probes(40);
  sonde_->put_ProbeInterval(50);  // a run of two seconds
  double median = 0;
  ASSERT_EQ(sonde_->Latency(host, &median), S_OK);
  EXPECT_GE(median, 0);
  ASSERT_GE(sink.heard.size(), 3u);
  EXPECT_LE(sink.heard.size(), 2000u / 250 + 2);
  for (std::size_t i = 0; i < sink.heard.size(); ++i) {
    EXPECT_EQ(sink.heard[i].phase, "latency");
    if (i == 0) continue;
    EXPECT_GE(sink.heard[i].fraction, sink.heard[i - 1].fraction);
    if (i + 1 < sink.heard.size()) {
      EXPECT_GE(sink.heard[i].at - sink.heard[i - 1].at, 240u);
    }
  }
  EXPECT_EQ(sink.heard.back().fraction, 1.0);
  EXPECT_EQ(sink.heard.back().value, median);

  sink.heard.clear();
  sink.cancelAfterQuarter = sonde_;
  ASSERT_EQ(sonde_->Latency(host, &median), S_OK);
  LONG sent = 0;
  sonde_->get_Sent(&sent);
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, 40);
  BSTR results = nullptr;
  sonde_->get_Results(&results);
  EXPECT_NE(Narrow(results).find("\"cancelled\":true"), std::string::npos);
  SysFreeString(results);

  ASSERT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  sink.heard.clear();
  sonde_->put_Probes(2);
  sonde_->Latency(host, &median);
  EXPECT_TRUE(sink.heard.empty());
  EXPECT_EQ(sink.references, 1u);  // every reference the object took is given back
  point->Release();
  SysFreeString(host);
}

// What handlers do to the object they hear: a second run asked for from a handler is refused and
// the run goes on; a cancel ends a run at once however long its interval, with what it had
// measured and no request after it; the next run starts afresh, also one that is refused at
// once; and a handler may let go of the host's last reference while the run goes.
TEST_F(ProgressEvents, HandlersMayCallBackCancelAndLetGo) {
  IConnectionPointContainer* container = nullptr;
  ASSERT_EQ(
      sonde_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)),
      S_OK);
  IConnectionPoint* point = nullptr;
  ASSERT_EQ(container->FindConnectionPoint(DIID__ISonde2Events, &point), S_OK);
  container->Release();
  Sink sink;
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
  BSTR host = SysAllocString(OLESTR("127.0.0.1"));

  sonde_->put_Probes(3);
  sonde_->put_ProbeInterval(15000);
  HRESULT nested = S_OK;
  DWORD cancelledAt = 0;
  const DWORD began = GetTickCount();
  sink.handler = [&] {
    double ignored = 0;
    if (nested == S_OK) nested = sonde_->Latency(host, &ignored);
    if (cancelledAt == 0 && GetTickCount() - began >= 1000) {
      cancelledAt = GetTickCount();
      sonde_->Cancel();
    }
  };
  double median = 0;
  ASSERT_EQ(sonde_->Latency(host, &median), S_OK);
  const DWORD returned = GetTickCount();
  EXPECT_EQ(nested, static_cast<HRESULT>(0x8000000EL));  // E_ILLEGAL_METHOD_CALL
  ASSERT_NE(cancelledAt, 0u);
  EXPECT_LE(returned - cancelledAt, 500u);
  LONG sent = 0;
  sonde_->get_Sent(&sent);
  EXPECT_EQ(sent, 1);  // the first request; none once cancelled
  EXPECT_GT(median, 0);

  // An upload nobody confirms (no one to ask here) sends nothing, and reports nothing of the
  // run before it.
  sink.handler = nullptr;
  BSTR url = SysAllocString(OLESTR("http://127.0.0.1:9/"));
  double rate = -1;
  ASSERT_EQ(sonde_->Upload(url, &rate), S_OK);
  EXPECT_EQ(rate, 0);
  sonde_->get_Sent(&sent);
  EXPECT_EQ(sent, 0);
  BSTR results = nullptr;
  sonde_->get_Results(&results);
  EXPECT_NE(Narrow(results).find("not confirmed"), std::string::npos) << Narrow(results);
  SysFreeString(results);
  SysFreeString(url);

  // The host's last reference let go from a handler: the run still ends, and the object goes
  // after it (the sanitizers' build would see it used after it went).
  sonde_->put_Probes(2);
  sonde_->put_ProbeInterval(100);
  ISonde2* held = sonde_;
  sink.handler = [&] {
    if (sonde_ != nullptr) {
      sonde_ = nullptr;
      held->Release();
    }
  };
  point->Release();  // its own reference, which the connection point counts on the object
  ASSERT_EQ(held->Latency(host, &median), S_OK);
  EXPECT_EQ(sonde_, nullptr);
  EXPECT_EQ(sink.references, 1u);  // the object gave back the sink as it went
  SysFreeString(host);
}

}  // namespace
