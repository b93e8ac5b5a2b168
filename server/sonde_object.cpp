#include "sonde_object.h"

#include <new>

#include "call_boundary.h"
#include "server_module.h"
#include "type_info_cache.h"

namespace telvario {
namespace {

// Counts of an object being destroyed: far from 0, so calls made during teardown cannot bring
// it to 0 a second time.
constexpr LONG kDestroying = static_cast<LONG>(0xC0000001);

struct InterfaceRow {
  const IID* iid;
  IUnknown* (*answer)(Sonde* object);
};

// ISonde and ISonde2 are one pointer: ISonde's slots begin ISonde2's.
IUnknown* AsSonde(Sonde* object) {
  return static_cast<ISonde2*>(object);
}
IUnknown* AsSite(Sonde* object) {
  return static_cast<IObjectWithSite*>(object);
}
IUnknown* AsSafety(Sonde* object) {
  return static_cast<IObjectSafety*>(object);
}
IUnknown* AsContainer(Sonde* object) {
  return static_cast<IConnectionPointContainer*>(object);
}
IUnknown* AsClassInfo(Sonde* object) {
  return static_cast<IProvideClassInfo2*>(object);
}

// IUnknown is answered by the first row, so the ISonde pointer is the object's identity.
const InterfaceRow kSondeInterfaces[] = {
    {&IID_ISonde, AsSonde},         {&IID_IDispatch, AsSonde}, {&IID_IObjectWithSite, AsSite},
    {&IID_IObjectSafety, AsSafety}, {nullptr, nullptr},
};
const InterfaceRow kSonde2Interfaces[] = {
    {&IID_ISonde2, AsSonde},
    {&IID_ISonde, AsSonde},
    {&IID_IDispatch, AsSonde},
    {&IID_IObjectWithSite, AsSite},
    {&IID_IObjectSafety, AsSafety},
    {&IID_IConnectionPointContainer, AsContainer},
    {&IID_IProvideClassInfo, AsClassInfo},
    {&IID_IProvideClassInfo2, AsClassInfo},
    {nullptr, nullptr},
};

}  // namespace

void SiteReference::Set(IUnknown* site) {
  if (site != nullptr) site->AddRef();
  if (site_ != nullptr) site_->Release();
  site_ = site;
}

Sonde::Sonde(IUnknown* outer, SondeClass kind)
    : class_(kind),
      outer_(outer),
      sonde2_(kind == SondeClass::Sonde2 ? std::make_unique<Sonde2Part>(this) : nullptr) {}

TypeInfoCache& Sonde::Types() const {
  return class_ == SondeClass::Sonde2 ? Sonde2TypeInfo() : SondeTypeInfo();
}

Sonde::~Sonde() {
  if (outer_ != nullptr) return;  // the aggregate unlocks the module for its contained object
  refCount_ = kDestroying;
  TheModule().Unlock();
  // Then the measurement state goes, and the site after it.
}

HRESULT Sonde::InternalQueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  const InterfaceRow* table = class_ == SondeClass::Sonde2 ? kSonde2Interfaces : kSondeInterfaces;
  IUnknown* answer = nullptr;
  if (IsEqualGUID(iid, IID_IUnknown)) {
    answer = table[0].answer(this);
  } else {
    for (const InterfaceRow* row = table; row->iid != nullptr; ++row) {
      if (IsEqualGUID(iid, *row->iid)) {
        answer = row->answer(this);
        break;
      }
    }
  }
  if (answer == nullptr) return E_NOINTERFACE;
  answer->AddRef();
  *object = answer;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Sonde::QueryInterface(REFIID iid, void** object) {
  if (outer_ != nullptr) return outer_->QueryInterface(iid, object);
  return InternalQueryInterface(iid, object);
}

// Plain arithmetic: an object is used by the one thread of its apartment.
ULONG STDMETHODCALLTYPE Sonde::AddRef() {
  if (outer_ != nullptr) return outer_->AddRef();
  return static_cast<ULONG>(++refCount_);
}

ULONG STDMETHODCALLTYPE Sonde::Release() {
  if (outer_ != nullptr) return outer_->Release();
  const LONG count = --refCount_;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE Sonde::SetSite(IUnknown* site) {
  site_.Set(site);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Sonde::GetSite(REFIID iid, void** site) {
  if (site == nullptr) return E_POINTER;
  if (site_.Get() != nullptr) return site_.Get()->QueryInterface(iid, site);
  *site = nullptr;
  return E_FAIL;
}

HRESULT STDMETHODCALLTYPE Sonde::GetInterfaceSafetyOptions(REFIID iid, DWORD* supported,
                                                           DWORD* enabled) {
  if (supported == nullptr || enabled == nullptr) return E_POINTER;
  IUnknown* asked = nullptr;
  const HRESULT found =
      static_cast<ISonde2*>(this)->QueryInterface(iid, reinterpret_cast<void**>(&asked));
  if (found != S_OK) {
    *supported = 0;
    *enabled = 0;
    return found;
  }
  asked->Release();
  *supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
  *enabled = enabledSafety_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Sonde::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) {
  IUnknown* asked = nullptr;
  if (static_cast<ISonde2*>(this)->QueryInterface(iid, reinterpret_cast<void**>(&asked)) != S_OK) {
    return E_NOINTERFACE;
  }
  asked->Release();
  if ((mask & ~INTERFACESAFE_FOR_UNTRUSTED_CALLER) != 0) return E_FAIL;
  // One set of options for the whole object, whichever interface was named.
  enabledSafety_ = (mask & enabled) | (~mask & enabledSafety_);
  return S_OK;
}

// Late binding is served by the type information that all objects of the class share.
HRESULT STDMETHODCALLTYPE Sonde::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE Sonde::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) {
  return AtBoundary([&] { return CachedGetTypeInfo(Types(), index, locale, info); });
}
HRESULT STDMETHODCALLTYPE Sonde::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                               DISPID* dispids) {
  return AtBoundary(
      [&] { return CachedGetIDsOfNames(Types(), iid, names, count, locale, dispids); });
}
HRESULT STDMETHODCALLTYPE Sonde::Invoke(DISPID member, REFIID iid, LCID locale, WORD flags,
                                        DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                        UINT* argumentError) {
  return AtBoundary([&] {
    return CachedInvoke(Types(), static_cast<ISonde2*>(this), member, iid, locale, flags, params,
                        result, exception, argumentError);
  });
}

// The measurements are the probe's; no exception of theirs reaches the caller.
HRESULT STDMETHODCALLTYPE Sonde::get_HostName(BSTR Addr, BSTR* pVal) {
  return AtBoundary([&] { return probe_.get_HostName(Addr, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_Addr(BSTR HostName, BSTR* pVal) {
  return AtBoundary([&] { return probe_.get_Addr(HostName, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_PingTime(BSTR Site, SHORT* pVal) {
  return AtBoundary([&] { return probe_.get_PingTime(Site, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_PacketSize(SHORT* pVal) {
  return AtBoundary([&] { return probe_.get_PacketSize(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_PacketSize(SHORT newVal) {
  return AtBoundary([&] { return probe_.put_PacketSize(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_PingReps(SHORT* pVal) {
  return AtBoundary([&] { return probe_.get_PingReps(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::put_PingReps(SHORT newVal) {
  return AtBoundary([&] { return probe_.put_PingReps(newVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_NGoodPings(SHORT* pVal) {
  return AtBoundary([&] { return probe_.get_NGoodPings(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_ReplyIP(BSTR* pVal) {
  return AtBoundary([&] { return probe_.get_ReplyIP(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_TraceRouteTime(BSTR Site, SHORT Hop, SHORT* pVal) {
  return AtBoundary([&] { return probe_.get_TraceRouteTime(Site, Hop, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_ReadURL(BSTR URL, float* pVal) {
  return AtBoundary([&] { return probe_.get_ReadURL(URL, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_DataRead(LONG* pVal) {
  return AtBoundary([&] { return probe_.get_DataRead(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_ElapsedTime(double* pVal) {
  return AtBoundary([&] { return probe_.get_ElapsedTime(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_DHCPServer(BSTR* pVal) {
  return AtBoundary([&] { return probe_.get_DHCPServer(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_is_DNS_OK(LONG* pVal) {
  return AtBoundary([&] { return probe_.get_is_DNS_OK(pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_RTT(SHORT i, SHORT* pVal) {
  return AtBoundary([&] { return probe_.get_RTT(i, pVal); });
}
HRESULT STDMETHODCALLTYPE Sonde::Sleep(LONG ms) {
  return AtBoundary([&] { return probe_.Sleep(ms); });
}
HRESULT STDMETHODCALLTYPE Sonde::get_UploadTest(BSTR Host, LONG* pVal) {
  return AtBoundary([&] { return probe_.get_UploadTest(Host, pVal); });
}

SondeAggregate::~SondeAggregate() {
  refCount_ = kDestroying;
  TheModule().Unlock();
}

HRESULT STDMETHODCALLTYPE SondeAggregate::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualGUID(iid, IID_IUnknown)) {
    *object = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  return contained_.InternalQueryInterface(iid, object);
}

ULONG STDMETHODCALLTYPE SondeAggregate::AddRef() {
  return static_cast<ULONG>(++refCount_);
}

ULONG STDMETHODCALLTYPE SondeAggregate::Release() {
  const LONG count = --refCount_;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

namespace {

// Allocates and constructs, then locks the module as the last step; E_OUTOFMEMORY if the
// allocation or the construction fails, with nothing locked.
template <typename Object>
Object* Construct(IUnknown* outer, SondeClass kind, HRESULT& result) {
  Object* created = nullptr;
  try {
    created = new (std::nothrow) Object(outer, kind);
  } catch (...) {
    created = nullptr;
  }
  if (created == nullptr) {
    result = E_OUTOFMEMORY;
    return nullptr;
  }
  TheModule().Lock();
  result = S_OK;
  return created;
}

HRESULT CreateInstanceOf(SondeClass kind, IUnknown* outer, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  HRESULT result = S_OK;
  if (outer == nullptr) {
    Sonde* created = Construct<Sonde>(nullptr, kind, result);
    if (created == nullptr) return result;
    result = created->InternalQueryInterface(iid, object);
    if (result != S_OK) delete created;
    return result;
  }
  SondeAggregate* created = Construct<SondeAggregate>(outer, kind, result);
  if (created == nullptr) return result;
  result = created->QueryInterface(iid, object);
  if (result != S_OK) delete created;
  return result;
}

}  // namespace

HRESULT CreateSondeInstance(IUnknown* outer, REFIID iid, void** object) {
  return CreateInstanceOf(SondeClass::Sonde, outer, iid, object);
}

HRESULT CreateSonde2Instance(IUnknown* outer, REFIID iid, void** object) {
  return CreateInstanceOf(SondeClass::Sonde2, outer, iid, object);
}

}  // namespace telvario
