// ISonde2's own members of the one object type: forwarded to Sonde2's measurement side, no
// exception of theirs reaching the caller. A Sonde object never answers ISonde2, so these are
// reached through Sonde2 objects only.
#include "call_boundary.h"
#include "sonde_object.h"
#include "type_info_cache.h"

namespace telvario {

HRESULT STDMETHODCALLTYPE Sonde::get_Probes(LONG* pVal) {
  return AtBoundary([&] { return probe2_.get_Probes(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_Probes(LONG newVal) {
  return AtBoundary([&] { return probe2_.put_Probes(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_ProbeInterval(LONG* pVal) {
  return AtBoundary([&] { return probe2_.get_ProbeInterval(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_ProbeInterval(LONG newVal) {
  return AtBoundary([&] { return probe2_.put_ProbeInterval(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Family(LONG* pVal) {
  return AtBoundary([&] { return probe2_.get_Family(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_Family(LONG newVal) {
  return AtBoundary([&] { return probe2_.put_Family(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LatencyMin(double* pVal) {
  return AtBoundary([&] { return probe2_.get_LatencyMin(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LatencyMedian(double* pVal) {
  return AtBoundary([&] { return probe2_.get_LatencyMedian(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LatencyMean(double* pVal) {
  return AtBoundary([&] { return probe2_.get_LatencyMean(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LatencyP90(double* pVal) {
  return AtBoundary([&] { return probe2_.get_LatencyP90(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LatencyP99(double* pVal) {
  return AtBoundary([&] { return probe2_.get_LatencyP99(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LatencyMax(double* pVal) {
  return AtBoundary([&] { return probe2_.get_LatencyMax(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Jitter(double* pVal) {
  return AtBoundary([&] { return probe2_.get_Jitter(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Loss(double* pVal) {
  return AtBoundary([&] { return probe2_.get_Loss(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Sent(LONG* pVal) {
  return AtBoundary([&] { return probe2_.get_Sent(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Received(LONG* pVal) {
  return AtBoundary([&] { return probe2_.get_Received(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_PeerAddress(BSTR* pVal) {
  return AtBoundary([&] { return probe2_.get_PeerAddress(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Results(BSTR* pVal) {
  return AtBoundary([&] { return probe2_.get_Results(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::Addresses(BSTR name, BSTR* pVal) {
  return AtBoundary([&] { return probe2_.Addresses(name, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::Latency(BSTR host, double* pVal) {
  // The echo requests carry PacketSize bytes, as PingTime's do.
  return AtBoundary([&] { return probe2_.Latency(host, probe_.State().packetSize, pVal); });
}

HRESULT STDMETHODCALLTYPE Sonde::get_Streams(LONG* pVal) {
  return AtBoundary([&] { return probe2_.get_Streams(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_Streams(LONG newVal) {
  return AtBoundary([&] { return probe2_.put_Streams(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Duration(double* pVal) {
  return AtBoundary([&] { return probe2_.get_Duration(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_Duration(double newVal) {
  return AtBoundary([&] { return probe2_.put_Duration(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::Download(BSTR url, double* pVal) {
  // Echo requests of PacketSize bytes time the latency under the load.
  return AtBoundary([&] { return probe2_.Download(url, probe_.State().packetSize, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Bytes(double* pVal) {
  return AtBoundary([&] { return probe2_.get_Bytes(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Elapsed(double* pVal) {
  return AtBoundary([&] { return probe2_.get_Elapsed(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::Cancel() {
  return probe2_.Cancel();  // an atomic flag: from any thread
}

HRESULT STDMETHODCALLTYPE Sonde::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (points == nullptr) return E_POINTER;
  *points = nullptr;
  return AtBoundary([&] {
    *points = new ConnectionPointList({static_cast<IConnectionPoint*>(&events_)});
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE Sonde::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  if (point == nullptr) return E_POINTER;
  *point = nullptr;
  if (!IsEqualGUID(iid, DIID__ISonde2Events)) return CONNECT_E_NOCONNECTION;
  events_.AddRef();
  *point = &events_;
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
  // The same consent as UploadTest's, asked once for the process.
  return AtBoundary([&] { return probe2_.Upload(url, probe_.State().packetSize, pVal); });
}

HRESULT STDMETHODCALLTYPE Sonde::get_ResponsivenessUpload(VARIANT_BOOL* pVal) {
  return AtBoundary([&] { return probe2_.get_ResponsivenessUpload(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_ResponsivenessUpload(VARIANT_BOOL newVal) {
  return AtBoundary([&] { return probe2_.put_ResponsivenessUpload(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_IdleLatency(double* pVal) {
  return AtBoundary([&] { return probe2_.get_IdleLatency(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LoadedLatency(double* pVal) {
  return AtBoundary([&] { return probe2_.get_LoadedLatency(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_LoadedLatencyP90(double* pVal) {
  return AtBoundary([&] { return probe2_.get_LoadedLatencyP90(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_RPM(double* pVal) {
  return AtBoundary([&] { return probe2_.get_RPM(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::Responsiveness(BSTR url, double* pVal) {
  return AtBoundary([&] { return probe2_.Responsiveness(url, probe_.State().packetSize, pVal); });
}

}  // namespace telvario
