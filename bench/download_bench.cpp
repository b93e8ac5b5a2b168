// The cost of ReadURL against curl's own: the same body from the same server, fetched by
// ReadURL in this process and by the curl program, compared in CPU seconds per GiB and in rate.
// Start the server first (tests/http_test_server.py) and pass its base URL, and optionally the
// body's size in bytes (1 GiB by default).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "sonde_probe.h"

namespace {

using telvario::SondeProbe;

constexpr long long kGiB = 1LL << 30;

double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

BSTR ToBstr(const std::string& text) {
  std::basic_string<OLECHAR> wide(text.begin(), text.end());
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

struct Figures {
  double cpuSeconds;
  double kilobitsPerSecond;
};

Figures MeasureReadUrl(const std::string& url) {
  SondeProbe sonde;
  BSTR text = ToBstr(url);
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  float rate = 0;
  sonde.get_ReadURL(text, &rate);
  getrusage(RUSAGE_SELF, &after);
  SysFreeString(text);
  return {CpuSeconds(after) - CpuSeconds(before), rate};
}

// curl's CPU time, and its own average download speed over the body.
Figures MeasureCurl(const std::string& url) {
  int out[2];
  if (pipe(out) != 0) return {0, 0};
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    execlp("curl", "curl", "-s", "-o", "/dev/null", "-w", "%{speed_download}", url.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  char speed[64] = {};
  const ssize_t got = read(out[0], speed, sizeof speed - 1);
  close(out[0]);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  const double bytesPerSecond = got > 0 ? std::atof(speed) : 0.0;
  return {CpuSeconds(usage), bytesPerSecond * 0.008};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: download_bench BASE_URL [BYTES] (e.g. http://127.0.0.1:18099)\n");
    return 2;
  }
  const long long bytes = argc == 3 ? std::atoll(argv[2]) : kGiB;
  if (bytes <= 0) return 2;
  const std::string url = std::string(argv[1]) + "/bytes/" + std::to_string(bytes);
  Figures ours = MeasureReadUrl(url);
  Figures curl = MeasureCurl(url);
  const double perGiB = static_cast<double>(kGiB) / static_cast<double>(bytes);
  ours.cpuSeconds *= perGiB;
  curl.cpuSeconds *= perGiB;
  std::printf("%lld bytes from %s\n", bytes, argv[1]);
  std::printf("  ReadURL  %8.3f CPU s/GiB  %12.0f kbit/s\n", ours.cpuSeconds,
              ours.kilobitsPerSecond);
  std::printf("  curl     %8.3f CPU s/GiB  %12.0f kbit/s\n", curl.cpuSeconds,
              curl.kilobitsPerSecond);
  if (curl.cpuSeconds > 0 && curl.kilobitsPerSecond > 0) {
    std::printf("  ratio    %8.2fx CPU       %12.3f rate\n", ours.cpuSeconds / curl.cpuSeconds,
                ours.kilobitsPerSecond / curl.kilobitsPerSecond);
  }
  return 0;
}
