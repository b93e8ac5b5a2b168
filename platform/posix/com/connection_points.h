// Connectable objects, as OLE declares them: a container of connection points, each of which
// takes sinks of one outgoing interface, their enumerators, and the class information a script
// host reads to find a class's default outgoing interface. Declarations only: the component
// implements the object's side, and a host its sinks.
#ifndef TELVARIO_PLATFORM_POSIX_CONNECTION_POINTS_H
#define TELVARIO_PLATFORM_POSIX_CONNECTION_POINTS_H

#include "automation.h"
#include "com.h"

constexpr HRESULT CONNECT_E_NOCONNECTION = static_cast<HRESULT>(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = static_cast<HRESULT>(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = static_cast<HRESULT>(0x80040202);

struct CONNECTDATA {
  IUnknown* pUnk;
  DWORD dwCookie;
};

class IConnectionPointContainer;

class IEnumConnections : public IUnknown {
 public:
  virtual HRESULT Next(ULONG count, CONNECTDATA* connections, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnections** copy) = 0;

 protected:
  ~IEnumConnections() = default;
};

class IConnectionPoint : public IUnknown {
 public:
  virtual HRESULT GetConnectionInterface(IID* iid) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
  virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
  virtual HRESULT Unadvise(DWORD cookie) = 0;
  virtual HRESULT EnumConnections(IEnumConnections** connections) = 0;

 protected:
  ~IConnectionPoint() = default;
};

class IEnumConnectionPoints : public IUnknown {
 public:
  virtual HRESULT Next(ULONG count, IConnectionPoint** points, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnectionPoints** copy) = 0;

 protected:
  ~IEnumConnectionPoints() = default;
};

class IConnectionPointContainer : public IUnknown {
 public:
  virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) = 0;
  virtual HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};

class IProvideClassInfo : public IUnknown {
 public:
  virtual HRESULT GetClassInfo(ITypeInfo** info) = 0;

 protected:
  ~IProvideClassInfo() = default;
};

constexpr DWORD GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1;

class IProvideClassInfo2 : public IProvideClassInfo {
 public:
  virtual HRESULT GetGUID(DWORD kind, GUID* guid) = 0;

 protected:
  ~IProvideClassInfo2() = default;
};

constexpr IID IID_IConnectionPointContainer = {
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr IID IID_IConnectionPoint = {
    0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr IID IID_IEnumConnections = {
    0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr IID IID_IEnumConnectionPoints = {
    0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr IID IID_IProvideClassInfo = {
    0xB196B283, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr IID IID_IProvideClassInfo2 = {
    0xA6BC3AC0, 0xDBAA, 0x11CE, {0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

#endif
