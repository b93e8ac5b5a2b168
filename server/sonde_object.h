// A Sonde or Sonde2 object as COM sees it: the frame part (its interfaces, site, safety options
// and reference count, or the controlling unknown when it lives in an aggregate) ahead of the
// measurement side, and the aggregate that contains one. One object type stands behind both
// classes: a Sonde answers ISonde only, with ISonde's type information; a Sonde2 answers
// ISonde2 too, whose first slots are ISonde's, with ISonde2's type information.
#ifndef TELVARIO_SERVER_SONDE_OBJECT_H
#define TELVARIO_SERVER_SONDE_OBJECT_H

#include <memory>

#include "progress_events.h"
#include "sonde2_probe.h"
#include "sonde_probe.h"
#include "telvario2_idl.h"
#include "telvario_idl.h"
#include "type_info_cache.h"
#include "windows_api.h"

namespace telvario {

// Holds the object's site reference; released after the measurement state is torn down.
class SiteReference {
 public:
  SiteReference() = default;
  ~SiteReference() { Set(nullptr); }
  SiteReference(const SiteReference&) = delete;
  SiteReference& operator=(const SiteReference&) = delete;
  void Set(IUnknown* site);
  IUnknown* Get() const { return site_; }

 private:
  IUnknown* site_ = nullptr;
};

enum class SondeClass { Sonde, Sonde2 };

class Sonde final : public IObjectWithSite,
                    public ISonde2,
                    public IObjectSafety,
                    public IConnectionPointContainer,
                    public IProvideClassInfo2 {
 public:
  // A null outer makes a standalone object that counts its own references; otherwise the
  // object is contained and its interfaces answer for the controlling unknown.
  Sonde(IUnknown* outer, SondeClass kind);
  ~Sonde();
  Sonde(const Sonde&) = delete;
  Sonde& operator=(const Sonde&) = delete;

  // The interface table's answer, without delegation.
  HRESULT InternalQueryInterface(REFIID iid, void** object);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE SetSite(IUnknown* site) override;
  HRESULT STDMETHODCALLTYPE GetSite(REFIID iid, void** site) override;

  HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID iid, DWORD* supported,
                                                      DWORD* enabled) override;
  HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID iid, DWORD mask,
                                                      DWORD enabled) override;

  // Sonde2's events (sonde2_members.cpp).
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* dispids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) override;

  HRESULT STDMETHODCALLTYPE get_HostName(BSTR Addr, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Addr(BSTR HostName, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_PingTime(BSTR Site, SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE get_PacketSize(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_PacketSize(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE get_PingReps(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_PingReps(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE get_NGoodPings(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE get_ReplyIP(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_TraceRouteTime(BSTR Site, SHORT Hop, SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE get_ReadURL(BSTR URL, float* pVal) override;
  HRESULT STDMETHODCALLTYPE get_DataRead(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_ElapsedTime(double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_DHCPServer(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_is_DNS_OK(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_RTT(SHORT i, SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE Sleep(LONG ms) override;
  HRESULT STDMETHODCALLTYPE get_UploadTest(BSTR Host, LONG* pVal) override;

  // ISonde2's own members (sonde2_members.cpp).
  HRESULT STDMETHODCALLTYPE get_Probes(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Probes(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE get_ProbeInterval(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_ProbeInterval(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE get_Family(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Family(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE Latency(BSTR host, double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_LatencyMin(double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_LatencyMedian(double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_LatencyMean(double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_LatencyP90(double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_LatencyP99(double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_LatencyMax(double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Jitter(double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Loss(double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Sent(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Received(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_PeerAddress(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Results(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE Addresses(BSTR name, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Streams(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Streams(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE get_Duration(double* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Duration(double newVal) override;
  HRESULT STDMETHODCALLTYPE Download(BSTR url, double* pVal) override;
  HRESULT STDMETHODCALLTYPE Upload(BSTR url, double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Bytes(double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Elapsed(double* pVal) override;
  HRESULT STDMETHODCALLTYPE Cancel() override;
  HRESULT STDMETHODCALLTYPE Responsiveness(BSTR url, double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_ResponsivenessUpload(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE put_ResponsivenessUpload(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE get_IdleLatency(double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_LoadedLatency(double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_LoadedLatencyP90(double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_RPM(double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_MaxHops(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_MaxHops(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE Route(BSTR host, LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Hops(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_RouteEnd(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HopAddress(LONG hop, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HopAddresses(LONG hop, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HopSent(LONG hop, LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HopReceived(LONG hop, LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HopLoss(LONG hop, double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HopLatencyMin(LONG hop, double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HopLatencyMedian(LONG hop, double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HopLatencyMean(LONG hop, double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HopLatencyP90(LONG hop, double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HopLatencyMax(LONG hop, double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HopJitter(LONG hop, double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HopForwardLoss(LONG hop, double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HopAddedLatency(LONG hop, double* pVal) override;
  HRESULT STDMETHODCALLTYPE get_ResolveHopNames(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE put_ResolveHopNames(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE get_HopName(LONG hop, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HopReading(LONG hop, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_HopLatencyLast(LONG hop, double* pVal) override;

 private:
  // The type information late binding is served from: the class's own.
  TypeInfoCache& Types() const;

  const SondeClass class_;
  SiteReference site_;
  DWORD enabledSafety_ = 0;
  LONG refCount_ = 0;  // standalone only
  IUnknown* outer_;    // contained only
  SondeProbe probe_;
  // What a Sonde2 alone carries: its events, and its own measurements, which tell them of their
  // progress. Null in a Sonde, which never answers ISonde2 nor its events.
  struct Sonde2Part {
    explicit Sonde2Part(IConnectionPointContainer* container) : events(container), probe(&events) {}
    ProgressConnectionPoint events;
    Sonde2Probe probe;
  };
  std::unique_ptr<Sonde2Part> sonde2_;
};

// The outer part of a Sonde created inside an aggregate: its inner unknown, which does not
// delegate, and the contained object.
class SondeAggregate final : public IUnknown {
 public:
  SondeAggregate(IUnknown* outer, SondeClass kind) : contained_(outer, kind) {}
  ~SondeAggregate();
  SondeAggregate(const SondeAggregate&) = delete;
  SondeAggregate& operator=(const SondeAggregate&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

 private:
  LONG refCount_ = 0;
  Sonde contained_;
};

// The object map rows' instance creators: standalone without an outer, contained with one.
HRESULT CreateSondeInstance(IUnknown* outer, REFIID iid, void** object);
HRESULT CreateSonde2Instance(IUnknown* outer, REFIID iid, void** object);

}  // namespace telvario

#endif
