// An impersonating caller's identity goes with its guarded work: the worker wears the caller's
// thread token for the call, and nothing of it afterwards.
#include <gtest/gtest.h>

#include "stall_guard.h"

namespace telvario {
namespace {

class TokenProbe final : public GuardedWork {
 public:
  bool hadToken = false;

 private:
  void Run() override {
    HANDLE token = nullptr;
    hadToken = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
    if (hadToken) CloseHandle(token);
  }
};

TEST(GuardIdentity, TheWorkerWearsTheCallersToken) {
  auto plain = NewWork<TokenProbe>();
  ASSERT_EQ(RunGuarded(*plain), GuardedEnd::Finished);
  EXPECT_FALSE(plain->hadToken);

  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  auto impersonated = NewWork<TokenProbe>();
  EXPECT_EQ(RunGuarded(*impersonated), GuardedEnd::Finished);
  EXPECT_TRUE(impersonated->hadToken);
  RevertToSelf();
}

}  // namespace
}  // namespace telvario
