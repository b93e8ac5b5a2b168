// A Sonde object as COM sees it: the frame part (its interfaces, site, safety options and
// reference count, or the controlling unknown when it lives in an aggregate) ahead of the
// measurement side, and the aggregate that contains one.
#ifndef TELVARIO_SERVER_SONDE_OBJECT_H
#define TELVARIO_SERVER_SONDE_OBJECT_H

#include "sonde_probe.h"
#include "telvario_idl.h"
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

class Sonde final : public IObjectWithSite, public ISonde, public IObjectSafety {
 public:
  // A null outer makes a standalone object that counts its own references; otherwise the
  // object is contained and its interfaces answer for the controlling unknown.
  explicit Sonde(IUnknown* outer);
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

 private:
  SiteReference site_;
  DWORD enabledSafety_ = 0;
  LONG refCount_ = 0;  // standalone only
  IUnknown* outer_;    // contained only
  SondeProbe probe_;
};

// The outer part of a Sonde created inside an aggregate: its inner unknown, which does not
// delegate, and the contained object.
class SondeAggregate final : public IUnknown {
 public:
  explicit SondeAggregate(IUnknown* outer) : contained_(outer) {}
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

// The Sonde row's instance creator: standalone without an outer, contained with one.
HRESULT CreateSondeInstance(IUnknown* outer, REFIID iid, void** object);

}  // namespace telvario

#endif
