// Sonde2's events: its one connection point, for _ISonde2Events, through which the sinks a host
// advises (script hosts' among them) hear of a measurement's progress. Events are raised on the
// thread of the call that measures, to every sink advised at that moment.
#ifndef TELVARIO_SERVER_PROGRESS_EVENTS_H
#define TELVARIO_SERVER_PROGRESS_EVENTS_H

#include <vector>

#include "sonde2_probe.h"
#include "telvario2_idl.h"
#include "windows_api.h"

namespace telvario {

class ProgressConnectionPoint final : public IConnectionPoint, public ProgressListener {
 public:
  // Lives inside its container, which it counts its references on.
  explicit ProgressConnectionPoint(IConnectionPointContainer* container) : container_(container) {}
  ~ProgressConnectionPoint();
  ProgressConnectionPoint(const ProgressConnectionPoint&) = delete;
  ProgressConnectionPoint& operator=(const ProgressConnectionPoint&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE
  GetConnectionPointContainer(IConnectionPointContainer** container) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

  // Raises Progress(phase, fraction, value) on every sink; a sink that fails is passed over.
  void Progress(const char* phase, double fraction, double value) override;

 private:
  struct Sink {
    IDispatch* dispatch;
    DWORD cookie;
  };
  IConnectionPointContainer* container_;
  std::vector<Sink> sinks_;
  DWORD nextCookie_ = 1;
};

// What an enumerator holds of each item it lists: a reference.
inline void Hold(IConnectionPoint* point) {
  point->AddRef();
}
inline void LetGo(IConnectionPoint* point) {
  point->Release();
}
inline void Hold(const CONNECTDATA& connection) {
  connection.pUnk->AddRef();
}
inline void LetGo(const CONNECTDATA& connection) {
  connection.pUnk->Release();
}

// An enumerator over a list of connection points, or of connections: each item held for as
// long as the enumerator lives, and handed out with a reference of the caller's own.
template <typename Enumeration, typename Item, const IID& kEnumerationIid>
class ListEnumerator final : public Enumeration {
 public:
  explicit ListEnumerator(std::vector<Item> items, ULONG at = 0)
      : items_(std::move(items)), at_(at) {
    for (const Item& item : items_) Hold(item);
  }
  ~ListEnumerator() {
    for (const Item& item : items_) LetGo(item);
  }
  ListEnumerator(const ListEnumerator&) = delete;
  ListEnumerator& operator=(const ListEnumerator&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, kEnumerationIid)) {
      return E_NOINTERFACE;
    }
    *object = static_cast<Enumeration*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* items, ULONG* fetched) override {
    if (items == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG given = 0;
    for (; given < count && at_ < items_.size(); ++given, ++at_) {
      items[given] = items_[at_];
      Hold(items[given]);
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const auto left = static_cast<ULONG>(items_.size()) - at_;
    at_ += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    at_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(Enumeration** copy) override {
    if (copy == nullptr) return E_POINTER;
    *copy = nullptr;
    try {
      *copy = new ListEnumerator(items_, at_);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  LONG references_ = 1;
  std::vector<Item> items_;
  ULONG at_;
};

using ConnectionPointList =
    ListEnumerator<IEnumConnectionPoints, IConnectionPoint*, IID_IEnumConnectionPoints>;
using ConnectionList = ListEnumerator<IEnumConnections, CONNECTDATA, IID_IEnumConnections>;

}  // namespace telvario

#endif
