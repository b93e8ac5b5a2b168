// The name queries against the lab's name server. Run inside a lab namespace: LabServing in
// tvl-client, whose resolver serves the lab zone, and LabDown in tvl-nodns, whose does not answer.
#include <gtest/gtest.h>

#include <string>

#include "sonde_probe.h"
#include "test_strings.h"

namespace telvario {
namespace {

std::string Call(HRESULT (SondeProbe::*member)(BSTR, BSTR*), const char* argument) {
  const testing::TestBstr text(argument);
  SondeProbe sonde;
  BSTR value = nullptr;
  (sonde.*member)(text.Get(), &value);
  return testing::TakeNarrow(value);
}

LONG DnsOk() {
  SondeProbe sonde;
  LONG ok = -1;
  sonde.get_is_DNS_OK(&ok);
  return ok;
}

TEST(LabServing, ForwardAndReverseNames) {
  EXPECT_EQ(Call(&SondeProbe::get_Addr, "host.lab.test"), "10.213.2.10");
  EXPECT_EQ(Call(&SondeProbe::get_HostName, "10.213.2.10"), "host.lab.test");
  EXPECT_EQ(Call(&SondeProbe::get_Addr, "missing.lab.test"), "");
  EXPECT_EQ(Call(&SondeProbe::get_HostName, "10.213.2.99"), "");
}

TEST(LabServing, CheckHostResolvesToItsExpectedAddress) {
  EXPECT_EQ(DnsOk(), 1);
}

TEST(LabServing, NameWithoutAddressRecordsIsToldApartOnlyByTheError) {
  SondeProbe sonde;  // holds Windows Sockets
  EXPECT_EQ(gethostbyname("nodata.lab.test"), nullptr);
  EXPECT_EQ(WSAGetLastError(), WSANO_DATA);
  EXPECT_EQ(gethostbyname("missing.lab.test"), nullptr);
  EXPECT_NE(WSAGetLastError(), WSANO_DATA);
}

TEST(LabDown, NothingResolvesAndTheCheckFails) {
  EXPECT_EQ(DnsOk(), 0);
  EXPECT_EQ(Call(&SondeProbe::get_Addr, "host.lab.test"), "");
  EXPECT_EQ(Call(&SondeProbe::get_Addr, "localhost"), "127.0.0.1");  // the hosts file still
}

}  // namespace
}  // namespace telvario
