// Thread priorities as the timers set them: a change the process may not make fails, says why,
// and leaves the thread as it was.
#include <gtest/gtest.h>

#include <thread>

#include "windows_api.h"

namespace {

TEST(ThreadPriority, ARaiseEitherHoldsOrFailsWithoutChange) {
  std::thread([] {
    const int before = GetThreadPriority(GetCurrentThread());
    ASSERT_NE(before, THREAD_PRIORITY_ERROR_RETURN);
    if (SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL)) {
      EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_TIME_CRITICAL);
    } else {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
      EXPECT_EQ(GetThreadPriority(GetCurrentThread()), before);
    }
  }).join();
}

TEST(ThreadPriority, ALowerPriorityIsWithinAnyonesReach) {
  std::thread([] {
    ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST));
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_LOWEST);
  }).join();
}

TEST(ThreadPriority, OnlyTheWindowsLevelsAreTaken) {
  EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), 7));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
