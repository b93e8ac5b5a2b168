// The arithmetic and the data of the upload measurement, without a network.
#include <gtest/gtest.h>

#include <limits>

#include "ftp_upload.h"

namespace telvario {
namespace {

TEST(UploadRate, BitsPerMillisecondOfWholeMilliseconds) {
  EXPECT_EQ(UploadRate(80ULL * kUploadBurstBytes, 5200000), 6049);  // 3,932,160 bytes
  EXPECT_EQ(UploadRate(80ULL * kUploadBurstBytes, 5200999), 6049);  // the µs are cut
  EXPECT_EQ(UploadRate(0, 5000000), 0);
}

TEST(UploadRate, FastLinksDoNotWrap) {
  // 600 MB in five seconds: the bit count passes 2^32, which would give 101,001.
  EXPECT_EQ(UploadRate(600000000ULL, 5000000), 960000);
  // 5 GiB in five seconds: the byte count itself passes 2^32.
  EXPECT_EQ(UploadRate(5ULL << 30, 5000000), 8589934);
  EXPECT_EQ(UploadRate(1ULL << 50, 5000000), std::numeric_limits<LONG>::max());
}

TEST(UploadRate, NoElapsedTimeGivesNoRate) {
  EXPECT_EQ(UploadRate(kUploadBurstBytes, 999), 0);
}

TEST(UploadPattern, TheRuntimeGeneratorSeededWithOne) {
  BYTE pattern[kUploadBlockSize] = {};
  FillUploadPattern(pattern);
  const BYTE start[] = {0x29, 0x23, 0xBE, 0x84, 0xE1, 0x6C, 0xD6, 0xAE};
  for (size_t i = 0; i < sizeof start; ++i) EXPECT_EQ(pattern[i], start[i]) << i;
  BYTE again[kUploadBlockSize] = {};
  FillUploadPattern(again);
  EXPECT_EQ(0, memcmp(pattern, again, sizeof pattern));
}

TEST(UploadPattern, RemoteNameIsEighteenCharacters) {
  char name[32] = {};
  EXPECT_EQ(wsprintfA(name, "/temp/%08lx.tmp", static_cast<DWORD>(0x00ab12cd)), 18);
  EXPECT_STREQ(name, "/temp/00ab12cd.tmp");
  EXPECT_EQ(wsprintfA(name, "/temp/%08lx.tmp", static_cast<DWORD>(0xfedcba98)), 18);
  EXPECT_STREQ(name, "/temp/fedcba98.tmp");
}

}  // namespace
}  // namespace telvario
