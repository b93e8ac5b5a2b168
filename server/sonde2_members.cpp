// ISonde2's own members of the one object type: forwarded to Sonde2's measurement side, no
// exception of theirs reaching the caller. A Sonde object never answers ISonde2, so these are
// reached through Sonde2 objects only.
#include "call_boundary.h"
#include "sonde_object.h"
#include "type_info_cache.h"

namespace telvario {
namespace {

// A measurement raises events, and dispatches calls from other apartments while it waits: a
// handler may let go of the last reference to the object meanwhile. The call holds one of its
// own until it returns.
class KeepAlive {
 public:
  explicit KeepAlive(ISonde2* object) : object_(object) { object_->AddRef(); }
  ~KeepAlive() { object_->Release(); }
  KeepAlive(const KeepAlive&) = delete;
  KeepAlive& operator=(const KeepAlive&) = delete;

 private:
  ISonde2* object_;
};

}  // namespace

HRESULT STDMETHODCALLTYPE Sonde::get_Probes(LONG* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_Probes(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_Probes(LONG newVal) {
  return AtBoundary([&] { return sonde2_->probe.put_Probes(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_ProbeInterval(LONG* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_ProbeInterval(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_ProbeInterval(LONG newVal) {
  return AtBoundary([&] { return sonde2_->probe.put_ProbeInterval(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Family(LONG* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_Family(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_Family(LONG newVal) {
  return AtBoundary([&] { return sonde2_->probe.put_Family(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LatencyMin(double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_LatencyMin(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LatencyMedian(double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_LatencyMedian(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LatencyMean(double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_LatencyMean(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LatencyP90(double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_LatencyP90(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LatencyP99(double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_LatencyP99(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LatencyMax(double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_LatencyMax(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Jitter(double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_Jitter(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Loss(double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_Loss(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Sent(LONG* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_Sent(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Received(LONG* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_Received(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_PeerAddress(BSTR* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_PeerAddress(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Results(BSTR* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_Results(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::Addresses(BSTR name, BSTR* pVal) {
  return AtBoundary([&] { return sonde2_->probe.Addresses(name, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::Latency(BSTR host, double* pVal) {
  const KeepAlive alive(this);
  // The echo requests carry PacketSize bytes, as PingTime's do.
  return AtBoundary([&] { return sonde2_->probe.Latency(host, probe_.State().packetSize, pVal); });
}

HRESULT STDMETHODCALLTYPE Sonde::get_Streams(LONG* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_Streams(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_Streams(LONG newVal) {
  return AtBoundary([&] { return sonde2_->probe.put_Streams(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Duration(double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_Duration(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_Duration(double newVal) {
  return AtBoundary([&] { return sonde2_->probe.put_Duration(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::Download(BSTR url, double* pVal) {
  const KeepAlive alive(this);
  // Echo requests of PacketSize bytes time the latency under the load.
  return AtBoundary([&] { return sonde2_->probe.Download(url, probe_.State().packetSize, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Bytes(double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_Bytes(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Elapsed(double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_Elapsed(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::Cancel() {
  return sonde2_->probe.Cancel();  // an atomic flag: from any thread
}

HRESULT STDMETHODCALLTYPE Sonde::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (points == nullptr) return E_POINTER;
  *points = nullptr;
  return AtBoundary([&] {
    *points = new ConnectionPointList({static_cast<IConnectionPoint*>(&sonde2_->events)});
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE Sonde::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  if (point == nullptr) return E_POINTER;
  *point = nullptr;
  if (!IsEqualGUID(iid, DIID__ISonde2Events)) return CONNECT_E_NOCONNECTION;
  sonde2_->events.AddRef();
  *point = &sonde2_->events;
  return S_OK;
}

// The class's type information, from its type library, for hosts that look for its events.
HRESULT STDMETHODCALLTYPE Sonde::GetClassInfo(ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  return AtBoundary([&] {
    ITypeInfo* interfaceInfo = nullptr;
    HRESULT hr = CachedGetTypeInfo(Sonde2TypeInfo(), 0, LOCALE_USER_DEFAULT, &interfaceInfo);
    if (FAILED(hr)) return hr;
    ITypeLib* library = nullptr;
    UINT index = 0;
    hr = interfaceInfo->GetContainingTypeLib(&library, &index);
    interfaceInfo->Release();
    if (FAILED(hr)) return hr;
    hr = library->GetTypeInfoOfGuid(CLSID_Sonde2, info);
    library->Release();
    return hr;
  });
}

HRESULT STDMETHODCALLTYPE Sonde::GetGUID(DWORD kind, GUID* guid) {
  if (guid == nullptr) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID{};
    return E_INVALIDARG;
  }
  *guid = DIID__ISonde2Events;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Sonde::Upload(BSTR url, double* pVal) {
  const KeepAlive alive(this);
  // The same consent as UploadTest's, asked once for the process.
  return AtBoundary([&] { return sonde2_->probe.Upload(url, probe_.State().packetSize, pVal); });
}

HRESULT STDMETHODCALLTYPE Sonde::get_ResponsivenessUpload(VARIANT_BOOL* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_ResponsivenessUpload(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_ResponsivenessUpload(VARIANT_BOOL newVal) {
  return AtBoundary([&] { return sonde2_->probe.put_ResponsivenessUpload(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_IdleLatency(double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_IdleLatency(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LoadedLatency(double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_LoadedLatency(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LoadedLatencyP90(double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_LoadedLatencyP90(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_RPM(double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_RPM(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::Responsiveness(BSTR url, double* pVal) {
  const KeepAlive alive(this);
  return AtBoundary(
      [&] { return sonde2_->probe.Responsiveness(url, probe_.State().packetSize, pVal); });
}

HRESULT STDMETHODCALLTYPE Sonde::get_MaxHops(LONG* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_MaxHops(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_MaxHops(LONG newVal) {
  return AtBoundary([&] { return sonde2_->probe.put_MaxHops(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::Route(BSTR host, LONG* pVal) {
  const KeepAlive alive(this);
  // The echo requests carry PacketSize bytes, as TraceRouteTime's do.
  return AtBoundary([&] { return sonde2_->probe.Route(host, probe_.State().packetSize, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Hops(LONG* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_Hops(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_RouteEnd(BSTR* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_RouteEnd(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_ResolveHopNames(VARIANT_BOOL* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_ResolveHopNames(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_ResolveHopNames(VARIANT_BOOL newVal) {
  return AtBoundary([&] { return sonde2_->probe.put_ResolveHopNames(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopAddress(LONG hop, BSTR* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopAddress(hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopAddresses(LONG hop, BSTR* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopAddresses(hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopSent(LONG hop, LONG* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopSent(hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopReceived(LONG hop, LONG* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopReceived(hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopLoss(LONG hop, double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopLoss(hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopLatencyMin(LONG hop, double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopLatencyMin(hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopLatencyMedian(LONG hop, double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopLatencyMedian(hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopLatencyMean(LONG hop, double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopLatencyMean(hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopLatencyP90(LONG hop, double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopLatencyP90(hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopLatencyMax(LONG hop, double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopLatencyMax(hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopJitter(LONG hop, double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopJitter(hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopForwardLoss(LONG hop, double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopForwardLoss(hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopAddedLatency(LONG hop, double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopAddedLatency(hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopName(LONG hop, BSTR* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopName(hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopReading(LONG hop, BSTR* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopReading(hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_HopLatencyLast(LONG hop, double* pVal) {
  return AtBoundary([&] { return sonde2_->probe.get_HopLatencyLast(hop, pVal); });
}

}  // namespace telvario
