// A host that creates and releases 100,000 Sonde objects through the library's class object:
// the cost of one create-and-release, the resident memory before and after, and whether the
// library may then be unloaded.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "telvario_idl.h"

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

constexpr int kObjects = 100000;

long ResidentKilobytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void CreateAndRelease(IClassFactory* factory, int count) {
  for (int i = 0; i < count; ++i) {
    ISonde* sonde = nullptr;
    factory->CreateInstance(nullptr, IID_ISonde, reinterpret_cast<void**>(&sonde));
    sonde->Release();
  }
}

}  // namespace

int main() {
  HMODULE library = LoadLibraryA(TELVARIO_MODULE_PATH);
  if (library == nullptr) {
    std::fprintf(stderr, "cannot load %s\n", TELVARIO_MODULE_PATH);
    return 1;
  }
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
  auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "DllCanUnloadNow")));
  IClassFactory* factory = nullptr;
  getClassObject(CLSID_Sonde, IID_IClassFactory, reinterpret_cast<void**>(&factory));

  CreateAndRelease(factory, 1000);  // warm: first-use allocations stay out of the figure
  const long before = ResidentKilobytes();
  const auto start = std::chrono::steady_clock::now();
  CreateAndRelease(factory, kObjects);
  const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
  const long after = ResidentKilobytes();
  factory->Release();

  std::printf("%d objects created and released through IClassFactory\n", kObjects);
  std::printf("  create + release     %8.1f ns each\n", spent.count() / kObjects);
  std::printf("  resident memory      %ld kB before, %ld kB after (%+ld kB)\n", before, after,
              after - before);
  std::printf("  DllCanUnloadNow      %s\n", canUnloadNow() == S_OK ? "S_OK" : "S_FALSE");
  FreeLibrary(library);
  return 0;
}
