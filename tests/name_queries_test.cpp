// HostName, Addr, DHCPServer and the registry reader, on loopback names and a scratch key of the
// current user's. The lab's resolver tests the names that need one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "name_queries.h"
#include "sonde2_probe.h"
#include "sonde_probe.h"
#include "test_strings.h"

namespace telvario {
namespace {

using Text = testing::TestBstr;

// A member's string result as narrow text; fails the test for a null BSTR.
std::string Result(BSTR value) {
  EXPECT_NE(value, nullptr) << "an empty result is an allocated empty string";
  return testing::TakeNarrow(value);
}

std::string HostName(const char* address) {
  SondeProbe sonde;
  BSTR value = nullptr;
  EXPECT_EQ(sonde.get_HostName(Text(address).Get(), &value), S_OK);
  return Result(value);
}

std::string Addr(const char* name) {
  SondeProbe sonde;
  BSTR value = nullptr;
  EXPECT_EQ(sonde.get_Addr(Text(name).Get(), &value), S_OK);
  return Result(value);
}

// A name with a NUL in it is not the name it seems: every member that takes a name refuses it
// as a name that does not resolve, rather than measure what comes before the NUL.
TEST(Names, ANulInANameIsRefusedByEveryMember) {
  const Text name(std::string("127.0.0.1\0.evil.example", 23));
  SondeProbe sonde;
  SHORT time = 0;
  EXPECT_EQ(sonde.get_PingTime(name.Get(), &time), S_OK);
  EXPECT_EQ(time, -4);
  EXPECT_EQ(sonde.get_TraceRouteTime(name.Get(), 1, &time), S_OK);
  EXPECT_EQ(time, -4);
  BSTR value = nullptr;
  sonde.get_Addr(name.Get(), &value);
  EXPECT_EQ(Result(value), "");
  sonde.get_HostName(name.Get(), &value);
  EXPECT_EQ(Result(value), "");
  LONG upload = 0;
  EXPECT_EQ(sonde.get_UploadTest(name.Get(), &upload), S_OK);
  EXPECT_EQ(upload, -2);
  Sonde2Probe sonde2;
  double result = 0;
  EXPECT_EQ(sonde2.Latency(name.Get(), 32, &result), S_OK);
  EXPECT_EQ(result, -4);
  sonde2.Addresses(name.Get(), &value);
  EXPECT_EQ(Result(value), "");
  const Text url(std::string("http://127.0.0.1:9/\0x", 21));
  EXPECT_EQ(sonde2.Download(url.Get(), 32, &result), S_OK);
  EXPECT_EQ(result, -1);
}

// An IPv6 literal in brackets, as a URL has it, and one with a zone: the same addresses on every
// build.
TEST(Names, BracketedAndZonedLiteralsResolveAlike) {
  const SondeProbe sockets;
  Sonde2Probe sonde;
  BSTR value = nullptr;
  sonde.Addresses(Text("[::1]").Get(), &value);
  EXPECT_EQ(Result(value), "::1");
  sonde.Addresses(Text("fe80::1%1").Get(), &value);
  EXPECT_EQ(Result(value), "fe80::1%1");
  sonde.Addresses(Text("[::1").Get(), &value);
  EXPECT_EQ(Result(value), "");
}

TEST(HostName, LoopbackAddressHasAName) {
  EXPECT_NE(HostName("127.0.0.1"), "");
}

TEST(HostName, AnythingButADottedAddressGivesAnEmptyString) {
  EXPECT_EQ(HostName(nullptr), "");
  EXPECT_EQ(HostName(""), "");
  EXPECT_EQ(HostName("255.255.255.255"), "");
  EXPECT_EQ(HostName("localhost"), "");
}

TEST(Addr, LocalhostIsLoopback) {
  EXPECT_EQ(Addr("localhost"), "127.0.0.1");
}

TEST(Addr, NullOrEmptyNameGivesTheMachinesFirstAddress) {
  SondeProbe sonde;  // holds Windows Sockets for the direct lookup below
  const HOSTENT* local = gethostbyname("");
  ASSERT_NE(local, nullptr);
  in_addr first;
  std::memcpy(&first.s_addr, local->h_addr_list[0], 4);
  const std::string expected = inet_ntoa(first);
  EXPECT_EQ(Addr(nullptr), expected);
  EXPECT_EQ(Addr(""), expected);
}

TEST(DHCPServer, IsEmptyOnTheNtFamily) {
  ASSERT_TRUE(IsNtFamily());
  SondeProbe sonde;
  BSTR value = nullptr;
  EXPECT_EQ(sonde.get_DHCPServer(&value), S_OK);
  EXPECT_EQ(Result(value), "");
}

class ReadRegistryDwordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = "Software\\TelvarioNames-" + std::to_string(GetCurrentThreadId()) + "-" +
            std::to_string(GetTickCount());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD server = 0x0100007F;
    RegSetValueExA(key, "DhcpServer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&server), 4);
    RegCloseKey(key);
  }
  void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, path_.c_str()); }

  std::string path_;
};

TEST_F(ReadRegistryDwordTest, RootAbbreviationsInAnyCase) {
  for (const char* root : {"HKCU\\", "hkcu\\", "HkCu/"}) {
    DWORD value = 0;
    EXPECT_EQ(ReadRegistryDword((root + path_).c_str(), "DhcpServer", &value, 4), 4u) << root;
    EXPECT_EQ(value, 0x0100007Fu);
  }
}

TEST_F(ReadRegistryDwordTest, ShortBufferReportsTheSizeNeeded) {
  WORD half = 0;
  EXPECT_EQ(ReadRegistryDword(("HKCU\\" + path_).c_str(), "DhcpServer", &half, 2), 4u);
}

TEST_F(ReadRegistryDwordTest, UnknownRootsMissingKeysAndValuesGiveZero) {
  DWORD value = 0;
  EXPECT_EQ(ReadRegistryDword(("HKXX\\" + path_).c_str(), "DhcpServer", &value, 4), 0u);
  EXPECT_EQ(ReadRegistryDword(("HKCU\\" + path_ + "\\Missing").c_str(), "DhcpServer", &value, 4),
            0u);
  EXPECT_EQ(ReadRegistryDword(("HKCU\\" + path_).c_str(), "Missing", &value, 4), 0u);
  EXPECT_EQ(ReadRegistryDword("HK", "DhcpServer", &value, 4), 0u);
  // The abbreviation alone names the root; nothing past the text is read.
  EXPECT_EQ(ReadRegistryDword("HKCU", "TelvarioNoSuchValue", &value, 4), 0u);
}

}  // namespace
}  // namespace telvario
