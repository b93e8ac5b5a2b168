#include "progress_events.h"

#include <new>

#include "call_boundary.h"
#include "string_conversion.h"

namespace telvario {
namespace {

constexpr DISPID kProgressDispid = 1;

}  // namespace

ProgressConnectionPoint::~ProgressConnectionPoint() {
  for (const Sink& sink : sinks_) sink.dispatch->Release();
}

HRESULT STDMETHODCALLTYPE ProgressConnectionPoint::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, IID_IConnectionPoint)) {
    return E_NOINTERFACE;
  }
  *object = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}

// A connection point lives and dies with its container.
ULONG STDMETHODCALLTYPE ProgressConnectionPoint::AddRef() {
  return container_->AddRef();
}
ULONG STDMETHODCALLTYPE ProgressConnectionPoint::Release() {
  return container_->Release();
}

HRESULT STDMETHODCALLTYPE ProgressConnectionPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = DIID__ISonde2Events;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE
ProgressConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (container == nullptr) return E_POINTER;
  container_->AddRef();
  *container = container_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ProgressConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie == nullptr) return E_POINTER;
  *cookie = 0;
  if (sink == nullptr) return E_POINTER;
  return AtBoundary([&] {
    // The sink implements the events as IDispatch, by their own identifier or by IDispatch's.
    IDispatch* dispatch = nullptr;
    if (sink->QueryInterface(DIID__ISonde2Events, reinterpret_cast<void**>(&dispatch)) != S_OK &&
        sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)) != S_OK) {
      return CONNECT_E_CANNOTCONNECT;
    }
    sinks_.reserve(sinks_.size() + 1);  // before the sink is held: a failure leaves it alone
    sinks_.push_back({dispatch, nextCookie_});
    *cookie = nextCookie_++;
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE ProgressConnectionPoint::Unadvise(DWORD cookie) {
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->cookie != cookie) continue;
    IDispatch* dispatch = it->dispatch;
    sinks_.erase(it);
    dispatch->Release();
    return S_OK;
  }
  return CONNECT_E_NOCONNECTION;
}

HRESULT STDMETHODCALLTYPE ProgressConnectionPoint::EnumConnections(IEnumConnections** connections) {
  if (connections == nullptr) return E_POINTER;
  *connections = nullptr;
  return AtBoundary([&] {
    std::vector<CONNECTDATA> listed;
    for (const Sink& sink : sinks_) listed.push_back({sink.dispatch, sink.cookie});
    *connections = new ConnectionList(std::move(listed));
    return S_OK;
  });
}

void ProgressConnectionPoint::Progress(const char* phase, double fraction, double value) {
  if (sinks_.empty()) return;
  // A handler may advise or unadvise while it runs: the sinks of this moment, each held.
  std::vector<IDispatch*> listening;
  try {
    for (const Sink& sink : sinks_) listening.push_back(sink.dispatch);
  } catch (const std::bad_alloc&) {
    return;  // the event is not heard; the measurement goes on
  }
  for (IDispatch* sink : listening) sink->AddRef();
  BSTR phaseText = ToWideBstr(phase);
  VARIANT arguments[3];  // in reverse order, as Invoke takes them
  for (VARIANT& argument : arguments) VariantInit(&argument);
  arguments[2].vt = VT_BSTR;
  arguments[2].bstrVal = phaseText;
  arguments[1].vt = VT_R8;
  arguments[1].dblVal = fraction;
  arguments[0].vt = VT_R8;
  arguments[0].dblVal = value;
  DISPPARAMS parameters = {arguments, nullptr, 3, 0};
  for (IDispatch* sink : listening) {
    VARIANT result;
    VariantInit(&result);
    sink->Invoke(kProgressDispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                 &result, nullptr, nullptr);
    VariantClear(&result);
    sink->Release();
  }
  SysFreeString(phaseText);
}

}  // namespace telvario
