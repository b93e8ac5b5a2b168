// What late binding costs a host: GetIDsOfNames answered from the member-name table and by the
// type information, and Invoke of a property get beside the direct call of its slot, in
// nanoseconds per call. Uses a registry of its own (a temporary file).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "telvario_idl.h"

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
constexpr int kCalls = 1000000;

template <typename Call>
double NanosecondsPerCall(Call call) {
  for (int i = 0; i < kCalls / 100; ++i) call();  // warm
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kCalls; ++i) call();
  const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / kCalls;
}

}  // namespace

int main() {
  char registry[] = "/tmp/telvario-dispatch-bench-XXXXXX";
  const int fd = mkstemp(registry);
  if (fd < 0) return 1;
  close(fd);
  setenv("TELVARIO_REGISTRY", registry, 1);

  HMODULE library = LoadLibraryA(TELVARIO_MODULE_PATH);
  if (library == nullptr) return 1;
  OLECHAR path[MAX_PATH + 1] = {};
  MultiByteToWideChar(CP_UTF8, 0, TELVARIO_MODULE_PATH, -1, path, MAX_PATH + 1);
  ITypeLib* typeLib = nullptr;
  if (FAILED(LoadTypeLib(path, &typeLib)) || FAILED(RegisterTypeLib(typeLib, path, nullptr))) {
    std::fprintf(stderr, "cannot register the type library of %s\n", TELVARIO_MODULE_PATH);
    return 1;
  }
  typeLib->Release();

  auto getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
  IClassFactory* factory = nullptr;
  getClassObject(CLSID_Sonde, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  ISonde* sonde = nullptr;
  factory->CreateInstance(nullptr, IID_ISonde, reinterpret_cast<void**>(&sonde));
  factory->Release();

  OLECHAR exact[] = u"PingReps";
  OLECHAR otherCase[] = u"pingreps";
  LPOLESTR hit[] = {exact};
  LPOLESTR miss[] = {otherCase};
  DISPID dispid = 0;
  const double tableHit =
      NanosecondsPerCall([&] { sonde->GetIDsOfNames(IID_NULL, hit, 1, 0, &dispid); });
  const double tableMiss =
      NanosecondsPerCall([&] { sonde->GetIDsOfNames(IID_NULL, miss, 1, 0, &dispid); });
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  const double invoke = NanosecondsPerCall([&] {
    sonde->Invoke(dispid, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
  });
  SHORT reps = 0;
  const double direct = NanosecondsPerCall([&] { sonde->get_PingReps(&reps); });
  sonde->Release();
  unlink(registry);

  std::printf("late binding, %d calls each\n", kCalls);
  std::printf("  GetIDsOfNames, name in the table      %8.1f ns\n", tableHit);
  std::printf("  GetIDsOfNames, by the type information %7.1f ns\n", tableMiss);
  std::printf("  Invoke PingReps (property get)         %7.1f ns\n", invoke);
  std::printf("  get_PingReps through its slot          %7.1f ns\n", direct);
  std::printf("  Invoke / slot                          %7.1fx\n", invoke / direct);
  return 0;
}
