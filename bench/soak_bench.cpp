// A bounded soak: 4 Sonde objects on 4 threads, made through the library's class object as a
// host makes them, share 1,000 ReadURLs, 200 PingTimes and 20 UploadTests against loopback
// servers. Prints the process's open descriptors, threads and resident memory after a first
// round on every thread and after the whole run, which must not have grown, and
// the files left in the FTP server's /temp, which must be none. Then rounds of downloads from a
// server that never lets go, the stall limits shortened: the threads left running stop at the
// guard's cap, and further rounds add none. Run by bench/soak.sh.
// Usage: soak_bench HTTP_URL STALLING_URL FTP_HOST FTP_TEMP_DIRECTORY
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sonde_probe.h"
#include "stall_guard.h"
#include "telvario_idl.h"

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using SetHandlerFn = MessageBoxHandler (*)(MessageBoxHandler);

constexpr int kThreads = 4;
constexpr int kReads = 1000;
constexpr int kPings = 200;
constexpr int kUploads = 20;

struct Usage {
  int descriptors;
  int threads;
  long residentKilobytes;
};

int CountEntries(const char* directory) {
  DIR* listing = opendir(directory);
  if (listing == nullptr) return -1;
  int count = 0;
  while (dirent* entry = readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) ++count;
  }
  closedir(listing);
  return count - (std::strcmp(directory, "/proc/self/fd") == 0 ? 1 : 0);  // the listing's own
}

Usage Measure() {
  Usage usage{CountEntries("/proc/self/fd"), 0, 0};
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) usage.threads = std::stoi(line.substr(8));
    if (line.rfind("VmRSS:", 0) == 0) usage.residentKilobytes = std::stol(line.substr(6));
  }
  return usage;
}

BSTR Text(const std::string& text) {
  std::u16string wide(text.begin(), text.end());
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

struct Failures {
  std::atomic<int> reads{0};
  std::atomic<int> pings{0};
  std::atomic<int> uploads{0};
};

// One thread's share of the work, on an object of its own.
void Work(IClassFactory* factory, const std::string& url, const std::string& ftp, int reads,
          int pings, int uploads, Failures& failures) {
  ISonde* sonde = nullptr;
  if (factory->CreateInstance(nullptr, IID_ISonde, reinterpret_cast<void**>(&sonde)) != S_OK) {
    failures.reads += reads;
    return;
  }
  BSTR urlText = Text(url);
  BSTR loopback = Text("127.0.0.1");
  BSTR ftpHost = Text(ftp);
  for (int i = 0; i < reads; ++i) {
    float rate = 0;
    sonde->get_ReadURL(urlText, &rate);
    if (rate <= 0) ++failures.reads;
  }
  for (int i = 0; i < pings; ++i) {
    SHORT time = 0;
    sonde->get_PingTime(loopback, &time);
    if (time < 0) ++failures.pings;
  }
  for (int i = 0; i < uploads; ++i) {
    LONG rate = 0;
    sonde->get_UploadTest(ftpHost, &rate);
    if (rate <= 0) ++failures.uploads;
  }
  SysFreeString(urlText);
  SysFreeString(loopback);
  SysFreeString(ftpHost);
  sonde->Release();
}

void Print(const char* when, const Usage& usage) {
  std::printf("  %-28s %4d descriptors %4d threads %8ld kB resident\n", when, usage.descriptors,
              usage.threads, usage.residentKilobytes);
}

// Rounds of downloads that stall, each more than the cap: gives whether the threads stayed at
// the cap after the first.
bool StalledRounds(const std::string& url) {
  telvario::GuardLimits shortened;
  shortened.stallMs = 300;
  shortened.graceMs = 200;
  telvario::SetGuardLimitsForTesting(shortened);
  BSTR text = Text(url);
  std::printf("stalled downloads, %ld at most left running:\n",
              static_cast<long>(telvario::kMostAbandonedWorkers));
  int threadsAfterFirst = 0;
  bool steady = true;
  for (int round = 1; round <= 3; ++round) {
    int failed = 0;
    for (LONG i = 0; i < telvario::kMostAbandonedWorkers + 4; ++i) {
      telvario::SondeProbe sonde;
      float rate = 0;
      sonde.get_ReadURL(text, &rate);
      if (rate == -2.0f) ++failed;
    }
    const Usage usage = Measure();
    char when[64];
    std::snprintf(when, sizeof when, "round %d (%d of %ld gave -2)", round, failed,
                  static_cast<long>(telvario::kMostAbandonedWorkers + 4));
    Print(when, usage);
    std::printf("    left running: %ld\n", static_cast<long>(telvario::AbandonedWorkers()));
    if (round == 1) threadsAfterFirst = usage.threads;
    steady = steady && usage.threads <= threadsAfterFirst &&
             telvario::AbandonedWorkers() <= telvario::kMostAbandonedWorkers;
  }
  SysFreeString(text);
  return steady;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: soak_bench HTTP_URL STALLING_URL FTP_HOST FTP_TEMP_DIRECTORY\n");
    return 2;
  }
  const std::string url = argv[1];
  const std::string stalling = argv[2];
  const std::string ftp = argv[3];
  HMODULE library = LoadLibraryA(TELVARIO_MODULE_PATH);
  if (library == nullptr) {
    std::fprintf(stderr, "cannot load %s\n", TELVARIO_MODULE_PATH);
    return 1;
  }
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
  auto setHandler = reinterpret_cast<SetHandlerFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "SetMessageBoxHandler")));
  IClassFactory* factory = nullptr;
  if (getClassObject == nullptr || setHandler == nullptr ||
      getClassObject(CLSID_Sonde, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK) {
    std::fprintf(stderr, "no class object\n");
    return 1;
  }
  setHandler([](LPCSTR, LPCSTR, UINT) { return IDOK; });  // the uploads go to our own server

  // One round of each on every thread first: the process-wide first uses, and the allocator's
  // room for four threads.
  Failures failures;
  auto round = [&](int reads, int pings, int uploads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back(Work, factory, url, ftp, reads, pings, uploads, std::ref(failures));
    }
    for (std::thread& thread : threads) thread.join();
  };
  round(1, 1, 1);
  const Usage before = Measure();
  round(kReads / kThreads, kPings / kThreads, kUploads / kThreads);
  const Usage after = Measure();
  factory->Release();

  std::printf("soak: %d ReadURLs, %d PingTimes, %d UploadTests on %d objects and threads\n", kReads,
              kPings, kUploads, kThreads);
  Print("after a first round", before);
  Print("after the soak", after);
  std::printf("  failed: %d ReadURLs, %d PingTimes, %d UploadTests\n", failures.reads.load(),
              failures.pings.load(), failures.uploads.load());
  std::printf("  files left on the FTP server: %d\n", CountEntries(argv[4]));
  const bool grew = after.descriptors > before.descriptors || after.threads > before.threads;
  if (grew) std::printf("  descriptors or threads grew\n");
  const bool steady = StalledRounds(stalling);
  if (!steady) std::printf("  threads left running grew past the cap\n");
  return grew || !steady ? 1 : 0;
}
