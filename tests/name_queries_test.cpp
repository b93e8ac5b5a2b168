// HostName, Addr, DHCPServer and the registry reader, on loopback names and a scratch key of the
// current user's. The lab's resolver tests the names that need one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "name_queries.h"
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
