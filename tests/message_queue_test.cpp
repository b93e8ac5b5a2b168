// The thread message queue as a host and the probes use it: peeking, removing, filters,
// dispatch to a window, and posting from another thread.
#include <gtest/gtest.h>

#include <thread>

#include "test_window.h"

namespace {

using telvario::testing::CountingWindow;
using telvario::testing::QueueIsEmpty;

void Drain() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

TEST(MessageQueue, PeekWithoutRemovalLeavesTheMessage) {
  Drain();
  CountingWindow window;
  ASSERT_TRUE(window.Post());
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(message.hwnd, window.Handle());
  EXPECT_EQ(message.message, CountingWindow::kTestMessage);
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_TRUE(QueueIsEmpty());
  EXPECT_EQ(CountingWindow::dispatched, 0);
  DispatchMessageA(&message);
  EXPECT_EQ(CountingWindow::dispatched, 1);
}

TEST(MessageQueue, FiltersByWindowAndMessageRange) {
  Drain();
  CountingWindow window;
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_APP + 7, 1, 2));
  ASSERT_TRUE(window.Post());
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, window.Handle(), 0, 0, PM_NOREMOVE));
  EXPECT_EQ(message.message, CountingWindow::kTestMessage);
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_APP + 7, WM_APP + 7, PM_REMOVE));
  EXPECT_EQ(message.hwnd, nullptr);
  EXPECT_EQ(message.wParam, 1u);
  EXPECT_EQ(message.lParam, 2);
  EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_APP + 7, WM_APP + 7, PM_NOREMOVE));
  Drain();
}

TEST(MessageQueue, AnotherThreadPostsToThisThread) {
  Drain();
  CountingWindow window;
  const DWORD self = GetCurrentThreadId();
  std::thread poster([&] {
    EXPECT_TRUE(PostMessageA(window.Handle(), CountingWindow::kTestMessage, 0, 0));
    EXPECT_TRUE(PostThreadMessageA(self, WM_APP + 9, 0, 0));
  });
  poster.join();
  Drain();
  EXPECT_EQ(CountingWindow::dispatched, 1);
  EXPECT_TRUE(QueueIsEmpty());
}

TEST(MessageQueue, PostingToADestroyedWindowFails) {
  HWND gone = nullptr;
  {
    CountingWindow window;
    gone = window.Handle();
  }
  EXPECT_FALSE(PostMessageA(gone, CountingWindow::kTestMessage, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

}  // namespace
