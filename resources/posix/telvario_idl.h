// ISonde for builds without widl: the interface definition's dual interface, its slots in the
// same order, and the identifiers of the interface, the class and the type library.
#ifndef TELVARIO_RESOURCES_POSIX_TELVARIO_IDL_H
#define TELVARIO_RESOURCES_POSIX_TELVARIO_IDL_H

#include "windows_api.h"

constexpr IID IID_ISonde = {
    0x7F3A2C1D, 0x5B9E, 0x4D62, {0x8A, 0x47, 0xC1, 0xE0, 0xB5, 0x9D, 0x3F, 0x21}};
constexpr CLSID CLSID_Sonde = {
    0x7F3A2C1E, 0x5B9E, 0x4D62, {0x8A, 0x47, 0xC1, 0xE0, 0xB5, 0x9D, 0x3F, 0x21}};
constexpr GUID LIBID_TELVARIOLib = {
    0x7F3A2C11, 0x5B9E, 0x4D62, {0x8A, 0x47, 0xC1, 0xE0, 0xB5, 0x9D, 0x3F, 0x21}};

class ISonde : public IDispatch {
 public:
  virtual HRESULT get_HostName(BSTR Addr, BSTR* pVal) = 0;
  virtual HRESULT get_Addr(BSTR HostName, BSTR* pVal) = 0;
  virtual HRESULT get_PingTime(BSTR Site, SHORT* pVal) = 0;
  virtual HRESULT get_PacketSize(SHORT* pVal) = 0;
  virtual HRESULT put_PacketSize(SHORT newVal) = 0;
  virtual HRESULT get_PingReps(SHORT* pVal) = 0;
  virtual HRESULT put_PingReps(SHORT newVal) = 0;
  virtual HRESULT get_NGoodPings(SHORT* pVal) = 0;
  virtual HRESULT get_ReplyIP(BSTR* pVal) = 0;
  virtual HRESULT get_TraceRouteTime(BSTR Site, SHORT Hop, SHORT* pVal) = 0;
  virtual HRESULT get_ReadURL(BSTR URL, float* pVal) = 0;
  virtual HRESULT get_DataRead(LONG* pVal) = 0;
  virtual HRESULT get_ElapsedTime(double* pVal) = 0;
  virtual HRESULT get_DHCPServer(BSTR* pVal) = 0;
  virtual HRESULT get_is_DNS_OK(LONG* pVal) = 0;
  virtual HRESULT get_RTT(SHORT i, SHORT* pVal) = 0;
  virtual HRESULT Sleep(LONG ms) = 0;
  virtual HRESULT get_UploadTest(BSTR Host, LONG* pVal) = 0;

 protected:
  ~ISonde() = default;
};

#endif
