// The module records on their own: termination callbacks, a second termination, and a detach
// while a client still holds a class object.
#include <gtest/gtest.h>

#include <vector>

#include "class_factory.h"
#include "registration.h"
#include "server_module.h"
#include "sonde_object.h"
#include "telvario_idl.h"

namespace telvario {
namespace {

std::vector<int> calls;
void Record(void* context) {
  calls.push_back(static_cast<int>(reinterpret_cast<intptr_t>(context)));
}

TEST(ServerModule, TermCallbacksRunNewestFirstAndOnce) {
  calls.clear();
  ServerModule module;
  ASSERT_EQ(module.AddTermCallback(Record, reinterpret_cast<void*>(1)), S_OK);
  ASSERT_EQ(module.AddTermCallback(Record, reinterpret_cast<void*>(2)), S_OK);
  // Added while the module lock is held by this thread: the lock is re-entrant.
  {
    GuardedLockHolder holder(module.ModuleLock());
    ASSERT_EQ(holder.Lock(), S_OK);
    ASSERT_EQ(module.AddTermCallback(Record, reinterpret_cast<void*>(3)), S_OK);
  }
  EXPECT_TRUE(module.Alive());
  module.Term();
  EXPECT_EQ(calls, (std::vector<int>{3, 2, 1}));
  EXPECT_FALSE(module.Alive());
  module.Term();  // as static teardown does after the detach
  EXPECT_EQ(calls.size(), 3u);
}

TEST(ServerModule, LockCountFollowsLockAndUnlock) {
  ServerModule module;
  EXPECT_EQ(module.GetLockCount(), 0);
  EXPECT_EQ(module.Lock(), 1);
  EXPECT_EQ(module.Unlock(), 0);
}

TEST(ServerModule, DetachDropsOnlyTheCachedReference) {
  ServerModule module;
  ObjectMapEntry map[] = {
      {&CLSID_Sonde, nullptr, CreateClassFactory, CreateSondeInstance, nullptr, 0, nullptr, nullptr,
       [](bool) {}},
      {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
  };
  module.Init(map);
  IClassFactory* client = nullptr;
  ASSERT_EQ(GetClassObject(map, CLSID_Sonde, IID_IClassFactory, reinterpret_cast<void**>(&client)),
            S_OK);
  EXPECT_EQ(module.GetLockCount(), 1);  // a client's reference keeps the module
  module.Term();
  EXPECT_EQ(map[0].classObject, nullptr);
  EXPECT_EQ(module.GetLockCount(), 0);
  EXPECT_EQ(client->AddRef(), 2u);  // still alive for its client
  EXPECT_EQ(client->Release(), 1u);
  EXPECT_EQ(client->Release(), 0u);
}

TEST(ClassTable, AfterShutdownUnknownClassesAreUnexpected) {
  ObjectMapEntry empty[] = {
      {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr}};
  void* object = nullptr;
  EXPECT_EQ(GetClassObject(empty, CLSID_Sonde, IID_IClassFactory, &object),
            CLASS_E_CLASSNOTAVAILABLE);
  TheClassTable().Shutdown();  // this process's table, as static teardown leaves it
  EXPECT_EQ(GetClassObject(empty, CLSID_Sonde, IID_IClassFactory, &object), E_UNEXPECTED);
}

// A registry script that fails ends registration there: no category step, no type library.
bool categoriesAsked = false;
HRESULT FailingScript(BOOL /*doRegister*/) {
  return DISP_E_EXCEPTION;
}
const void* RecordedCategories() {
  categoriesAsked = true;
  return nullptr;
}

TEST(Registration, AFailedScriptEndsRegistration) {
  ObjectMapEntry map[] = {
      {&CLSID_Sonde, FailingScript, CreateClassFactory, CreateSondeInstance, nullptr, 0, nullptr,
       RecordedCategories, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
  };
  UnRegisterTypeLib(LIBID_TELVARIOLib, 1, 0, 0, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  EXPECT_EQ(RegisterServer(map), DISP_E_EXCEPTION);
  EXPECT_FALSE(categoriesAsked);
  ITypeLib* library = nullptr;
  EXPECT_TRUE(FAILED(LoadRegTypeLib(LIBID_TELVARIOLib, 1, 0, 0, &library)));
  if (library != nullptr) library->Release();
}

}  // namespace
}  // namespace telvario
