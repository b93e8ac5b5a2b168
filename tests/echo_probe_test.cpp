// The echo request, its checksum and the averaging; and runs against this machine itself.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "echo_probe.h"
#include "sonde_probe.h"
#include "test_strings.h"

namespace telvario {
namespace {

using testing::TakeNarrow;
using testing::TestBstr;

// The checksum as the network computes it: big-endian words, stored big-endian.
std::array<BYTE, 2> NetworkChecksum(const std::vector<BYTE>& bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    sum += static_cast<std::uint32_t>(bytes[i] << 8) + (i + 1 < bytes.size() ? bytes[i + 1] : 0);
  }
  while (sum >> 16 != 0) sum = (sum & 0xFFFF) + (sum >> 16);
  return {static_cast<BYTE>(~sum >> 8), static_cast<BYTE>(~sum)};
}

std::array<BYTE, 2> StoredChecksum(const std::vector<BYTE>& bytes) {
  const std::uint16_t value = EchoChecksum(bytes.data(), bytes.size());
  return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8)};
}

TEST(EchoChecksum, KnownVectorsGiveTheNetworkBytes) {
  // The worked example of the Internet checksum's definition: sum DDF2, checksum 220D.
  const std::vector<BYTE> example{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
  EXPECT_EQ(StoredChecksum(example), (std::array<BYTE, 2>{0x22, 0x0D}));
  // A carry that needs the second fold, and an odd last byte.
  const std::vector<BYTE> carries{0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00};
  EXPECT_EQ(StoredChecksum(carries), NetworkChecksum(carries));
  const std::vector<BYTE> odd{0x08, 0x00, 0x12, 0x34, 0x56};
  EXPECT_EQ(StoredChecksum(odd), NetworkChecksum(odd));
  EXPECT_EQ(StoredChecksum({}), (std::array<BYTE, 2>{0xFF, 0xFF}));
}

TEST(EchoRequest, LayoutFillAndChecksum) {
  for (const LONG fill : {8, 31, 32, 1500}) {
    std::array<BYTE, kMaxEchoRequest> buffer{};
    const DWORD before = GetTickCount();
    const std::size_t size = BuildEchoRequest(buffer.data(), fill);
    ASSERT_EQ(size, kEchoBlockSize + static_cast<std::size_t>(fill));
    EXPECT_EQ(buffer[0], 8);
    EXPECT_EQ(buffer[1], 0);
    const auto pid = static_cast<std::uint16_t>(GetCurrentProcessId());
    EXPECT_EQ(buffer[4] | buffer[5] << 8, pid);
    const DWORD stamp =
        buffer[8] | buffer[9] << 8 | buffer[10] << 16 | static_cast<DWORD>(buffer[11]) << 24;
    EXPECT_GE(stamp - before, 0u);
    EXPECT_LE(stamp - before, 1000u);
    for (std::size_t i = kEchoBlockSize; i < size; ++i) ASSERT_EQ(buffer[i], kEchoFill) << i;
    for (std::size_t i = size; i < kMaxEchoRequest; ++i) ASSERT_EQ(buffer[i], 0) << i;
    // Summed over the whole request with its checksum in place, the result is all ones.
    std::vector<BYTE> request(buffer.begin(), buffer.begin() + static_cast<long>(size));
    EXPECT_EQ(EchoChecksum(request.data(), request.size()), 0);
    request[2] = request[3] = 0;
    EXPECT_EQ(NetworkChecksum(request), (std::array<BYTE, 2>{buffer[2], buffer[3]}));
  }
}

TEST(EchoRequest, SequenceNumbersFollowEachOtherAcrossObjectsAndWrap) {
  std::array<BYTE, kMaxEchoRequest> first{};
  std::array<BYTE, kMaxEchoRequest> second{};
  BuildEchoRequest(first.data(), 32);
  {
    SondeProbe other;  // another object of the process draws from the same counter
    BuildEchoRequest(second.data(), 32);
  }
  const int a = first[6] | first[7] << 8;
  const int b = second[6] | second[7] << 8;
  EXPECT_EQ(b, (a + 1) & 0xFFFF);
  std::uint16_t last = NextEchoSequence();
  for (int i = 0; i < 70000; ++i) {
    const std::uint16_t next = NextEchoSequence();
    ASSERT_EQ(next, static_cast<std::uint16_t>(last + 1));
    last = next;
  }
}

TEST(EchoAverage, CountsOnlyTimesAboveZero) {
  LONG good = -1;
  const LONG mixed[] = {10, -1, 20, 31};
  EXPECT_EQ(AverageEchoTimes(mixed, 4, &good), 20);  // 61 / 3, truncated
  EXPECT_EQ(good, 3);
  const LONG zeros[] = {0, 0, 5};
  EXPECT_EQ(AverageEchoTimes(zeros, 3, &good), 5);
  EXPECT_EQ(good, 1);
  const LONG none[] = {-3, -3};
  EXPECT_EQ(AverageEchoTimes(none, 2, &good), -3);
  EXPECT_EQ(good, 0);
  const LONG local[] = {0, -1};
  EXPECT_EQ(AverageEchoTimes(local, 2, &good), 0);
  EXPECT_EQ(good, 0);
  // Only the first `count` entries are read.
  const LONG stale[] = {7, 1000};
  EXPECT_EQ(AverageEchoTimes(stale, 1, &good), 7);
}

bool EchoServiceOpens() {
  const HANDLE service = IcmpCreateFile();
  if (service == INVALID_HANDLE_VALUE) return false;
  IcmpCloseHandle(service);
  return true;
}

TEST(EchoLocal, ThisMachineAnswersInUnderAMillisecond) {
  if (!EchoServiceOpens()) GTEST_SKIP() << "this process may not send ICMP echo requests";
  SondeProbe sonde;
  sonde.put_PingReps(3);
  const TestBstr site("127.0.0.1");
  SHORT result = -9;
  sonde.get_PingTime(site.Get(), &result);
  SHORT good = -1;
  sonde.get_NGoodPings(&good);
  BSTR reply = nullptr;
  sonde.get_ReplyIP(&reply);
  EXPECT_EQ(TakeNarrow(reply), "127.0.0.1");
  // Loopback answers in well under a millisecond, and a time of 0 does not count as good.
  for (LONG i = 0; i < 3; ++i) EXPECT_GE(sonde.State().pingTimes[i], 0);
  if (good == 0) {
    EXPECT_EQ(result, 0);
  } else {
    EXPECT_GT(result, 0);
  }
}

TEST(EchoLocal, RunLeavesTheRestOfTheStateAlone) {
  SondeProbe sonde;
  sonde.put_PingReps(2);
  sonde.State().pingTimes[2] = 1234;
  sonde.State().dataRead = 77;
  const TestBstr site("127.0.0.1");
  SHORT result = 0;
  sonde.get_TraceRouteTime(site.Get(), 64, &result);
  EXPECT_EQ(sonde.State().pingTimes[2], 1234);
  EXPECT_EQ(sonde.State().dataRead, 77);
}

}  // namespace
}  // namespace telvario
