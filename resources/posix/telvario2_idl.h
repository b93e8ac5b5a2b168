// ISonde2 for builds without widl: Sonde2's dual interface, ISonde's slots first and its own
// after them in the same order as the interface definition, its identifiers, and the
// enumerations of its result codes and setting bounds as widl declares them.
#ifndef TELVARIO_RESOURCES_POSIX_TELVARIO2_IDL_H
#define TELVARIO_RESOURCES_POSIX_TELVARIO2_IDL_H

#include "telvario_idl.h"

constexpr IID IID_ISonde2 = {
    0x7F3A2C2D, 0x5B9E, 0x4D62, {0x8A, 0x47, 0xC1, 0xE0, 0xB5, 0x9D, 0x3F, 0x21}};
constexpr CLSID CLSID_Sonde2 = {
    0x7F3A2C2E, 0x5B9E, 0x4D62, {0x8A, 0x47, 0xC1, 0xE0, 0xB5, 0x9D, 0x3F, 0x21}};
constexpr GUID LIBID_TELVARIO2Lib = {
    0x7F3A2C21, 0x5B9E, 0x4D62, {0x8A, 0x47, 0xC1, 0xE0, 0xB5, 0x9D, 0x3F, 0x21}};
// Sonde2's events: a dispinterface its sinks implement as IDispatch.
constexpr IID DIID__ISonde2Events = {
    0x7F3A2C2F, 0x5B9E, 0x4D62, {0x8A, 0x47, 0xC1, 0xE0, 0xB5, 0x9D, 0x3F, 0x21}};

// clang-format off
#define TELVARIO_ENUM(name, help) enum name {
#define TELVARIO_ENUM_MEMBER(name, value, help) name = value,
#define TELVARIO_ENUM_END(name) };
// clang-format on
#include "sonde2_constants.def"
#undef TELVARIO_ENUM
#undef TELVARIO_ENUM_MEMBER
#undef TELVARIO_ENUM_END

class ISonde2 : public ISonde {
 public:
  virtual HRESULT get_Probes(LONG* pVal) = 0;
  virtual HRESULT put_Probes(LONG newVal) = 0;
  virtual HRESULT get_ProbeInterval(LONG* pVal) = 0;
  virtual HRESULT put_ProbeInterval(LONG newVal) = 0;
  virtual HRESULT get_Family(LONG* pVal) = 0;
  virtual HRESULT put_Family(LONG newVal) = 0;
  virtual HRESULT Latency(BSTR host, double* pVal) = 0;
  virtual HRESULT get_LatencyMin(double* pVal) = 0;
  virtual HRESULT get_LatencyMedian(double* pVal) = 0;
  virtual HRESULT get_LatencyMean(double* pVal) = 0;
  virtual HRESULT get_LatencyP90(double* pVal) = 0;
  virtual HRESULT get_LatencyP99(double* pVal) = 0;
  virtual HRESULT get_LatencyMax(double* pVal) = 0;
  virtual HRESULT get_Jitter(double* pVal) = 0;
  virtual HRESULT get_Loss(double* pVal) = 0;
  virtual HRESULT get_Sent(LONG* pVal) = 0;
  virtual HRESULT get_Received(LONG* pVal) = 0;
  virtual HRESULT get_PeerAddress(BSTR* pVal) = 0;
  virtual HRESULT get_Results(BSTR* pVal) = 0;
  virtual HRESULT Addresses(BSTR name, BSTR* pVal) = 0;
  virtual HRESULT get_Streams(LONG* pVal) = 0;
  virtual HRESULT put_Streams(LONG newVal) = 0;
  virtual HRESULT get_Duration(double* pVal) = 0;
  virtual HRESULT put_Duration(double newVal) = 0;
  virtual HRESULT Download(BSTR url, double* pVal) = 0;
  virtual HRESULT Upload(BSTR url, double* pVal) = 0;
  virtual HRESULT get_Bytes(double* pVal) = 0;
  virtual HRESULT get_Elapsed(double* pVal) = 0;
  virtual HRESULT Cancel() = 0;
  virtual HRESULT Responsiveness(BSTR url, double* pVal) = 0;
  virtual HRESULT get_ResponsivenessUpload(VARIANT_BOOL* pVal) = 0;
  virtual HRESULT put_ResponsivenessUpload(VARIANT_BOOL newVal) = 0;
  virtual HRESULT get_IdleLatency(double* pVal) = 0;
  virtual HRESULT get_LoadedLatency(double* pVal) = 0;
  virtual HRESULT get_LoadedLatencyP90(double* pVal) = 0;
  virtual HRESULT get_RPM(double* pVal) = 0;
  virtual HRESULT get_MaxHops(LONG* pVal) = 0;
  virtual HRESULT put_MaxHops(LONG newVal) = 0;
  virtual HRESULT Route(BSTR host, LONG* pVal) = 0;
  virtual HRESULT get_Hops(LONG* pVal) = 0;
  virtual HRESULT get_RouteEnd(BSTR* pVal) = 0;
  virtual HRESULT get_HopAddress(LONG hop, BSTR* pVal) = 0;
  virtual HRESULT get_HopAddresses(LONG hop, BSTR* pVal) = 0;
  virtual HRESULT get_HopSent(LONG hop, LONG* pVal) = 0;
  virtual HRESULT get_HopReceived(LONG hop, LONG* pVal) = 0;
  virtual HRESULT get_HopLoss(LONG hop, double* pVal) = 0;
  virtual HRESULT get_HopLatencyMin(LONG hop, double* pVal) = 0;
  virtual HRESULT get_HopLatencyMedian(LONG hop, double* pVal) = 0;
  virtual HRESULT get_HopLatencyMean(LONG hop, double* pVal) = 0;
  virtual HRESULT get_HopLatencyP90(LONG hop, double* pVal) = 0;
  virtual HRESULT get_HopLatencyMax(LONG hop, double* pVal) = 0;
  virtual HRESULT get_HopJitter(LONG hop, double* pVal) = 0;
  virtual HRESULT get_HopForwardLoss(LONG hop, double* pVal) = 0;
  virtual HRESULT get_HopAddedLatency(LONG hop, double* pVal) = 0;
  virtual HRESULT get_ResolveHopNames(VARIANT_BOOL* pVal) = 0;
  virtual HRESULT put_ResolveHopNames(VARIANT_BOOL newVal) = 0;
  virtual HRESULT get_HopName(LONG hop, BSTR* pVal) = 0;
  virtual HRESULT get_HopReading(LONG hop, BSTR* pVal) = 0;
  virtual HRESULT get_HopLatencyLast(LONG hop, double* pVal) = 0;

 protected:
  ~ISonde2() = default;
};

#endif
