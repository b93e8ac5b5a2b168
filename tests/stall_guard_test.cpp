// The stall guard on its own, with work that blocks until told: a step that overruns its limit
// is given up, the worker left to end by itself and counted until it has, at most a few at once.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "stall_guard.h"

namespace telvario {
namespace {

std::atomic<bool> letGo{false};

// Holds its worker until let go, on a session of its own that the guard closes.
class BlockedWork final : public GuardedWork {
 public:
  BlockedWork() { Own(InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0)); }
  std::atomic<bool> ended{false};

 private:
  void Run() override {
    BeginStep(300, INFINITE);
    while (!letGo.load()) Sleep(10);
    ended.store(true);
  }
};

TEST(ConcurrentGuard, GivenUpWorkersAreCappedAndEndByThemselves) {
  letGo.store(false);
  std::vector<WorkPtr<BlockedWork>> works;
  for (LONG i = 0; i < kMostAbandonedWorkers; ++i) {
    works.push_back(NewWork<BlockedWork>());
    const DWORD start = GetTickCount();
    EXPECT_EQ(RunGuarded(*works.back()), GuardedEnd::GaveUp);
    const DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 250u);
    EXPECT_LE(waited, 2000u);
  }
  EXPECT_EQ(AbandonedWorkers(), kMostAbandonedWorkers);
  auto refused = NewWork<BlockedWork>();
  EXPECT_EQ(RunGuarded(*refused), GuardedEnd::NoWorker);  // at once, and nothing ran

  letGo.store(true);
  const DWORD start = GetTickCount();
  while (AbandonedWorkers() > 0 && GetTickCount() - start < 5000) Sleep(10);
  EXPECT_EQ(AbandonedWorkers(), 0);
  for (const auto& work : works) EXPECT_TRUE(work->ended.load());
  EXPECT_FALSE(refused->ended.load());
  works.clear();  // the caller's references: the last of each frees its work

  auto finishing = NewWork<BlockedWork>();
  EXPECT_EQ(RunGuarded(*finishing), GuardedEnd::Finished);
  EXPECT_TRUE(finishing->ended.load());
}

}  // namespace
}  // namespace telvario
