// The measurement side of a Sonde object: its state and the ISonde members that read and write
// it. The COM object places its frame part (identity, reference count, site, safety options)
// ahead of this and forwards its ISonde slots here.
#ifndef TELVARIO_PROBES_SONDE_PROBE_H
#define TELVARIO_PROBES_SONDE_PROBE_H

#include "sonde_state.h"
#include "windows_api.h"

namespace telvario {

class SondeProbe {
 public:
  // Starts Windows Sockets for this object, after the state has its defaults.
  SondeProbe();
  // Stops Windows Sockets for this object; the state (and its timer) goes after.
  ~SondeProbe();
  SondeProbe(const SondeProbe&) = delete;
  SondeProbe& operator=(const SondeProbe&) = delete;

  // Every member returns S_OK and writes its result without a check.
  HRESULT get_HostName(BSTR Addr, BSTR* pVal);
  HRESULT get_Addr(BSTR HostName, BSTR* pVal);
  HRESULT get_PingTime(BSTR Site, SHORT* pVal);
  HRESULT get_TraceRouteTime(BSTR Site, SHORT Hop, SHORT* pVal);
  HRESULT get_ReplyIP(BSTR* pVal);
  HRESULT get_PacketSize(SHORT* pVal);
  HRESULT put_PacketSize(SHORT newVal);
  HRESULT get_PingReps(SHORT* pVal);
  HRESULT put_PingReps(SHORT newVal);
  HRESULT get_NGoodPings(SHORT* pVal);
  HRESULT get_DataRead(LONG* pVal);
  HRESULT get_ElapsedTime(double* pVal);
  HRESULT get_RTT(SHORT i, SHORT* pVal);
  HRESULT get_ReadURL(BSTR URL, float* pVal);
  HRESULT get_DHCPServer(BSTR* pVal);
  HRESULT get_is_DNS_OK(LONG* pVal);
  HRESULT get_UploadTest(BSTR Host, LONG* pVal);
  HRESULT Sleep(LONG ms);

  SondeState& State() { return state_; }

 private:
  SondeState state_;
};

}  // namespace telvario

#endif
