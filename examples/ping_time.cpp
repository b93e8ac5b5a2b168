// A program that uses the component as any host does: it creates the object by its ProgID and
// reads PingTime to a host (127.0.0.1 unless one is named).
//   c++ ping_time.cpp $(pkg-config --cflags --libs telvario) -o ping_time
#include <telvario.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  const std::string host = argc > 1 ? argv[1] : "127.0.0.1";
  CoInitialize(nullptr);
  CLSID clsid{};
  if (CLSIDFromProgID(u"Telvario.Sonde", &clsid) != S_OK) {
    std::fprintf(stderr, "ping_time: Telvario.Sonde is not registered\n");
    return 1;
  }
  ISonde* sonde = nullptr;
  const HRESULT created = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISonde,
                                           reinterpret_cast<void**>(&sonde));
  if (created != S_OK) {
    std::fprintf(stderr, "ping_time: CoCreateInstance failed with 0x%08X\n",
                 static_cast<unsigned>(created));
    return 1;
  }
  const std::u16string wide(host.begin(), host.end());
  BSTR site = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  SHORT time = 0;
  sonde->get_PingTime(site, &time);
  SysFreeString(site);
  sonde->Release();
  std::printf("PingTime %s %d\n", host.c_str(), time);
  return time >= 0 ? 0 : 1;
}
